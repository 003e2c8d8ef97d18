#include "record/sessionanalysis.h"

#include "record/loginput.h"
#include "record/pollreport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <utility>

namespace kora {

namespace {

constexpr auto LongFailure = std::chrono::seconds(2);
// An anomaly's words come from the log; a hostile one is cut to this.
constexpr std::size_t LongestAnomaly = 300;

// Cut on a character's first byte, so that UTF-8 stays whole.
std::string shortened(const std::string& text)
{
    if (text.size() <= LongestAnomaly)
        return text;
    std::size_t end = LongestAnomaly;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end) + "...";
}

// Sums that no log, however long, can carry past what a long holds.
long boundedSum(long a, long b)
{
    constexpr long Most = std::numeric_limits<long>::max() / 2;
    return std::clamp(a, -Most, Most) + std::clamp(b, -Most, Most);
}

// "3600.1 s", the length of a step either way.
std::string secondsText(std::chrono::milliseconds by)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s", std::abs(static_cast<double>(by.count())) / 1000.0);
    return text;
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

// Every row the reader reads, a torn or malformed one by its line.
void AddRows(LogReader& reader, SessionAnalysis& analysis)
{
    std::optional<LogRow> row;
    for (std::size_t line = 0; reader.next(row, line);) {
        if (row)
            analysis.add(*row);
        else
            analysis.addBad(line);
    }
}

} // namespace

long SessionSummary::countedTotal() const
{
    long total = 0;
    for (const long n : counted)
        total += n;
    return total;
}

BillCounts SessionSummary::countersExpected() const
{
    BillCounts expected{};
    for (std::size_t n = 0; n < expected.size(); ++n)
        expected[n] = boundedSum(counted[n], adjusted[n]);
    return expected;
}

std::string SessionSummary::badRowsText() const
{
    return BadRowsText(badRows, badLines);
}

SessionAnalysis::SessionAnalysis(std::function<void(const SessionSummary&)> onSession)
    : onSession_(std::move(onSession))
{}

void SessionAnalysis::add(const LogRow& row)
{
    if (failedOpen_)
        failedStarts_.back().until = row.time;
    failedOpen_ = false;
    const LogSessions::Place place = sessions_.place(row);
    if (row.kind == "failed") {
        if (failedStarts_.size() < FailedStart::Kept) {
            failedStarts_.push_back({row.time, row.time, row.events});
            failedOpen_ = true;
        } else {
            ++failedStartsLeftOut_;
        }
        return;
    }
    if (place.session == 0) {
        ++outside_;
        return;
    }
    if (place.begins)
        begin(row, place);
    else
        clockStep(row);
    if (std::exchange(fileChanged_, false))
        session_->logs.push_back(file_);
    session_->last = row.time;
    if (place.startRow || place.joins)
        return;
    if (row.kind == "start") // a setting changed mid-run
        note(row.time, row.events);
    else if (row.kind == "poll")
        poll(row);
    else if (row.kind == "read")
        readAtStop(row);
    else if (row.adjustment)
        adjust(*row.adjustment);
    else if (row.kind != "plan") // a bench test's, judged by its certificate
        stop(row);
}

void SessionAnalysis::addBad(std::size_t line)
{
    if (!sessions_.open()) {
        ++outside_;
        return;
    }
    if (session_->badLines.size() < SessionSummary::BadLinesNamed)
        session_->badLines.push_back(line);
    ++session_->badRows;
}

void SessionAnalysis::nextFile(const std::string& name)
{
    sessions_.nextFile();
    file_ = name;
    fileChanged_ = true;
}

void SessionAnalysis::finish()
{
    if (session_)
        end(session_->last);
    handOver(false);
}

void SessionAnalysis::begin(const LogRow& row, const LogSessions::Place& place)
{
    if (session_)
        end(session_->last);
    // A poller that continues from its log goes on with the bill in the acceptor.
    const bool continues = place.startRow && row.start && row.start->continuesFrame;
    handOver(continues);
    carried_ = continues && cycles_.isOpen();
    session_.emplace();
    session_->number = place.session;
    session_->hasStartRow = place.startRow;
    session_->first = session_->last = row.time;
    session_->link.start(linkTime(row.time));
    if (!file_.empty())
        session_->logs.push_back(file_), fileChanged_ = false;
    if (!continues)
        cycles_ = {}, eventsBefore_ = {}, cycleClock_ = {}, lastPoll_.reset();
    if (!place.startRow)
        return;
    session_->started = row.events;
    session_->start = row.start.value_or(StartText{});
    session_->counted = session_->start.countsSoFar.value_or(BillCounts{});
    // A process that continues from its log judged its first frame against this one.
    if (session_->start.continuesFrame)
        lastFrame_ = session_->start.continuesFrame;
}

