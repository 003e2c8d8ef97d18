#pragma once

#include "protocol/acceptorlink.h"
#include "protocol/runstate.h"

#include <chrono>
#include <optional>

namespace kora {

// The longest the poll waits for a reply.
inline constexpr std::chrono::milliseconds ReplyTimeout{400};
inline constexpr int ReplyLength = 11;
// A reply's bytes follow each other about a millisecond apart at 9600 baud;
// a line this long without a byte has finished sending.
inline constexpr std::chrono::milliseconds LineQuiet{5};

// When a poll sent its host message, when its reply was complete (the
// eleventh byte taken in; unset when nothing was) and when it ended: what a
// log or a statistic needs beyond the run state.
struct PollTiming
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point sent{};
    std::optional<Clock::time_point> replied;
    Clock::time_point ended{};
};

// Flips Toggle between 0 and 1; any other value is left alone.
void ToggleAck(RunState& s);

// One complete exchange: drop whatever is already waiting, send the host
// message, wait at most ReplyTimeout for the reply, check its frame and
// checksum, decode it, advance the acknowledgement bit. NRFlag tells what this
// poll took in: 0 a good reply, 1 none, 2 eleven bytes that are no good
// reply. Link trouble shows only there; no failure escapes.
void PollAcceptor(RunState& s, AcceptorLink& link, int escrowRequest, PollTiming* timing = nullptr);

} // namespace kora
