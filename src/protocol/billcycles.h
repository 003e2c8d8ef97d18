#pragma once

#include "protocol/counting.h"
#include "protocol/runstate.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// How a bill's cycle ended: in the cassette, back to the customer, refused,
// a cheat, a jam, back to idling with none of these, or still open at STOP.
enum class BillOutcome { Stacked, Returned, Rejected, Cheated, Jammed, Gone, Open };

// "stacked", "returned", "rejected", "cheated", "jammed", "gone", "open".
const char* OutcomeWord(BillOutcome outcome);

using BillClock = std::chrono::system_clock;

// One bill from the first frame that showed it to the frame that ended it.
struct BillCycle
{
    int bill = 0; // its credit once reported, 0 while none was
    BillOutcome outcome = BillOutcome::Open;
    FrameCount count; // for a stacked end: counted, or why not
    BillClock::time_point start{};
    std::chrono::milliseconds duration{0};
    bool jam = false; // the Jammed flag stood up while the bill was on its way
    // Begun before the poller restarted and ended after: its time holds the
    // restart's, so it is no measure of the acceptor.
    bool acrossRestart = false;

    // "bill 3 returned after 3.2 s", "bill 5 stacked and counted after 4.2 s,
    // after a jam", "a bill rejected after 0.0 s, under one poll".
    std::string text() const;
};

// Whether an event's words are a cycle's text(), of this version or an
// earlier one: "<bill> <how> after 3.2 s", then notes after ", ".
bool IsCycleText(const std::string& text);

// What the acceptor raised on its own, each time a flag rose: a flag that
// stays up over many frames is one event. A jam that catches a bill counts
// here too, and is noted on the bill.
struct AcceptorEvents
{
    long jams = 0, stackerFull = 0, failures = 0, powerUps = 0;
};

// Follows bills through the good frames of a session in their order of
// arrival, with the time each was read and what it did to the counts. It
// reads nothing else, so that a recorded log, which keeps the bytes of every
// frame and the time of every poll, gives what the live session gave. A
// bill's cycle begins when a bill shows on its way and ends by what became
// of it; the flags beside it (a jam, the stacker full) are the acceptor's
// events, not bills.
class BillCycles
{
public:
    // The cycle this frame ends, if it ends one.
    std::optional<BillCycle> read(const ReplyFrame& f, const FrameCount& count,
                                  BillClock::time_point at);
    // STOP: the cycle still open, if one is.
    std::optional<BillCycle> stop(BillClock::time_point at);
    // The events of the frames read so far.
    const AcceptorEvents& events() const { return events_; }
    // A bill is on its way: its cycle has begun and not ended.
    bool isOpen() const { return open_.has_value(); }

private:
    struct Report
    {
        BillOutcome outcome;
        bool news; // not the same report staying up over fresh frames
    };
    std::optional<Report> reportOf(const ReplyFrame& f, const FrameCount& count) const;
    std::optional<BillOutcome> endOf(const ReplyFrame& f, const std::optional<Report>& report,
                                     bool onItsWay) const;
    void countEvents(const ReplyFrame& f);
    std::optional<BillCycle> end(BillOutcome outcome, const FrameCount& count,
                                 BillClock::time_point at);

    std::optional<BillCycle> open_;
    AcceptorEvents events_;
    // Bytes 4, 5 and 6 of the fresh frame before: a flag rising, a report
    // staying up and a jam clearing are read against them.
    Byte lastState_ = 0, lastEvents_ = 0, lastHealth_ = 0;
};

// The time bills are timed on: the wall clock of the rows, less every step
// it took since the run began, so that a cycle lasts what the steady clock
// measured, whichever way the wall clock was set meanwhile (NTP at a kiosk's
// boot, an operator), and the row's time alone shows the step. The session
// finds each step against the steady clock and logs it with the poll; a
// reader of the log applies the logged steps, and so times every bill as the
// session did.
class CycleClock
{
public:
    using Steady = std::chrono::steady_clock;
    // A wall clock that moves this much more or less than the steady clock
    // between two polls was set: drift and slewing never come near it.
    static constexpr std::chrono::milliseconds LeastStep{1000};

    // The session: a poll stamped `wall` at `steady`. The step the wall clock
    // took since the last poll, to the millisecond, or 0; taken in.
    std::chrono::milliseconds poll(BillClock::time_point wall, Steady::time_point steady);
    // A reader of the log: a step the session logged.
    void step(std::chrono::milliseconds by);
    // The time a bill is timed at, for a row stamped `wall`.
    BillClock::time_point at(BillClock::time_point wall) const { return wall - offset_; }

private:
    std::chrono::milliseconds offset_{0};
    std::optional<std::pair<BillClock::time_point, Steady::time_point>> last_;
};

// Acceptance figures since START, per denomination (0: none reported) and in
// total.
class BillFigures
{
public:
    struct Row
    {
        long inserted = 0, stacked = 0, returned = 0, rejected = 0, other = 0;
    };

    void add(const BillCycle& cycle);
    // The acceptor's events so far, as BillCycles::events() gives them.
    void setEvents(const AcceptorEvents& events) { events_ = events; }
    const AcceptorEvents& events() const { return events_; }
    const Row& of(int bill) const { return rows_.at(static_cast<std::size_t>(bill)); }
    Row total() const;
    // Stacked out of inserted, 0-100; unset before the first bill.
    std::optional<double> acceptancePercent() const;
    std::optional<double> medianCycleMs() const;
    std::optional<double> maxCycleMs() const;
    // Cycles across a restart: counted above, left out of the cycle times.
    long acrossRestart() const { return acrossRestart_; }

    // "bills: inserted 20, stacked 15, returned 2, rejected 2, other 1,
    // acceptance_percent 75.0, cycle_median_ms 2100.0, cycle_max_ms 3400.0,
    // jams 1, stacker_full 0, failures 0, power_ups 1".
    std::string text() const;
    // Names and JSON values, in order, for lines and tables: "inserted",
    // "stacked", ..., "acceptance_percent", "cycle_median_ms", "cycle_max_ms",
    // then the events: "jams", "stacker_full", "failures", "power_ups".
    std::vector<std::pair<std::string, std::string>> fields() const;

private:
    std::array<Row, 8> rows_{};
    std::vector<double> cycleMs_;
    AcceptorEvents events_;
    long acrossRestart_ = 0;
};

} // namespace kora
