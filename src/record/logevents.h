#pragma once

#include "protocol/counting.h"
#include "protocol/runstate.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// Eleven bytes in hex, as the log writes a frame, that make a good frame
// (framed, its checksum right); none for anything else.
std::optional<ReplyFrame> ReadGoodFrame(std::string_view hex);

// A good frame a poll row names outside its answer, and what it did to the
// counts. Its `repeat` is what the words say; a reader judges a repeat by the
// bytes, against the frame read before, as the live session did.
struct LoggedFrame
{
    ReplyFrame bytes;
    FrameCount count;
};

// What the events of a poll row say, read back once for every reader.
struct PollParts
{
    // Waiting before the host message, in order; in a row of kind read, the
    // frames a stop read, with no host message after them.
    std::vector<LoggedFrame> early;
    std::vector<LoggedFrame> otherBit;      // read in the wait with the other bit, in order
    std::optional<FrameCount> answer;       // the answer's verdict, when it reported a stacked bill
    std::vector<std::string> link;          // "device lost: ..." and "reconnected", in order
    bool bitEchoMissing = false;            // the acceptor found not to echo the bit
    std::chrono::milliseconds clockStep{0}; // the wall clock set since the poll before

    // The device went away in this poll and was not back by its end.
    bool endsLost() const;
    bool reconnected() const;
};

// "wall clock set by -3600123 ms": a step of the wall clock a poll found.
std::string ClockStepText(std::chrono::milliseconds step);

// None when a part that names a frame or a verdict does not read back: a
// frame that is not eleven good bytes, a verdict it never writes, or one that
// counts without naming a bill 1-7.
std::optional<PollParts> ReadPollEvents(std::string_view events);

} // namespace kora
