#include "replay.h"

#include "acceptormodel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kora::sim {

namespace {

using std::chrono::milliseconds;

std::uint8_t recordedAck(const LogRow& row)
{
    return static_cast<std::uint8_t>(row.hostBytes.at(2) & 1);
}

ReplyBytes replyBytes(const ReplyFrame& frame)
{
    ReplyBytes bytes{};
    std::copy(frame.raw().begin(), frame.raw().end(), bytes.begin());
    return bytes;
}

// The frame with bit 0 of byte 3 as given and its checksum made again.
ReplyBytes withBit(ReplyBytes frame, std::uint8_t bit)
{
    frame[2] = static_cast<std::uint8_t>((frame[2] & ~1) | bit);
    frame[kReplySize - 1] = xorOf(std::span<const std::uint8_t>(frame).subspan(1, 8));
    return frame;
}

// Frames keep their bit's relation to the host message they were read
// around: the same bit as that message, or the other one.
void appendFrames(std::vector<std::uint8_t>& out, const std::vector<LoggedFrame>& frames,
                  std::uint8_t flip)
{
    for (const LoggedFrame& f : frames) {
        const ReplyBytes bytes = replyBytes(f.bytes);
        const ReplyBytes sent = withBit(bytes, static_cast<std::uint8_t>((bytes[2] & 1) ^ flip));
        out.insert(out.end(), sent.begin(), sent.end());
    }
}

std::string seconds(milliseconds wait)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(wait.count()) / 1000.0);
    return text;
}

} // namespace

Replay::Replay(const ReplayOptions& options)
    : options_(options), reader_(options.path, options.session,
                                 [this](const LogRow& row, int session) { seeWaits(row, session); })
{
    if (waits_.lost)
        noteWait(std::chrono::duration_cast<milliseconds>(waits_.lastPoll - waits_.lost->time),
                 waits_.lost->line);
}

// The waits the session will take from its log, seen as the log is first
// read: an outage runs from the row the device went away in to the row that
// says it is back, or to the session's last row.
void Replay::seeWaits(const LogRow& row, int session)
{
    if (options_.session != 0 && session != options_.session)
        return;
    if (session != waits_.session) { // with the last session wanted, a later one begins
        waits_ = Waits{};
        waits_.session = session;
    }
    if (waits_.lastRow && row.time < *waits_.lastRow && waits_.stepsBack++ == 0)
        waits_.stepLine = row.line;
    waits_.lastRow = row.time;
    if (row.kind != "poll")
        return;
    waits_.lastPoll = row.time;
    if (waits_.lost && row.parts.reconnected()) {
        noteWait(std::chrono::duration_cast<milliseconds>(row.time - waits_.lost->time),
                 waits_.lost->line);
        waits_.lost.reset();
    }
    if (!waits_.lost && row.parts.endsLost())
        waits_.lost = row;
    if (options_.timing && row.replyMillis)
        noteWait(milliseconds(static_cast<milliseconds::rep>(std::min(*row.replyMillis, 1e12))),
                 row.line); // a reply time may be of any length: 31 years hold any real one
}

void Replay::noteWait(milliseconds wait, std::size_t line)
{
    if (wait <= LongestWait)
        return;
    ++waits_.cut;
    if (wait > waits_.longest)
        waits_.longest = wait, waits_.line = line;
}

std::string Replay::waitsCut() const
{
    if (waits_.cut == 0)
        return {};
    return "session " + std::to_string(reader_.session()) + ": " + std::to_string(waits_.cut) +
           " wait" + (waits_.cut == 1 ? "" : "s") + " from the log (the longest " +
           seconds(waits_.longest) + ", from line " + std::to_string(waits_.line) + ") cut to " +
           std::to_string(LongestWait.count()) + " s";
}

std::string Replay::clockSteps() const
{
    if (waits_.stepsBack == 0)
        return {};
    const std::size_t n = waits_.stepsBack;
    return "session " + std::to_string(reader_.session()) + ": " + std::to_string(n) + " row" +
           (n == 1 ? "" : "s") + " timed earlier than the one before (from line " +
           std::to_string(waits_.stepLine) +
           "): the wall clock was set back; the rows are played in their order";
}

std::optional<LogRow> Replay::take()
{
    std::optional<LogRow> row = std::move(ahead_);
    ahead_.reset();
    if (!row)
        row = reader_.next();
    return row;
}

