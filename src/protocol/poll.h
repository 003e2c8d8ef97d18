#pragma once

#include "protocol/acceptorlink.h"
#include "protocol/runstate.h"

#include <chrono>
#include <optional>

namespace kora {

// The longest the poll waits for a reply.
inline constexpr std::chrono::milliseconds ReplyTimeout{400};
inline constexpr int ReplyLength = 11;
// Polls in a row whose wait brings only frames with the other
// acknowledgement bit before the acceptor is taken not to echo it.
inline constexpr int BitEchoLimit = 5;

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

// One complete exchange: read the frames already waiting, send the host
// message, wait at most ReplyTimeout for this poll's answer (the first good
// frame that echoes the message's acknowledgement bit), decode every good
// frame read in order of arrival, advance the acknowledgement bit. A wait
// that has passed over eleven bytes of no good frame and holds nothing that
// may begin one ends there: its reply came spoiled. The frames read are left
// in FramesRead. NRFlag tells how this poll was answered: 0 by
// a good frame, 1 not at all, 2 by eleven or more bytes that held no good
// frame. Link trouble shows only there; no failure escapes. With HoldBit
// set, the message repeats the last one's acknowledgement bit.
void PollAcceptor(RunState& s, AcceptorLink& link, int escrowRequest, PollTiming* timing = nullptr);

// At a stop: the whole frames among the bytes the last poll's wait left and
// those waiting on the line, decoded in order of arrival and left in
// FramesRead, as a poll's first step reads them; no host message goes out,
// so the acknowledgement bit stays as it is.
void ReadFramesLeft(RunState& s, AcceptorLink& link);

} // namespace kora
