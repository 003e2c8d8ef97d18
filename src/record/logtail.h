#pragma once

#include "protocol/runstate.h"

#include <cstddef>
#include <istream>
#include <optional>
#include <string>

namespace kora {

// What a poller restarting on the same device needs from its own log to
// carry on where the last process left off.
struct LogContinuation
{
    // The last good frame read, in order of arrival: in a poll row the frames
    // before the host message, those with the other bit, then a good row's answer.
    ReplyFrame lastFrame;
    // Bit 0 of the last poll's host byte 3, flipped when that poll was answered.
    Byte nextBit = 0;
    // The log said the acceptor does not echo the acknowledgement bit.
    bool ignoresBit = false;
    // The escrow mode in force when the last frame's stacked report first
    // came (the first of the run of stacked frames of one credit that ends
    // with it); for any other frame, the mode when it was read.
    int escrowAtReport = 1;
    // For the start row: "frame 02 0B 21 10 10 18 4B 01 03 03 7B, bit 1",
    // and ", the acceptor does not echo the bit" when it does not.
    std::string text;
};

// How much of the end of a log is read: some ten thousand rows, milliseconds
// of reading, whatever the size of the log.
inline constexpr std::size_t LogTailBytes = 4 * 1024 * 1024;

// Reads the last `bound` bytes of the session log at `path`, its columns
// from its first row (the header, or a row in the log's own order), passing
// over a torn last row. None, with the reason in `why`, when the file cannot
// be read, holds no good frame in its tail, or the last start row in its
// tail names a device other than `device` (with no start row there, the
// device is taken to be the same).
std::optional<LogContinuation> ContinuationFromLog(const std::string& path,
                                                   const std::string& device, std::string* why,
                                                   std::size_t bound = LogTailBytes);
// The same from a stream that can seek.
std::optional<LogContinuation> ContinuationFromStream(std::istream& in, const std::string& device,
                                                      std::string* why,
                                                      std::size_t bound = LogTailBytes);

} // namespace kora
