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

// The adapter a poller polls: what its start row says of it.
struct LogOwner
{
    std::string device;   // "/dev/ttyUSB0", as the start row names it
    std::string identity; // "usb 0403:6001 serial A10K2" (SerialPort::identityFor)
};

// Why a tail is not continued when it holds no frame to go on from: a new
// log, or one whose runs read none. Any other reason is worth telling.
inline constexpr const char* NoFrameInTail = "the end of the log holds no good frame";

// Reads the last `bound` bytes of the session log at `path`, its columns
// from its first row (the header, or a row in the log's own order), passing
// over a torn last row. The last start row, in the tail or, with none
// there, found by reading further back, must be of `owner`: the same
// identity, or for a row that names none (1.4.0) the same device. None, with
// the reason in `why`, when the file cannot be read, holds no good frame in
// its tail or no start row at all, has a row that does not read back after
// the last good frame (that row may have moved the acceptor on), or its last
// start row is of another adapter.
std::optional<LogContinuation> ContinuationFromLog(const std::string& path, const LogOwner& owner,
                                                   std::string* why,
                                                   std::size_t bound = LogTailBytes);
// The same from a stream that can seek.
std::optional<LogContinuation> ContinuationFromStream(std::istream& in, const LogOwner& owner,
                                                      std::string* why,
                                                      std::size_t bound = LogTailBytes);
// Where a restart on the log at `path` continues from: that file or, when it
// holds no good frame at all (a rotation while no poller ran left a new file
// there), the newest file the rotation left beside it, `path`.1, which
// delaycompress keeps plain; its name then goes in `readFrom`.
std::optional<LogContinuation> ContinuationForRestart(const std::string& path,
                                                      const LogOwner& owner, std::string* why,
                                                      std::string* readFrom,
                                                      std::size_t bound = LogTailBytes);
// Looking back for the start row reads this much at a time.
inline constexpr std::size_t StartSearchBlock = 1024 * 1024;

} // namespace kora
