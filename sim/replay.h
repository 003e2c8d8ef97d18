#pragma once

#include "framing.h"
#include "sessionlogreader.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kora::sim {

struct ReplayOptions
{
    std::string path; // a session log the host program wrote
    int session = 0;  // from 1 in file order; 0 for the last
    bool loop = false;
    bool timing = false; // keep each reply's recorded delay
};

// What the line does for one host message while a session is replayed.
struct ReplayStep
{
    bool played = false; // false once the session is over: the acceptor answers for itself
    // Frames the recording read outside their poll's answer, in their order:
    // those waiting before the host message and those with the other bit.
    std::vector<std::uint8_t> ahead;
    // The answer, or the spoiled bytes a checksum row recorded; none: silence.
    std::optional<ReplyBytes> answer;
    // Frames the next poll found waiting, sent right behind this answer.
    std::vector<std::uint8_t> behind;
    // From the host message to the answer's last byte, with --replay-timing.
    std::optional<std::chrono::microseconds> replyTime;
    // The device went away here: the line goes for this long, nothing is sent.
    std::optional<std::chrono::milliseconds> unplug;
    std::string notice; // for the operator: the session ended, or starts again
};

// Plays one session of a session log poll by poll: each host message gets
// what the next poll row recorded, made to answer this message. Rows are
// read as they are needed.
class Replay
{
public:
    // Throws std::invalid_argument, with a message for the operator, for a
    // file that is no session log or a session it does not hold.
    explicit Replay(const ReplayOptions& options);

    ReplayStep next(const HostMessage& message);
    // "session 2, line 57 (poll 55, good), 230 of 566 rows left"
    std::string progress() const;
    // The torn or malformed rows of the session, in one line; empty for none.
    std::string badRows() const { return reader_.badRows(); }

private:
    std::optional<LogRow> take();
    std::optional<LogRow> startAgain(ReplayStep& step);
    void play(const LogRow& row, std::uint8_t ack, ReplayStep& step);
    void sendBehind(std::uint8_t nextAck, ReplayStep& step);
    std::chrono::milliseconds outage(const LogRow& lost);

    ReplayOptions options_;
    SessionLogReader reader_;
    std::optional<LogRow> ahead_; // read but not played yet
    bool aheadSent_ = false;      // its waiting frames went behind the answer before it
    std::optional<LogRow> current_;
    std::size_t played_ = 0; // rows of this pass, skipped ones included
    int pass_ = 1;
    bool over_ = false;
};

// Milliseconds since the epoch of a log time, 2026-12-07T16:30:01.123+01:00.
std::optional<std::int64_t> logTimeMs(const std::string& text);

// Replies the log names in its events, e.g. "frame before the host message
// 02 0B ...: read": `kind` is the text before the bytes.
std::vector<ReplyBytes> framesIn(const std::string& events, const std::string& kind);

} // namespace kora::sim
