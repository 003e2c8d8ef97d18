#pragma once

#include "protocol/runstate.h"

#include <array>

namespace kora {

// The fifteen status flags, listed once: the run-state member, its name as
// text (for logs and scripts), where the reply carries it and the caption of
// its indicator. Decoding, ClearStatus and the indicators all walk this
// table, in this order, which is the order the indicators are set in.
struct StatusFlag
{
    Byte RunState::*member;
    const char* name;
    int replyByte; // 4 state, 5 events and cassette, 6 power and faults
    int bit;       // 0 is the least significant
    const char* caption;
};

inline constexpr std::array<StatusFlag, 15> StatusFlags{{
    {&RunState::Idling, "Idling", 4, 0, "IDLING"},
    {&RunState::Accepting, "Accepting", 4, 1, "ACCEPTING"},
    {&RunState::Escrowed, "Escrowed", 4, 2, "ESCROWED"},
    {&RunState::Stacking, "Stacking", 4, 3, "STACKING"},
    {&RunState::Stacked, "Stacked", 4, 4, "STACKED"},
    {&RunState::Returning, "Returning", 4, 5, "RETURNING"},
    {&RunState::Returned, "Returned", 4, 6, "RETURNED"},
    {&RunState::Cheated, "Cheated", 5, 0, "CHEATED"},
    {&RunState::Rejected, "Rejected", 5, 1, "BILL REJECTED"},
    {&RunState::Jammed, "Jammed", 5, 2, "BILL JAMMED"},
    {&RunState::Full, "Full", 5, 3, "STACKER FULL"},
    {&RunState::Cassette, "Cassette", 5, 4, "BILL CASSETTE PRESENT"},
    {&RunState::Power, "Power", 6, 0, "POWERING UP"},
    {&RunState::Invalid, "Invalid", 6, 1, "INVALID COMMAND"},
    {&RunState::Failure, "Failure", 6, 2, "FAILURE"},
}};

} // namespace kora
