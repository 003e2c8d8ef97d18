#pragma once

#include "acceptormodel.h"
#include "framing.h"
#include "record/logsessions.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kora::sim {

using kora::LogRow;

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
// read as they are needed, by the program's own log reader, so that the
// replay and the report number sessions alike and skip the same rows.
class Replay
{
public:
    // The longest wait taken from a log: an outage, or a reply's delay.
    static constexpr std::chrono::seconds LongestWait{60};

    // Throws std::invalid_argument, with a message for the operator, for a
    // file that is no session log or a session it does not hold.
    explicit Replay(const ReplayOptions& options);

    ReplayStep next(const HostMessage& message);
    // "session 2, line 57 (poll 55, good), 230 of 566 rows left"
    std::string progress() const;
    // The torn or malformed rows of the session, in one line; empty for none.
    std::string badRows() const { return reader_.badRowsText(); }
    // The waits of the session cut to LongestWait, in one line; empty for none.
    std::string waitsCut() const;
    // The rows of the session timed earlier than the one before (the wall
    // clock set back), in one line; empty for none.
    std::string clockSteps() const;
    // The bills stacked in the rows played so far, each pass anew: one for
    // each stacked report the recording counted. A replayed acceptor has no
    // cassette of its own, and the recording's verdicts are the one account
    // of what it stacked that the host under test does not make itself:
    // judging the frames served by the counting rule again would agree with
    // any host that runs the same rule, right or wrong.
    const Tally& stacked() const { return stacked_; }

private:
    struct Waits
    {
        int session = 0;
        std::optional<LogRow> lost; // the row the device went away in
        std::chrono::system_clock::time_point lastPoll{};
        std::chrono::milliseconds longest{0};
        std::size_t line = 0, cut = 0;
        std::optional<std::chrono::system_clock::time_point> lastRow;
        std::size_t stepsBack = 0, stepLine = 0; // rows timed before the one before
    };
    void seeWaits(const LogRow& row, int session);
    void noteWait(std::chrono::milliseconds wait, std::size_t line);
    std::optional<LogRow> take();
    std::optional<LogRow> startAgain(ReplayStep& step);
    void play(const LogRow& row, std::uint8_t ack, ReplayStep& step);
    void sendBehind(std::uint8_t nextAck, ReplayStep& step);
    void tally(const LogRow& row);
    std::chrono::milliseconds outage(const LogRow& lost);

    ReplayOptions options_;
    Waits waits_;
    kora::LogSessionFile reader_;
    std::optional<LogRow> ahead_; // read but not played yet
    bool aheadSent_ = false;      // its waiting frames went behind the answer before it
    std::optional<LogRow> current_;
    std::size_t played_ = 0; // rows of this pass, skipped ones included
    int pass_ = 1;
    bool over_ = false;
    Tally stacked_;
};

} // namespace kora::sim