void SessionAnalysis::adjust(const Adjustment& a)
{
    long& sum = session_->adjusted[static_cast<std::size_t>(a.bill - 1)];
    sum = boundedSum(sum, a.to - a.from);
    if (session_->adjustments.size() < SessionSummary::AnomaliesKept)
        session_->adjustments.push_back(a);
    else
        ++session_->adjustmentsLeftOut;
}

void SessionAnalysis::stop(const LogRow& row)
{
    session_->stopped = row.events;
    session_->countsAtStop = row.stopCounts;
    end(row.time);
}

void SessionAnalysis::end(LogClock::time_point at)
{
    lineBack(at);
    // A run of failed polls is told at its end, dated from its start.
    std::stable_sort(session_->anomalies.begin(), session_->anomalies.end(),
                     [](const Anomaly& a, const Anomaly& b) { return a.time < b.time; });
    session_->link.stop(linkTime(at));
    held_ = std::move(session_);
    heldAt_ = at;
    session_.reset();
}

// Frames a stop read after the last poll: judged as a poll's, no poll.
void SessionAnalysis::readAtStop(const LogRow& row)
{
    for (const LoggedFrame& f : row.parts.early)
        readFrame(f.bytes, f.count, cycleClock_.at(row.time));
}

void SessionAnalysis::handOver(bool continues)
{
    if (!held_)
        return;
    if (const std::optional<BillCycle> open =
            continues ? std::nullopt : cycles_.stop(cycleClock_.at(heldAt_)))
        held_->bills.add(*open);
    const AcceptorEvents& all = cycles_.events();
    held_->bills.setEvents(
        {all.jams - eventsBefore_.jams, all.stackerFull - eventsBefore_.stackerFull,
         all.failures - eventsBefore_.failures, all.powerUps - eventsBefore_.powerUps});
    eventsBefore_ = all;
    if (onSession_)
        onSession_(*held_);
    held_.reset();
}

void SessionAnalysis::poll(const LogRow& row)
{
    const int outcome = row.outcome == "good" ? 0 : row.outcome == "checksum" ? 2 : 1;
    for (const std::string& part : row.parts.link) {
        if (part == "reconnected")
            session_->link.addReconnect(linkTime(row.time));
        else
            session_->link.deviceLost(linkTime(row.time));
        note(row.time, part);
    }
    const LogClock::time_point at = cycleClock_.at(row.time);
    for (const auto* frames : {&row.parts.early, &row.parts.otherBit})
        for (const LoggedFrame& f : *frames)
            readFrame(f.bytes, f.count, at);
    std::optional<LinkStats::Clock::duration> replyTime;
    // A reply time may be of any length; the statistics hold up to a day of it.
    constexpr double LongestCounted = 24 * 3600 * 1000.0;
    if (row.replyMillis)
        replyTime = std::chrono::round<LinkStats::Clock::duration>(
            std::chrono::duration<double, std::milli>(std::min(*row.replyMillis, LongestCounted)));
    session_->link.addPoll(outcome, replyTime, linkTime(row.time));
    if (outcome != 0) {
        failedPoll(row);
        return;
    }
    lineBack(row.time);
    ReplyFrame answer;
    std::copy(row.replyBytes.begin(), row.replyBytes.end(), answer.raw().begin());
    readFrame(answer, row.parts.answer.value_or(FrameCount{}), at);
}

// A step of the wall clock the session found is taken in as it took it in,
// so that bills are timed as it timed them; a poll row timed earlier than
// the poll before is a step too, said even where the session logged none (a
// log of an earlier version), and bills are then timed as if no time passed
// across it. Only polls time bills, and only they carry a step.
void SessionAnalysis::clockStep(const LogRow& row)
{
    using std::chrono::milliseconds;
    if (row.kind != "poll")
        return;
    const milliseconds logged = row.parts.clockStep;
    const bool back = lastPoll_ && row.time < *lastPoll_;
    if (logged.count() != 0 || back) {
        const milliseconds by =
            logged.count() != 0 ? logged
                                : std::chrono::duration_cast<milliseconds>(row.time - *lastPoll_);
        cycleClock_.step(by);
        note(row.time, std::string("wall clock set ") + (by.count() < 0 ? "back " : "forward ") +
                           secondsText(by) + ", line " + std::to_string(row.line));
    }
    lastPoll_ = row.time;
}

