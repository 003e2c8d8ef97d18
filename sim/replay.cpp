#include "replay.h"

#include "acceptormodel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kora::sim {

namespace {

using std::chrono::milliseconds;

const std::string kBefore = "frame before the host message ";
const std::string kOtherBit = "frame with the other bit ";
const std::string kLost = "device lost: ";
const std::string kReconnected = "reconnected";

// Where a comma-separated part of `events` begins with `part`; npos if none.
std::size_t partAt(const std::string& events, const std::string& part)
{
    for (std::size_t at = 0; (at = events.find(part, at)) != std::string::npos; ++at)
        if (at == 0 || (at >= 2 && events.compare(at - 2, 2, ", ") == 0))
            return at;
    return std::string::npos;
}

// A device lost during this poll and not back by its end.
bool lostIn(const LogRow& row)
{
    const std::size_t lost = partAt(row.events, kLost);
    const std::size_t back = partAt(row.events, kReconnected);
    return lost != std::string::npos && (back == std::string::npos || back < lost);
}

std::uint8_t recordedAck(const LogRow& row)
{
    // Well-formed rows only get here: eight bytes in hex, blanks anywhere between.
    std::string digits;
    for (const char c : row.host)
        if (c != ' ')
            digits += c;
    return static_cast<std::uint8_t>(std::stoi(digits.substr(4, 2), nullptr, 16) & 1);
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
void appendFrames(std::vector<std::uint8_t>& out, const std::vector<ReplyBytes>& frames,
                  std::uint8_t flip)
{
    for (const ReplyBytes& f : frames) {
        const ReplyBytes sent = withBit(f, static_cast<std::uint8_t>((f[2] & 1) ^ flip));
        out.insert(out.end(), sent.begin(), sent.end());
    }
}

std::int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

} // namespace

std::optional<std::int64_t> logTimeMs(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, oh = 0, om = 0;
    char sign = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d%n", &y, &mo, &d, &h, &mi,
                    &s, &ms, &sign, &oh, &om, &used) != 10 ||
        static_cast<std::size_t>(used) != text.size() || (sign != '+' && sign != '-'))
        return std::nullopt;
    const std::int64_t offset = (sign == '+' ? 1 : -1) * (oh * 60 + om) * 60'000LL;
    return ((daysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60'000LL + s * 1000LL + ms - offset;
}

std::vector<ReplyBytes> framesIn(const std::string& events, const std::string& kind)
{
    // Eleven bytes as the log writes them: two digits each, blanks between.
    constexpr std::size_t hexLength = kReplySize * 3 - 1;
    std::vector<ReplyBytes> frames;
    for (std::size_t at = 0; (at = events.find(kind, at)) != std::string::npos;) {
        at += kind.size();
        if (const auto frame = parseReplyHex(std::string_view(events).substr(at, hexLength)))
            frames.push_back(*frame);
    }
    return frames;
}

Replay::Replay(const ReplayOptions& options)
    : options_(options), reader_(options.path, options.session)
{}

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
    if (lostIn(row)) {
        step.unplug = outage(row);
        aheadSent_ = false;
        return;
    }
    const auto flip = static_cast<std::uint8_t>(recordedAck(row) ^ ack);
    if (!aheadSent_)
        appendFrames(step.ahead, framesIn(row.events, kBefore), flip);
    aheadSent_ = false;
    appendFrames(step.ahead, framesIn(row.events, kOtherBit), flip);
    if (row.outcome == "good") {
        step.answer = withBit(*parseReplyHex(row.reply), ack);
        if (options_.timing && !row.replyMs.empty())
            step.replyTime = std::chrono::microseconds(
                static_cast<std::int64_t>(std::strtod(row.replyMs.c_str(), nullptr) * 1000.0));
        sendBehind(static_cast<std::uint8_t>(ack ^ 1), step);
    } else if (row.outcome == "checksum") {
        // No good frame came: whatever eleven bytes there were, or a reply
        // whose checksum is wrong.
        step.answer = parseReplyHex(row.reply);
        if (!step.answer) {
            step.answer = buildReply(ack, {state::Idling, event::Cassette});
            (*step.answer)[kReplySize - 1] ^= 0x01;
        }
    }
}

// Frames the next poll read before its host message waited on the line: they
// go out behind this answer, so that the host finds them there too.
void Replay::sendBehind(std::uint8_t nextAck, ReplayStep& step)
{
    ahead_ = reader_.next();
    if (!ahead_ || lostIn(*ahead_))
        return;
    appendFrames(step.behind, framesIn(ahead_->events, kBefore),
                 static_cast<std::uint8_t>(recordedAck(*ahead_) ^ nextAck));
    aheadSent_ = true;
}

// The rows polled while the device was away are passed over; the line stays
// away as long as the recording's did, up to the row that says it was back.
milliseconds Replay::outage(const LogRow& lost)
{
    std::optional<LogRow> last;
    while (auto row = reader_.next()) {
        ++played_;
        last = std::move(row);
        if (partAt(last->events, kReconnected) != std::string::npos) {
            --played_; // played when the host polls it
            ahead_ = last;
            break;
        }
    }
    const auto from = logTimeMs(lost.time);
    const auto to = last ? logTimeMs(last->time) : std::nullopt;
    const milliseconds shortest{100};
    if (!from || !to)
        return milliseconds{1000};
    return std::max(shortest, milliseconds(*to - *from));
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
           current_->poll + ", " + current_->outcome + "), " + left;
}

} // namespace kora::sim
