#pragma once

#include "protocol/runstate.h"

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

} // namespace kora