std::optional<LogRow> Replay::startAgain(ReplayStep& step)
{
    if (!options_.loop || reader_.polls() == 0)
        return std::nullopt;
    reader_.rewind();
    played_ = 0;
    ++pass_;
    step.notice = "replay: session " + std::to_string(reader_.session()) +
                  " played to its end; again from its start (pass " + std::to_string(pass_) + ")";
    return take();
}

ReplayStep Replay::next(const HostMessage& message)
{
    ReplayStep step;
    if (over_)
        return step;
    std::optional<LogRow> row = take();
    if (!row)
        row = startAgain(step);
    if (!row) {
        over_ = true;
        current_.reset();
        step.notice = "replay: session " + std::to_string(reader_.session()) +
                      " played to its end; the acceptor idles";
        return step;
    }
    step.played = true;
    play(*row, message.ack(), step);
    return step;
}

void Replay::play(const LogRow& row, std::uint8_t ack, ReplayStep& step)
{
    current_ = row;
    ++played_;
    tally(row);
    if (row.parts.endsLost()) {
        step.unplug = outage(row);
        aheadSent_ = false;
        return;
    }
    const auto flip = static_cast<std::uint8_t>(recordedAck(row) ^ ack);
    if (!aheadSent_)
        appendFrames(step.ahead, row.parts.early, flip);
    aheadSent_ = false;
    appendFrames(step.ahead, row.parts.otherBit, flip);
    if (row.outcome == "good") {
        ReplyBytes answer{};
        std::copy(row.replyBytes.begin(), row.replyBytes.end(), answer.begin());
        step.answer = withBit(answer, ack);
        if (options_.timing && row.replyMillis)
            step.replyTime = std::chrono::microseconds(static_cast<std::int64_t>(
                std::min(*row.replyMillis * 1000.0,
                         double(std::chrono::microseconds(LongestWait).count()))));
        sendBehind(static_cast<std::uint8_t>(ack ^ 1), step);
    } else if (row.outcome == "checksum") {
        // No good frame came: whatever eleven bytes there were, or a reply
        // whose checksum is wrong.
        if (row.replyBytes.size() == kReplySize) {
            step.answer.emplace();
            std::copy(row.replyBytes.begin(), row.replyBytes.end(), step.answer->begin());
        } else {
            step.answer = buildReply(ack, {state::Idling, event::Cassette});
            (*step.answer)[kReplySize - 1] ^= 0x01;
        }
    }
}

// Every verdict of the row that counted a bill: its answer's and those of the
// frames read outside it, wherever they go on the line.
void Replay::tally(const LogRow& row)
{
    const auto add = [this](const FrameCount& count) {
        if (count.counted())
            stacked_.add(count.bill);
    };
    for (const LoggedFrame& frame : row.parts.early)
        add(frame.count);
    for (const LoggedFrame& frame : row.parts.otherBit)
        add(frame.count);
    if (row.parts.answer)
        add(*row.parts.answer);
}

// Frames the next poll read before its host message waited on the line: they
// go out behind this answer, so that the host finds them there too.
void Replay::sendBehind(std::uint8_t nextAck, ReplayStep& step)
{
    ahead_ = reader_.next();
    if (!ahead_ || ahead_->parts.endsLost())
        return;
    appendFrames(step.behind, ahead_->parts.early,
                 static_cast<std::uint8_t>(recordedAck(*ahead_) ^ nextAck));
    aheadSent_ = true;
}

// The rows polled while the device was away are passed over; the line stays
// away as long as the recording's did, up to the row that says it was back,
// and never longer than LongestWait.
milliseconds Replay::outage(const LogRow& lost)
{
    std::optional<LogRow> last;
    while (auto row = reader_.next()) {
        ++played_;
        last = std::move(row);
        if (last->parts.reconnected()) {
            --played_; // played when the host polls it
            ahead_ = last;
            break;
        }
    }
    if (!last)
        return milliseconds{1000};
    const auto away = std::chrono::duration_cast<milliseconds>(last->time - lost.time);
    return std::clamp<milliseconds>(away, milliseconds{100}, LongestWait);
}

std::string Replay::progress() const
{
    const std::string session = "session " + std::to_string(reader_.session());
    if (over_)
        return session + " played to its end";
    const std::string pass = pass_ > 1 ? " pass " + std::to_string(pass_) + "," : "";
    const std::string left = std::to_string(reader_.polls() - std::min(played_, reader_.polls())) +
                             " of " + std::to_string(reader_.polls()) + " rows left";
    if (!current_)
        return session + "," + pass + " " + left;
    return session + "," + pass + " line " + std::to_string(current_->line) + " (poll " +
           std::to_string(current_->poll) + ", " + current_->outcome + "), " + left;
}

} // namespace kora::sim
