#include "record/sessionanalysis.h"

#include "record/pollreport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace kora {

namespace {

const std::string Before = "frame before the host message ";
const std::string OtherBit = "frame with the other bit ";
const std::string Lost = "device lost: ";
const std::string Back = "reconnected";
const std::string Change = "escrowed bills now ";
constexpr auto LongFailure = std::chrono::seconds(2);

bool startsWith(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0;
}

// The parts of a row's events. Parts are joined with ", ", which some parts
// hold too ("bill 3 stacked, counted, count 1, total 1"), so a piece that
// does not begin as a part begins belongs to the part before it.
std::vector<std::string> eventParts(const std::string& events)
{
    static const char* const Beginnings[] = {"frame before the host message ",
                                             "frame with the other bit ",
                                             "bill ",
                                             "a bill ",
                                             "stacked with no credit",
                                             "the acceptor does not echo",
                                             "stack order sent",
                                             "return order sent",
                                             "device lost: ",
                                             "reconnected",
                                             "escrowed bills now "};
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= events.size() && !events.empty()) {
        std::size_t comma = events.find(", ", from);
        const std::string piece = events.substr(from, comma - from);
        const bool begins = std::any_of(std::begin(Beginnings), std::end(Beginnings),
                                        [&](const char* b) { return startsWith(piece, b); });
        if (begins || parts.empty())
            parts.push_back(piece);
        else
            parts.back() += ", " + piece;
        if (comma == std::string::npos)
            break;
        from = comma + 2;
    }
    return parts;
}

// A bill's cycle in words says "after 3.2 s"; a verdict never does.
bool isCycleText(const std::string& part)
{
    return IsCycleText(part);
}

LinkStats::Clock::time_point linkTime(LogClock::time_point t)
{
    return LinkStats::Clock::time_point(
        std::chrono::duration_cast<LinkStats::Clock::duration>(t.time_since_epoch()));
}

std::string failureText(std::chrono::milliseconds lasted, long polls, long checksum)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "no good reply for %.1f s: %ld failed poll%s, %ld with no reply, %ld checksum "
                  "error%s",
                  static_cast<double>(lasted.count()) / 1000.0, polls, polls == 1 ? "" : "s",
                  polls - checksum, checksum, checksum == 1 ? "" : "s");
    return text;
}

} // namespace

std::string SessionSummary::port() const
{
    std::smatch m;
    return std::regex_search(started, m, std::regex(R"(port (\d+) \()")) ? m[1].str() : "";
}

std::string SessionSummary::device() const
{
    std::smatch m;
    return std::regex_search(started, m, std::regex(R"(port \d+ \((.*?)\)(, |$))")) ? m[1].str()
                                                                                    : "";
}

std::string SessionSummary::writtenBy() const
{
    std::smatch m;
    return std::regex_search(started, m, std::regex(R"((kora232(-headless)? [0-9][0-9.]*)$)"))
               ? m[1].str()
               : "";
}

std::string SessionSummary::settings() const
{
    std::string rest = started;
    std::smatch m;
    if (std::regex_search(rest, m, std::regex(R"(port \d+ \(.*?\)(, |$))")))
        rest = m.prefix().str() + m.suffix().str();
    const std::string by = writtenBy();
    if (!by.empty() && rest.size() >= by.size() + 2)
        rest.resize(rest.size() - by.size() - 2);
    return rest;
}

long SessionSummary::countedTotal() const
{
    long total = 0;
    for (const long n : counted)
        total += n;
    return total;
}

std::string SessionSummary::badRowsText() const
{
    if (badRows == 0)
        return {};
    std::string text = std::to_string(badRows) + " torn or malformed row" +
                       (badRows == 1 ? "" : "s") + " skipped: line" + (badRows == 1 ? " " : "s ");
    for (std::size_t i = 0; i < badLines.size(); ++i)
        text += (i ? ", " : "") + std::to_string(badLines[i]);
    if (badRows > badLines.size())
        text += " and " + std::to_string(badRows - badLines.size()) + " more";
    return text;
}

SessionAnalysis::SessionAnalysis(std::function<void(const SessionSummary&)> onSession)
    : onSession_(std::move(onSession))
{}

void SessionAnalysis::add(const LogRow& row)
{
    const bool change = row.kind == "start" && startsWith(row.events, Change);
    if (row.kind == "start" && !(change && session_)) {
        start(row);
        return;
    }
    if (!session_) {
        ++outside_;
        return;
    }
    session_->last = row.time;
    if (change)
        note(row.time, row.events);
    else if (row.kind == "poll")
        poll(row);
    else
        stop(row);
}

void SessionAnalysis::addBad(std::size_t line)
{
    if (!session_) {
        ++outside_;
        return;
    }
    if (session_->badLines.size() < SessionSummary::BadLinesNamed)
        session_->badLines.push_back(line);
    ++session_->badRows;
}

void SessionAnalysis::finish()
{
    if (session_)
        end(session_->last);
}