// A repeat is judged by the bytes, against the frame read before, as the
// live session judged it: the words of a verdict that counts nothing (no
// credit, stacked and returned) do not say whether it came again. A repeat
// is a lost reply sent again, no anomaly.
void SessionAnalysis::readFrame(const ReplyFrame& bytes, FrameCount count, LogClock::time_point at)
{
    count.repeat = lastFrame_ == bytes;
    lastFrame_ = bytes;
    if (count.counted()) {
        long& counted = session_->counted[static_cast<std::size_t>(count.bill - 1)];
        counted = boundedSum(counted, 1);
    } else if (count.reason != CountReason::NotStacked && !count.repeat) {
        note(at, (count.bill ? "bill " + std::to_string(count.bill) : std::string("a bill")) +
                     " stacked, not counted: " + ReasonName(count.reason));
    }
    if (std::optional<BillCycle> ended = cycles_.read(bytes, count, at)) {
        ended->acrossRestart = std::exchange(carried_, false);
        session_->bills.add(*ended);
        if (ended->acrossRestart ||
            (ended->outcome != BillOutcome::Stacked && ended->outcome != BillOutcome::Gone))
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
        session_->anomalies.push_back({at, shortened(what)});
    else
        ++session_->anomaliesLeftOut;
}

std::optional<std::string> AnalyseLog(std::istream& in,
                                      const std::function<void(const SessionSummary&)>& each,
                                      std::size_t* outside, std::vector<FailedStart>* failedStarts)
{
    LogReader reader(in);
    if (!reader.notALog().empty())
        return reader.notALog();
    SessionAnalysis analysis(each);
    AddRows(reader, analysis);
    analysis.finish();
    if (outside)
        *outside = analysis.outside();
    if (failedStarts)
        *failedStarts = analysis.failedStarts();
    return std::nullopt;
}

namespace {

// The time of a file's first row that can be read; none for a file that
// holds none.
std::optional<LogClock::time_point> firstRowTime(LogReader& reader)
{
    std::optional<LogRow> row;
    for (std::size_t line = 0; reader.next(row, line);)
        if (row)
            return row->time;
    return std::nullopt;
}

} // namespace

LogsRead AnalyseLogs(const std::vector<std::string>& paths,
                     const std::function<void(const SessionSummary&)>& each)
{
    LogsRead result;
    const auto refused = [&result](const std::string& path, const LogInput& input,
                                   const LogReader& reader) {
        if (!input.isOpen())
            result.skipped.push_back("cannot read " + path + ": " + input.openError());
        else if (!reader.notALog().empty())
            result.skipped.push_back(path + " is not a session log: " + reader.notALog());
        return !input.isOpen() || !reader.notALog().empty();
    };
    // Oldest first, by each file's first row; files without a row go last.
    // One file alone is read once, so that a pipe reads as well as a file.
    std::vector<std::pair<LogClock::time_point, std::string>> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (paths.size() == 1) {
            files.emplace_back(LogClock::time_point{}, path);
        } else if (std::filesystem::exists(path, error) &&
                   !std::filesystem::is_regular_file(path, error)) {
            result.skipped.push_back(path + " is not a regular file: each of several logs is " +
                                     "read twice");
        } else {
            LogInput input(path);
            LogReader reader(input.stream());
            if (!refused(path, input, reader))
                files.emplace_back(firstRowTime(reader).value_or(LogClock::time_point::max()),
                                   path);
        }
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    SessionAnalysis analysis(each);
    for (const auto& [first, path] : files) {
        LogInput input(path);
        LogReader reader(input.stream());
        if (refused(path, input, reader))
            continue;
        analysis.nextFile(path);
        AddRows(reader, analysis);
        result.read.push_back(path);
        if (const std::string damage = input.damage(); !damage.empty())
            result.damaged.push_back(path + ": " + damage);
    }
    analysis.finish();
    result.outside = analysis.outside();
    result.failedStarts = analysis.failedStarts();
    return result;
}

} // namespace kora
