#include "record/planjudge.h"

#include <algorithm>
#include <cstdio>

namespace kora {

namespace {

std::string decimal(double value, int places = 1)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A stacked report that counts nothing although the bill went into the
// cassette: neither a lost reply sent again nor the same report staying up.
bool leftUncounted(const FrameCount& c)
{
    return !c.repeat && (c.reason == CountReason::BeforeRun || c.reason == CountReason::NoCredit ||
                         c.reason == CountReason::StackedAndReturned);
}

} // namespace

const char* VerdictWord(PlanVerdict verdict)
{
    switch (verdict) {
    case PlanVerdict::Pass:
        return "PASS";
    case PlanVerdict::Fail:
        return "FAIL";
    default:
        return "INCOMPLETE";
    }
}

std::optional<double> StepFigures::medianMs() const
{
    return median(cycleMs);
}

long StepFigures::takenFirstTime() const
{
    return std::max(0L, credited - (inserted - credited));
}

PlanJudge::PlanJudge(std::vector<PlanStep> deck, PlanThresholds thresholds)
    : deck_(std::move(deck)), limits_(thresholds), steps_(deck_.size())
{}

bool PlanJudge::read(const ReplyFrame& frame, const FrameCount& count, BillClock::time_point at)
{
    if (done())
        return false;
    if (count.counted())
        ++counted_.at(static_cast<std::size_t>(count.bill));
    else if (leftUncounted(count))
        ++uncounted_;
    const long jamsBefore = cycles_.events().jams;
    const std::optional<BillCycle> ended = cycles_.read(frame, count, at);
    steps_[step_].jams += cycles_.events().jams - jamsBefore;
    if (ended)
        endCycle(*ended);
    return ended.has_value();
}

void PlanJudge::endCycle(const BillCycle& cycle)
{
    StepFigures& s = steps_[step_];
    const PlanStep& step = deck_[step_];
    ++s.inserted;
    s.cycleMs.push_back(static_cast<double>(cycle.duration.count()));
    cycleMs_.push_back(static_cast<double>(cycle.duration.count()));
    if (cycle.outcome == BillOutcome::Stacked) {
        ++s.credited;
        ++taken_.at(static_cast<std::size_t>(cycle.bill));
        s.taken += cycle.bill == step.bill ? 1 : 0;
    } else if (cycle.outcome == BillOutcome::Returned || cycle.outcome == BillOutcome::Rejected) {
        ++s.refused;
    }
    last_ = cycle;
    lastStep_ = step_;
    if (doneIn(step_) >= step.notes)
        ++step_;
}

long PlanJudge::doneIn(std::size_t i) const
{
    const StepFigures& s = steps_.at(i);
    return deck_.at(i).mustRefuse ? s.inserted : s.taken;
}

std::vector<Criterion> PlanJudge::criteria() const
{
    std::vector<Criterion> all{
        acceptance(), jams(), cycle("median bill cycle", limits_.medianCycleS, median(cycleMs_)),
        cycle("slowest bill cycle", limits_.slowestCycleS,
              cycleMs_.empty()
                  ? std::nullopt
                  : std::optional(*std::max_element(cycleMs_.begin(), cycleMs_.end())))};
    if (limits_.noCreditForRefused)
        all.push_back(noCredit());
    if (limits_.countedEqualTaken)
        all.push_back(counts());
    return all;
}

// The notes to be taken that were taken at their first insertion, of those
// taken.
Criterion PlanJudge::acceptance() const
{
    long first = 0, taken = 0;
    for (std::size_t i = 0; i < deck_.size(); ++i)
        if (!deck_[i].mustRefuse)
            first += steps_[i].takenFirstTime(), taken += steps_[i].credited;
    Criterion c{"first-time acceptance", ">= " + decimal(limits_.acceptancePercent) + " %", "-"};
    if (taken > 0) {
        const double percent = 100.0 * double(first) / double(taken);
        c.measured = decimal(percent) + " % (" + std::to_string(first) + " of " +
                     std::to_string(taken) + ")";
        c.pass = percent + 1e-9 >= limits_.acceptancePercent;
    }
    return c;
}

Criterion PlanJudge::jams() const
{
    long jams = 0;
    for (const StepFigures& s : steps_)
        jams += s.jams;
    return {"jams", "<= " + std::to_string(limits_.jamsAtMost), std::to_string(jams),
            jams <= limits_.jamsAtMost};
}

Criterion PlanJudge::cycle(const char* name, double limitS, std::optional<double> ms) const
{
    Criterion c{name, "<= " + decimal(limitS) + " s", "-"};
    if (ms) {
        c.measured = decimal(*ms / 1000.0) + " s";
        c.pass = *ms <= limitS * 1000.0 + 1e-6;
    }
    return c;
}

Criterion PlanJudge::noCredit() const
{
    long credited = 0;
    for (std::size_t i = 0; i < deck_.size(); ++i)
        if (deck_[i].mustRefuse)
            credited += steps_[i].credited;
    return {"no credit for a note to be refused", "0 credited",
            std::to_string(credited) + " credited", credited == 0};
}

// Counted per bill as the engine counts, against the stacked cycles: a
// difference, or a stacked report left uncounted, is a bill in the cassette
// the counters do not show, or one they show twice.
Criterion PlanJudge::counts() const
{
    std::string differ;
    for (std::size_t bill = 1; bill <= 7; ++bill)
        if (counted_[bill] != taken_[bill])
            differ += (differ.empty() ? "" : ", ") +
                      ("bill " + std::to_string(bill) + " counted " +
                       std::to_string(counted_[bill]) + ", taken " + std::to_string(taken_[bill]));
    Criterion c{"counted bills = notes taken", "equal, 0 uncounted", "equal, 0 uncounted"};
    if (!differ.empty() || uncounted_ > 0) {
        c.measured = (differ.empty() ? std::string("equal") : differ) + ", " +
                     std::to_string(uncounted_) + " uncounted";
        c.pass = false;
    }
    return c;
}

PlanVerdict PlanJudge::verdict() const
{
    if (!done())
        return PlanVerdict::Incomplete;
    for (const Criterion& c : criteria())
        if (!c.pass)
            return PlanVerdict::Fail;
    return PlanVerdict::Pass;
}

} // namespace kora
