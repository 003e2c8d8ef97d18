#pragma once

#include "protocol/runstate.h"

#include <QString>
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

// The counter's text after one more bill: plain decimal, no leading blank.
// A count already at the top of the range stays there.
QString CountOneMore(const QString& text);

// Shows the poll just made: ages both histories by a row, writes the host
// and reply rows (or the link message of a failed poll), shows the last
// credited bill, adds one to the counter of each bill the poll counted (in
// the stacking colour), and sets the fifteen indicators. Writes nothing in
// the run state.
void UpdateMonitor(const RunState& s, Kora232& w, std::span<const int> counted = {});

// Blanks every row of both histories; nothing else changes.
void ClearTraffic(Kora232& w);

// Hides the bill labels and the fifteen indicators and blanks the counters;
// the bill labels keep their colours and the histories stay.
void ResetMonitor(Kora232& w);

} // namespace kora
