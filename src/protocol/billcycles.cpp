#include "protocol/billcycles.h"

#include "protocol/reply.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kora {

namespace {

// Reply byte 4: a bill on its way, and the reports of its end.
constexpr Byte Idling = 0x01, OnItsWay = 0x2E, Stacked = 0x10, Returning = 0x20, Returned = 0x40;
// Byte 5, events; byte 6, power and faults.
constexpr Byte Cheated = 0x01, Rejected = 0x02, Jammed = 0x04, Full = 0x08;
constexpr Byte PowerUp = 0x01, Failure = 0x04;

std::string oneDecimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

bool startsWith(const std::string& text, const char* start)
{
    return text.rfind(start, 0) == 0;
}

// " after 3.2 s" at `at`, ending the text or followed by ", ".
bool afterSeconds(const std::string& text, std::size_t at)
{
    const auto digit = [&](std::size_t i) {
        return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
    };
    std::size_t i = at + 7;
    if (!digit(i))
        return false;
    while (digit(i))
        ++i;
    if (i + 1 >= text.size() || text[i] != '.' || !digit(i + 1))
        return false;
    i += 2;
    return text.compare(i, 2, " s") == 0 &&
           (i + 2 == text.size() || text.compare(i + 2, 2, ", ") == 0);
}

} // namespace

