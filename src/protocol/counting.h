#pragma once

#include "protocol/runstate.h"

#include <chrono>

namespace kora {

// Counting waits until the delay timer has ticked more than this many times
// since the last counted bill, so that a report lasting several polls counts
// once.
inline constexpr Byte CountingGate = 4;

// The bill this poll adds to the count, 0 for none: a stacked bill with its
// credit, reported by a good reply taken in by this poll, once the gate is
// open. Counting closes the gate again (Delay back to 0). A failed poll
// counts nothing: the last good report it leaves in place is not news.
int BillToCount(RunState& s);

// The delay timer runs all the time, from start-up, at this period; Delay
// counts its ticks since the last counted bill.
inline constexpr std::chrono::milliseconds DelayTickPeriod{100};

// One tick of the delay timer: Delay goes up by one and, past 50, falls back
// to 10, so that it never wraps to a closed gate however long no bill comes.
void AdvanceDelay(RunState& s);

} // namespace kora