void SessionAnalysis::start(const LogRow& row)
{
    finish();
    session_.emplace();
    session_->number = ++sessions_;
    session_->started = row.events;
    session_->first = session_->last = row.time;
    session_->link.start(linkTime(row.time));
    cycles_ = {};
}

void SessionAnalysis::stop(const LogRow& row)
{
    session_->stopped = row.events;
    end(row.time);
}

void SessionAnalysis::end(LogClock::time_point at)
{
    lineBack(at);
    // A run of failed polls is told at its end, dated from its start.
    std::stable_sort(session_->anomalies.begin(), session_->anomalies.end(),
                     [](const Anomaly& a, const Anomaly& b) { return a.time < b.time; });
    if (const std::optional<BillCycle> open = cycles_.stop(at))
        session_->bills.add(*open);
    session_->bills.setEvents(cycles_.events());
    session_->link.stop(linkTime(at));
    if (onSession_)
        onSession_(*session_);
    session_.reset();
}

void SessionAnalysis::poll(const LogRow& row)
{
    const int outcome = row.outcome == "good" ? 0 : row.outcome == "checksum" ? 2 : 1;
    std::optional<FrameCount> answer;
    for (const std::string& part : eventParts(row.events)) {
        if (startsWith(part, Lost)) {
            session_->link.deviceLost(linkTime(row.time));
            note(row.time, part);
        } else if (part == Back) {
            session_->link.addReconnect(linkTime(row.time));
            note(row.time, part);
        } else if (startsWith(part, Before) || startsWith(part, OtherBit)) {
            const std::size_t hex = startsWith(part, Before) ? Before.size() : OtherBit.size();
            const auto bytes = ReadHexBytes(part.substr(hex, 32), 11);
            const auto count = ReadFrameDid(part.size() > hex + 34 ? part.substr(hex + 34) : "");
            if (bytes && count)
                readFrame(*bytes, *count, row.time);
        } else if (!isCycleText(part)) {
            answer = ReadFrameDid(part);
        }
    }
    std::optional<LinkStats::Clock::duration> replyTime;
    if (!row.replyMs.empty())
        replyTime = std::chrono::round<LinkStats::Clock::duration>(
            std::chrono::duration<double, std::milli>(std::strtod(row.replyMs.c_str(), nullptr)));
    session_->link.addPoll(outcome, replyTime, linkTime(row.time));
    if (outcome != 0) {
        failedPoll(row);
        return;
    }
    lineBack(row.time);
    const bool repeat = row.replyBytes == lastFrame_;
    readFrame(row.replyBytes, answer.value_or(FrameCount{CountReason::NotStacked, 0, repeat}),
              row.time);
}

void SessionAnalysis::readFrame(const std::vector<unsigned char>& bytes, const FrameCount& count,
                                LogClock::time_point at)
{
    lastFrame_ = bytes;
    ReplyFrame frame;
    for (int i = 1; i <= 11; ++i)
        frame(i) = bytes[static_cast<std::size_t>(i - 1)];
    if (count.counted())
        ++session_->counted[static_cast<std::size_t>(count.bill - 1)];
    else if (count.reason != CountReason::NotStacked && count.reason != CountReason::Repeat)
        note(at, (count.bill ? "bill " + std::to_string(count.bill) : std::string("a bill")) +
                     " stacked, not counted: " + ReasonName(count.reason));
    if (const std::optional<BillCycle> ended = cycles_.read(frame, count, at)) {
        session_->bills.add(*ended);
        if (ended->outcome != BillOutcome::Stacked && ended->outcome != BillOutcome::Gone)
            note(at, ended->text());
    }
}

void SessionAnalysis::failedPoll(const LogRow& row)
{
    if (!failingSince_)
        failingSince_ = row.time, failed_ = 0, failedChecksum_ = 0;
    ++failed_;
    failedChecksum_ += row.outcome == "checksum" ? 1 : 0;
}

// A good reply, or the session's end, closes a run of failed polls; a long
// one is an anomaly, dated from its first failed poll.
void SessionAnalysis::lineBack(LogClock::time_point at)
{
    if (!failingSince_)
        return;
    const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(at - *failingSince_);
    if (lasted > LongFailure)
        note(*failingSince_, failureText(lasted, failed_, failedChecksum_));
    failingSince_.reset();
}

void SessionAnalysis::note(LogClock::time_point at, const std::string& what)
{
    if (session_->anomalies.size() < SessionSummary::AnomaliesKept)
        session_->anomalies.push_back({at, what});
    else
        ++session_->anomaliesLeftOut;
}

std::optional<std::string> AnalyseLog(std::istream& in,
                                      const std::function<void(const SessionSummary&)>& each,
                                      std::size_t* outside)
{
    LogReader reader(in);
    if (!reader.notALog().empty())
        return reader.notALog();
    SessionAnalysis analysis(each);
    std::optional<LogRow> row;
    for (std::size_t line = 0; reader.next(row, line);) {
        if (row)
            analysis.add(*row);
        else
            analysis.addBad(line);
    }
    analysis.finish();
    if (outside)
        *outside = analysis.outside();
    return std::nullopt;
}

} // namespace kora
