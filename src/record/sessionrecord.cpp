#include "record/sessionrecord.h"

#include "record/logreader.h"
#include "record/pollreport.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace kora {

namespace {

// The fields of the last whole row of the file at `path`; none when there is
// none, or it cannot be read.
std::optional<std::vector<std::string>> lastLogRow(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? std::streamoff(in.tellg()) : 0;
    const std::streamoff from = std::max<std::streamoff>(0, size - LogReader::LongestRow);
    std::string tail(std::size_t(size - from), '\0');
    if (size <= 0 || !in.seekg(from) || !in.read(tail.data(), std::streamsize(tail.size())))
        return std::nullopt;
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r'))
        tail.pop_back();
    const std::size_t lineFeed = tail.rfind('\n');
    return CsvFields(lineFeed == std::string::npos ? tail : tail.substr(lineFeed + 1));
}

} // namespace

void SessionRecord::awaitOpen()
{
    awaitingOpen_ = true;
    held_.clear();
}

void SessionRecord::abandonStart()
{
    awaitingOpen_ = false;
    held_.clear();
}

void SessionRecord::start(const std::string& what)
{
    awaitingOpen_ = false;
    stats_.start(LinkStats::Clock::now());
    polls_ = 0;
    pending_.clear();
    running_ = true;
    what_ = what;
    const std::vector<std::string> row = MarkRow("start", 0, what);
    write(row, {}); // it begins the run: nothing to continue
    // Stamped as the start row, so that no row of the run comes before it.
    for (std::vector<std::string> waited : std::exchange(held_, {})) {
        waited.front() = row.front();
        write(waited);
    }
}

void SessionRecord::poll(const RunState& s, const PollNotes& notes)
{
    const PollTiming& t = notes.timing;
    ++polls_;
    stats_.addPoll(s.NRFlag, t.replied ? std::optional(*t.replied - t.sent) : std::nullopt);
    if (!log_.isOpen()) { // a row is text for the log alone: without one, no time goes into it
        pending_.clear();
        return;
    }
    std::string events = pending_;
    const std::string own = PollEvents(s, notes);
    if (!own.empty())
        events += (events.empty() ? "" : ", ") + own;
    pending_.clear();
    const std::vector<int> counted = notes.countedBills();
    const std::vector<std::string> row = PollRow(s, t, polls_, events, notes.at);
    // A row a restart needs reaches the disk once written; an idle repeat
    // keeps the rhythm of SessionLog::SyncFloor.
    const bool sync = !counted.empty() || !notes.idleRepeat;
    write(row, {sync, continuation(row, polls_ - 1, countsBefore(counted))});
}

void SessionRecord::framesLeft(const PollNotes& notes)
{
    if (!log_.isOpen() || notes.frames.empty())
        return;
    const std::vector<int> counted = notes.countedBills();
    const std::vector<std::string> row = MarkRow("read", polls_, LeftFramesEvents(notes), notes.at);
    write(row, {!counted.empty(), continuation(row, polls_, countsBefore(counted))});
}

void SessionRecord::deviceLost(const std::string& reason)
{
    stats_.deviceLost();
    pending_ += (pending_.empty() ? "" : ", ") + ("device lost: " + reason);
}

void SessionRecord::reconnected()
{
    stats_.addReconnect();
    pending_ += (pending_.empty() ? "" : ", ") + std::string("reconnected");
}

void SessionRecord::change(const std::string& what, const std::string& startTextNow)
{
    what_ = startTextNow;
    write(MarkRow("start", polls_, what));
}

void SessionRecord::adjust(int bill, long count, long was)
{
    const std::vector<std::string> row =
        MarkRow("adjust", polls_,
                "counter bill " + std::to_string(bill) + " set to " + std::to_string(count) +
                    " by the operator (was " + std::to_string(was) + ")");
    // The counter is set by now: a new file that begins before this row
    // states it as it was, or the report would count the change twice.
    std::array<long, 7> before = countsNow();
    if (bill >= 1 && bill <= 7)
        before[std::size_t(bill - 1)] = was;
    if (log_.isOpen())
        write(row, {false, continuation(row, polls_, before)});
}

void SessionRecord::failedStart(const std::string& what)
{
    abandonStart();
    if (!log_.isOpen())
        return;
    const std::vector<std::string> row = MarkRow("failed", 0, what);
    // The rows of an earlier run of this process are in the file first.
    log_.drain(OutputQueue::Clock::now() + std::chrono::milliseconds(200));
    const std::optional<std::vector<std::string>> last = lastLogRow(log_.path());
    if (last && std::equal(row.begin() + 1, row.end(), last->begin() + 1, last->end()))
        return;
    write(row, {});
}

void SessionRecord::plan(const std::string& what)
{
    write(MarkRow("plan", polls_, what));
}

void SessionRecord::stop(const std::string& counts, RowStamp at)
{
    stats_.stop(LinkStats::Clock::now());
    running_ = false;
    write(MarkRow("stop", polls_, counts + "; " + stats_.text(LinkStats::Clock::now()), at));
}

bool SessionRecord::openLog(const std::string& path, std::string* why)
{
    if (!log_.open(path, why))
        return false;
    // A log that fails its first row is refused here, not told of twice.
    if (running_ &&
        !log_.write(MarkRow("start", polls_, "logging begins mid-run: " + runSoFar()))) {
        if (why)
            *why = log_.failure();
        return false;
    }
    return true;
}

void SessionRecord::closeLog()
{
    if (running_)
        write(MarkRow("stop", polls_,
                      "logging ends; " + CountsText(countsNow()) + "; " +
                          stats_.text(LinkStats::Clock::now())));
    log_.close();
}

std::array<long, 7> SessionRecord::countsNow() const
{
    return countsSoFar ? countsSoFar() : std::array<long, 7>{};
}

// The engine has counted this poll's bills by now: a row that continues the
// run before this poll's row states the counts without them.
std::array<long, 7> SessionRecord::countsBefore(const std::vector<int>& counted) const
{
    std::array<long, 7> before = countsNow();
    for (const int bill : counted)
        if (bill >= 1 && bill <= 7 && before[std::size_t(bill - 1)] > 0)
            --before[std::size_t(bill - 1)];
    return before;
}

std::string SessionRecord::runSoFar() const
{
    return runSoFar(countsNow());
}

std::string SessionRecord::runSoFar(const std::array<long, 7>& counts) const
{
    return what_ + "; counts so far " + CountsText(counts);
}

std::string SessionRecord::continuation(const std::vector<std::string>& row, long pollsBefore,
                                        const std::array<long, 7>& countsBefore) const
{
    std::vector<std::string> continues =
        MarkRow("start", pollsBefore, "log continues after rotation: " + runSoFar(countsBefore));
    continues.front() = row.front(); // the moment of the row it stands before
    return SessionLog::CsvLine(continues);
}

void SessionRecord::write(const std::vector<std::string>& row)
{
    if (awaitingOpen_)
        held_.push_back(row);
    else if (log_.isOpen())
        write(row, {false, continuation(row, polls_, countsNow())});
}

void SessionRecord::write(const std::vector<std::string>& row, RowMeta meta)
{
    if (log_.isOpen() && !log_.write(row, std::move(meta)) && onLogFailure)
        onLogFailure(log_.failure());
}

} // namespace kora