const char* OutcomeWord(BillOutcome outcome)
{
    switch (outcome) {
    case BillOutcome::Stacked:
        return "stacked";
    case BillOutcome::Returned:
        return "returned";
    case BillOutcome::Rejected:
        return "rejected";
    case BillOutcome::Cheated:
        return "cheated";
    case BillOutcome::Jammed:
        return "jammed";
    case BillOutcome::Gone:
        return "gone";
    default:
        return "open";
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
    std::string text = which + ' ' + how + " after " + oneDecimal(duration.count() / 1000.0) + " s";
    // Both ends fell between two polls: the time the bill took is unknown.
    if (duration.count() == 0 && outcome != BillOutcome::Open)
        text += ", under one poll";
    if (jam && outcome != BillOutcome::Jammed)
        text += ", after a jam";
    if (acrossRestart)
        text += ", across a restart";
    return text;
}

bool IsCycleText(const std::string& text)
{
    if (!startsWith(text, "bill ") && !startsWith(text, "a bill "))
        return false;
    for (std::size_t at = text.find(" after "); at != std::string::npos;
         at = text.find(" after ", at + 1))
        if (afterSeconds(text, at))
            return true;
    return false;
}

std::optional<BillCycle> BillCycles::read(const ReplyFrame& f, const FrameCount& count,
                                          BillClock::time_point at)
{
    // A frame sent again tells nothing new: its events are already read.
    if (count.repeat)
        return std::nullopt;
    const std::optional<Report> report = reportOf(f, count);
    // A credit beside neither idling nor an end names a bill still on its way.
    const bool onItsWay = (f(4) & OnItsWay) || (FrameCredit(f) && !report && !(f(4) & Idling));
    if (!open_ && (onItsWay || (report && report->news)))
        open_ = BillCycle{0, BillOutcome::Open, {}, at, {}};
    std::optional<BillOutcome> ends;
    if (open_) {
        open_->jam = open_->jam || (f(5) & Jammed);
        if (FrameCredit(f))
            open_->bill = FrameCredit(f);
        ends = endOf(f, report, onItsWay);
    }
    countEvents(f);
    lastState_ = f(4), lastEvents_ = f(5), lastHealth_ = f(6);
    return ends ? end(*ends, count, at) : std::nullopt;
}

// A stacked report ends its bill as stacked whatever flags stand beside it;
// one that says returned too is a returned bill.
std::optional<BillCycles::Report> BillCycles::reportOf(const ReplyFrame& f,
                                                       const FrameCount& count) const
{
    const Byte state = f(4), events = f(5);
    if (state & Returned)
        return Report{BillOutcome::Returned, !(lastState_ & Returned)};
    if ((state & Stacked) && !(state & Returning))
        return Report{BillOutcome::Stacked,
                      count.counted() || count.reason == CountReason::NoCredit};
    if (events & Cheated)
        return Report{BillOutcome::Cheated, !(lastEvents_ & Cheated)};
    if (events & Rejected)
        return Report{BillOutcome::Rejected, !(lastEvents_ & Rejected)};
    return std::nullopt;
}

// Without a report, a bill ends when the acceptor idles again: jammed when
// the jam that held it clears to idling, gone otherwise. While the jam
// stands it may still come out either way.
std::optional<BillOutcome>
BillCycles::endOf(const ReplyFrame& f, const std::optional<Report>& report, bool onItsWay) const
{
    if (report)
        return report->outcome;
    if (onItsWay || (f(5) & Jammed) || !(f(4) & Idling))
        return std::nullopt;
    return (lastEvents_ & Jammed) ? BillOutcome::Jammed : BillOutcome::Gone;
}

void BillCycles::countEvents(const ReplyFrame& f)
{
    const auto rose = [](Byte now, Byte before, Byte bit) {
        return (now & bit) && !(before & bit);
    };
    events_.jams += rose(f(5), lastEvents_, Jammed);
    events_.stackerFull += rose(f(5), lastEvents_, Full);
    events_.failures += rose(f(6), lastHealth_, Failure);
    events_.powerUps += rose(f(6), lastHealth_, PowerUp);
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
    // Never below 0: the clock it is timed on takes in every step it logs,
    // and one too small to log must not make a length no reader takes.
    cycle.duration =
        std::max(std::chrono::milliseconds{0},
                 std::chrono::duration_cast<std::chrono::milliseconds>(at - cycle.start));
    return cycle;
}

std::chrono::milliseconds CycleClock::poll(BillClock::time_point wall, Steady::time_point steady)
{
    using std::chrono::milliseconds;
    milliseconds stepped{0};
    if (last_) {
        const auto expected = last_->first + (steady - last_->second);
        const auto off = std::chrono::round<milliseconds>(wall - expected);
        if (off >= LeastStep || off <= -LeastStep)
            stepped = off;
    }
    last_ = {wall, steady};
    step(stepped);
    return stepped;
}

void CycleClock::step(std::chrono::milliseconds by)
{
    // Sixty years of steps, a clock that lost its battery set right, keep a
    // time of the years a log holds within what the clock's type can hold
    // (1678-2262); more come from no real clock.
    constexpr std::chrono::milliseconds Most{std::chrono::hours(24 * 366 * 60)};
    offset_ = std::clamp(std::clamp(by, -Most, Most) + offset_, -Most, Most);
}

void BillFigures::add(const BillCycle& c)
{
    Row& row = rows_.at(static_cast<std::size_t>(c.bill));
    ++row.inserted;
    switch (c.outcome) {
    case BillOutcome::Stacked:
        ++row.stacked;
        break;
    case BillOutcome::Returned:
        ++row.returned;
        break;
    case BillOutcome::Rejected:
        ++row.rejected;
        break;
    default:
        ++row.other;
        break;
    }
    acrossRestart_ += c.acrossRestart ? 1 : 0;
    if (c.outcome != BillOutcome::Open && !c.acrossRestart)
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
            {"cycle_max_ms", value(maxCycleMs())},
            {"jams", std::to_string(events_.jams)},
            {"stacker_full", std::to_string(events_.stackerFull)},
            {"failures", std::to_string(events_.failures)},
            {"power_ups", std::to_string(events_.powerUps)}};
}

std::string BillFigures::text() const
{
    std::string text;
    for (const auto& [name, value] : fields())
        text += (text.empty() ? "" : ", ") + name + ' ' + (value.empty() ? "-" : value);
    return "bills: " + text;
}

} // namespace kora
