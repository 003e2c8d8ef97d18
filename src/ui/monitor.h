#pragma once

#include "protocol/runstate.h"
#include "record/logrows.h"

#include <QString>
#include <array>
#include <cstdint>
#include <span>

namespace kora {

class Kora232;

// Two upper-case hexadecimal digits and one blank per byte, in order.
QString HexRow(std::span<const Byte> bytes);

// The count a bill counter's text stands for: blanks around it removed, then
// the leading decimal number with an optional sign; an empty text or one
// that does not begin with a number reads as 0. The operator can type
// anything into the box, so a number beyond the range of a 64-bit count
// reads as the nearest end of that range instead of wrapping.
std::int64_t ReadCount(const QString& text);

// A count typed into a counter, read as ReadCount reads it and held within
// 0 to MostTypedCount: there is no negative count of bills.
long TypedCount(const QString& text);

// Bill n's counter shows `count`, plain decimal.
void ShowCount(Kora232& w, int bill, long count);

// Shows the poll just made: ages both histories by a row, writes the host
// and reply rows (or the link message of a failed poll), shows the last
// credited bill, shows each bill the poll counted in the stacking colour
// with its count from `counts` (the engine's, whatever the counter held),
// and sets the fifteen indicators. Writes nothing in the run state.
void UpdateMonitor(const RunState& s, Kora232& w, std::span<const int> counted = {},
                   const std::array<long, 7>& counts = {});

// Blanks every row of both histories; nothing else changes.
void ClearTraffic(Kora232& w);

// Hides the bill labels and the fifteen indicators and blanks the counters;
// the bill labels keep their colours and the histories stay.
void ResetMonitor(Kora232& w);

} // namespace kora
