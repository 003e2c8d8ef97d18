#include "protocol/billcycles.h"

#include "protocol/reply.h"

#include <algorithm>
#include <cstdio>

namespace kora {

namespace {

// Reply byte 4: the states that show a bill on its way; byte 5: its events.
constexpr Byte Idling = 0x01, BillStates = 0x7E, Stacked = 0x10, Returning = 0x20,
               Returned = 0x40;
constexpr Byte Cheated = 0x01, Rejected = 0x02, Jammed = 0x04;

std::string oneDecimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

const char* OutcomeWord(BillOutcome outcome)
{
    switch (outcome) {
    case BillOutcome::Stacked: return "stacked";
    case BillOutcome::Returned: return "returned";
    case BillOutcome::Rejected: return "rejected";
    case BillOutcome::Cheated: return "cheated";
    case BillOutcome::Jammed: return "jammed";
    case BillOutcome::Gone: return "gone";
    default: return "open";
    }
}

std::string BillCycle::text() const
{
    const std::string which = bill ? "bill " + std::to_string(bill) : std::string("a bill");
    std::string how = OutcomeWord(outcome);
    if (outcome == BillOutcome::Stacked)
        how += count.counted() ? " and counted" : std::string(" and not counted");
    if (outcome == BillOutcome::Open)
        how = "still open at STOP";
    return which + ' ' + how + " after " + oneDecimal(duration.count() / 1000.0) + " s";
}

std::optional<BillCycle> BillCycles::read(const ReplyFrame& f, const FrameCount& count,
                                          BillClock::time_point at)
{
    // A frame sent again tells nothing new: its events are already read.
    if (count.repeat)
        return std::nullopt;
    const Byte state = f(4), events = f(5);
    const bool jammed = (events & Jammed) != 0;
    const bool stackedNews = count.counted() || count.reason == CountReason::NoCredit;
    bool ends = true;
    BillOutcome outcome = BillOutcome::Gone;
    bool starts = true;
    if (events & Cheated) {
        outcome = BillOutcome::Cheated;
    } else if (jammed) {
        outcome = BillOutcome::Jammed, starts = !lastJammed_; // one jam, one end
    } else if (events & Rejected) {
        outcome = BillOutcome::Rejected;
    } else if (state & Returned) {
        outcome = BillOutcome::Returned, starts = !(lastState_ & Returned);
    } else if ((state & Stacked) && !(state & Returning)) {
        outcome = BillOutcome::Stacked, starts = stackedNews;
    } else if (state & BillStates) {
        ends = false;
    } else {
        ends = open_ && (state & Idling);
        starts = false;
    }
    lastState_ = state;
    lastJammed_ = jammed;

    if (!open_ && starts)
        open_ = BillCycle{0, BillOutcome::Open, {}, at, {}};
    if (open_ && FrameCredit(f))
        open_->bill = FrameCredit(f);
    return open_ && ends ? end(outcome, count, at) : std::nullopt;
}

std::optional<BillCycle> BillCycles::stop(BillClock::time_point at)
{
    return open_ ? end(BillOutcome::Open, {}, at) : std::nullopt;
}

std::optional<BillCycle> BillCycles::end(BillOutcome outcome, const FrameCount& count,
                                         BillClock::time_point at)
{
    BillCycle cycle = *open_;
    open_.reset();
    cycle.outcome = outcome;
    cycle.count = count;
    cycle.duration = std::chrono::duration_cast<std::chrono::milliseconds>(at - cycle.start);
    return cycle;
}

void BillFigures::add(const BillCycle& c)
{
    Row& row = rows_.at(static_cast<std::size_t>(c.bill));
    ++row.inserted;
    switch (c.outcome) {
    case BillOutcome::Stacked: ++row.stacked; break;
    case BillOutcome::Returned: ++row.returned; break;
    case BillOutcome::Rejected: ++row.rejected; break;
    default: ++row.other; break;
    }
    if (c.outcome != BillOutcome::Open)
        cycleMs_.push_back(static_cast<double>(c.duration.count()));
}

BillFigures::Row BillFigures::total() const
{
    Row sum;
    for (const Row& r : rows_) {
        sum.inserted += r.inserted, sum.stacked += r.stacked, sum.returned += r.returned;
        sum.rejected += r.rejected, sum.other += r.other;
    }
    return sum;
}

std::optional<double> BillFigures::acceptancePercent() const
{
    const Row sum = total();
    if (sum.inserted == 0)
        return std::nullopt;
    return 100.0 * static_cast<double>(sum.stacked) / static_cast<double>(sum.inserted);
}

std::optional<double> BillFigures::medianCycleMs() const
{
    if (cycleMs_.empty())
        return std::nullopt;
    std::vector<double> sorted = cycleMs_;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return *middle;
}

std::optional<double> BillFigures::maxCycleMs() const
{
    if (cycleMs_.empty())
        return std::nullopt;
    return *std::max_element(cycleMs_.begin(), cycleMs_.end());
}

std::vector<std::pair<std::string, std::string>> BillFigures::fields() const
{
    const Row sum = total();
    const auto value = [](std::optional<double> v) { return v ? oneDecimal(*v) : std::string(); };
    return {{"inserted", std::to_string(sum.inserted)},
            {"stacked", std::to_string(sum.stacked)},
            {"returned", std::to_string(sum.returned)},
            {"rejected", std::to_string(sum.rejected)},
            {"other", std::to_string(sum.other)},
            {"acceptance_percent", value(acceptancePercent())},
            {"cycle_median_ms", value(medianCycleMs())},
            {"cycle_max_ms", value(maxCycleMs())}};
}

std::string BillFigures::text() const
{
    std::string text;
    for (const auto& [name, value] : fields())
        text += (text.empty() ? "" : ", ") + name + ' ' + (value.empty() ? "-" : value);
    return "bills: " + text;
}

} // namespace kora
