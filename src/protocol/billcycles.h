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

    // "bill 3 returned after 3.2 s", "bill 5 stacked and counted after 2.1 s".
    std::string text() const;
};

// Follows bills through the good frames of a session in their order of
// arrival, with the time each was read and what it did to the counts. It
// reads nothing else, so that a recorded log, which keeps the bytes of every
// frame and the time of every poll, gives what the live session gave.
class BillCycles
{
public:
    // The cycle this frame ends, if it ends one.
    std::optional<BillCycle> read(const ReplyFrame& f, const FrameCount& count,
                                  BillClock::time_point at);
    // STOP: the cycle still open, if one is.
    std::optional<BillCycle> stop(BillClock::time_point at);

private:
    std::optional<BillCycle> end(BillOutcome outcome, const FrameCount& count,
                                 BillClock::time_point at);

    std::optional<BillCycle> open_;
    Byte lastState_ = 0;     // byte 4 of the frame before
    bool lastJammed_ = false; // a jam lasts over many frames and ends one cycle
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
    const Row& of(int bill) const { return rows_.at(static_cast<std::size_t>(bill)); }
    Row total() const;
    // Stacked out of inserted, 0-100; unset before the first bill.
    std::optional<double> acceptancePercent() const;
    std::optional<double> medianCycleMs() const;
    std::optional<double> maxCycleMs() const;

    // "inserted 20, stacked 15, returned 2, rejected 2, other 1, acceptance
    // 75.0 %, cycle median 2.1 s, max 3.4 s".
    std::string text() const;
    // Names and JSON values, in order, for lines and tables: "inserted",
    // "stacked", ..., "acceptance_percent", "cycle_median_ms", "cycle_max_ms".
    std::vector<std::pair<std::string, std::string>> fields() const;

private:
    std::array<Row, 8> rows_{};
    std::vector<double> cycleMs_;
};

} // namespace kora
