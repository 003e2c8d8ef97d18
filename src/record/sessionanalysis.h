#pragma once

#include "protocol/billcycles.h"
#include "record/linkstats.h"
#include "record/logreader.h"
#include "record/logsessions.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace kora {

using LogClock = std::chrono::system_clock;

// Something a technician looks for first: the device lost or back, the line
// failing for a while, a bill jammed, cheated, rejected or returned, a
// stacked report not counted.
struct Anomaly
{
    LogClock::time_point time{};
    std::string what;
};

// One session of a log, START to STOP, as the log tells it.
struct SessionSummary
{
    static constexpr std::size_t AnomaliesKept = 1000;
    static constexpr std::size_t BadLinesNamed = 10;

    int number = 0;                         // from 1, in file order
    bool hasStartRow = true;                // false: the log begins mid-session
    std::string started;                    // the start row's text
    StartText start;                        // what it says
    LogClock::time_point first{}, last{};   // its first and last rows
    std::optional<std::string> stopped;     // the stop row's text, if it has one
    std::optional<BillCounts> countsAtStop; // the counters the stop row gives
    // Bills counted: the counts so far of a run under way at the start row,
    // plus the log's own verdicts, `counted`.
    BillCounts counted{};
    BillCounts adjusted{};               // the operator's adjustments, summed per bill
    std::vector<Adjustment> adjustments; // the first AnomaliesKept
    std::size_t adjustmentsLeftOut = 0;
    LinkStats link{Timeline(1.0, 512, Timeline::Span::Whole)};
    BillFigures bills;
    std::vector<Anomaly> anomalies; // the first AnomaliesKept
    std::size_t anomaliesLeftOut = 0;
    std::size_t badRows = 0;
    std::vector<std::size_t> badLines; // the first BadLinesNamed
    // The files its rows came from, in order, when read with AnalyseLogs: a
    // run a rotation split spans two.
    std::vector<std::string> logs;

    // From the start row: "1", "/dev/ttyUSB0", "kora232 1.4.0" (empty when
    // the row does not name it), and the rest of what it says.
    std::string port() const { return start.port; }
    std::string device() const { return start.device; }
    std::string writtenBy() const { return start.writtenBy; }
    std::string settings() const { return start.settings; }
    long countedTotal() const;
    // Counted plus adjusted: what the counters at STOP should say.
    BillCounts countersExpected() const;
    // "2 torn or malformed rows skipped: lines 57, 112"; empty for none.
    std::string badRowsText() const;
};

// A START whose port never opened: no session, only the failure, from its
// row to the next row of the log (or its last), which a held port's tries
// repeat without a row of their own.
struct FailedStart
{
    static constexpr std::size_t Kept = 1000;
    LogClock::time_point from{}, until{};
    std::string what; // "port 1 (/dev/ttyUSB0): cannot be opened: ..."
};

// Reads a log's rows in order and hands over each session as it ends, so
// that a log of any length takes the memory of one session. Bill figures
// come from the same bill cycles the live session follows, fed the frames
// and verdicts the log records, so they are the ones its stop row gave.
class SessionAnalysis
{
public:
    explicit SessionAnalysis(std::function<void(const SessionSummary&)> onSession);

    void add(const LogRow& row);
    void addBad(std::size_t line);
    // The rows that follow come from the next file of the log, `name`,
    // oldest first (see LogSessions::nextFile).
    void nextFile(const std::string& name);
    // The end of the log: a session still open ends at its last row.
    void finish();
    // Rows outside any session: after a stop row and before the next start
    // row, and torn ones there or before the first row.
    std::size_t outside() const { return outside_; }
    // The first FailedStart::Kept, and how many were left out.
    const std::vector<FailedStart>& failedStarts() const { return failedStarts_; }
    std::size_t failedStartsLeftOut() const { return failedStartsLeftOut_; }

private:
    void begin(const LogRow& row, const LogSessions::Place& place);
    void poll(const LogRow& row);
    void readAtStop(const LogRow& row);
    void adjust(const Adjustment& a);
    void stop(const LogRow& row);
    void end(LogClock::time_point at);
    void handOver(bool continues);
    void clockStep(const LogRow& row);
    void readFrame(const ReplyFrame& bytes, FrameCount count, LogClock::time_point at);
    void failedPoll(const LogRow& row);
    void lineBack(LogClock::time_point at);
    void note(LogClock::time_point at, const std::string& what);

    std::function<void(const SessionSummary&)> onSession_;
    std::optional<SessionSummary> session_;
    // A session that has ended, handed over once the next one shows whether
    // it continues the run (a restart continuing from the log): a bill on
    // its way then ends in the next one.
    std::optional<SessionSummary> held_;
    LogClock::time_point heldAt_{};
    AcceptorEvents eventsBefore_; // the events of the sessions the cycles followed before
    bool carried_ = false;        // a bill's cycle came over a restart, not yet ended
    std::string file_;
    bool fileChanged_ = false;
    LogSessions sessions_;
    BillCycles cycles_;
    CycleClock cycleClock_;
    std::optional<LogClock::time_point> lastPoll_;
    std::optional<ReplyFrame> lastFrame_;
    std::size_t outside_ = 0;
    std::vector<FailedStart> failedStarts_;
    std::size_t failedStartsLeftOut_ = 0;
    bool failedOpen_ = false; // the last failed start lasts until the next row
    // A run of failed polls: since when, how many, how many checksum errors.
    std::optional<LogClock::time_point> failingSince_;
    long failed_ = 0, failedChecksum_ = 0;
};

// What AnalyseLogs read and left out, each in a line for the operator.
struct LogsRead
{
    std::vector<std::string> read;         // the files read, oldest first
    std::vector<std::string> skipped;      // "notes.csv is not a session log: ..."
    std::vector<std::string> damaged;      // "a.csv.2.gz: the compressed data is damaged: ..."
    std::size_t outside = 0;               // rows outside any session, in all of them
    std::vector<FailedStart> failedStarts; // the first FailedStart::Kept, in all of them
};

// Reads several files of a log, the live one and its rotations, plain or
// compressed, through one SessionAnalysis, oldest first by each file's first
// row whatever the order given, so that a run a rotation split is one
// session. A file that cannot be read or is no session log is skipped.
LogsRead AnalyseLogs(const std::vector<std::string>& paths,
                     const std::function<void(const SessionSummary&)>& each);

// Reads a whole log through a SessionAnalysis. Gives why the stream is not a
// session log, or nothing once every session has been handed over.
std::optional<std::string> AnalyseLog(std::istream& in,
                                      const std::function<void(const SessionSummary&)>& each,
                                      std::size_t* outside = nullptr,
                                      std::vector<FailedStart>* failedStarts = nullptr);

} // namespace kora
