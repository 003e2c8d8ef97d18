#pragma once

#include "protocol/billcycles.h"
#include "protocol/counting.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// One denomination of the deck: how many notes, and whether each must be
// taken or refused.
struct PlanStep
{
    int bill = 1;
    int notes = 1;
    bool mustRefuse = false;
};

// What a unit must do to pass.
struct PlanThresholds
{
    double acceptancePercent = 0; // notes to be taken, taken at their first insertion, at least
    int jamsAtMost = 0;
    double medianCycleS = 0; // the median bill cycle, at most
    double slowestCycleS = 0;
    bool noCreditForRefused = true; // no note that must be refused is credited
    bool countedEqualTaken = true;  // counted per bill = taken, no stacked report left uncounted
};

// What the bills of one step did. A note refused and inserted again is a
// second insertion of the same note: it counts against first-time
// acceptance, not against the deck.
struct StepFigures
{
    long inserted = 0; // bill cycles that ended within the step
    long taken = 0;    // stacked, credited as the step's bill
    long credited = 0; // stacked, whatever the bill
    long refused = 0;  // returned or rejected
    long jams = 0;     // the acceptor's jams while the step was in force
    std::vector<double> cycleMs;
    std::optional<double> medianMs() const;
    // Notes taken at their first insertion: each insertion not taken is
    // taken to be a note that went in again.
    long takenFirstTime() const;
};

// One criterion of the plan as judged: "first-time acceptance", ">= 90.0 %",
// "95.0 % (19 of 20)", pass.
struct Criterion
{
    std::string name, threshold, measured;
    bool pass = true;
};

enum class PlanVerdict { Pass, Fail, Incomplete };

// "PASS", "FAIL", "INCOMPLETE".
const char* VerdictWord(PlanVerdict verdict);

// Follows a plan's steps through the good frames read while it runs, in
// their order of arrival, and judges it. It reads nothing else, so that a
// log, which keeps every frame and its verdict, judges a plan as the live
// run did. Each bill cycle belongs to the step in force when it ends; a step
// of notes to be taken is done once that many are taken, one of notes to be
// refused once that many have come and gone.
class PlanJudge
{
public:
    PlanJudge(std::vector<PlanStep> deck, PlanThresholds thresholds);

    // A good frame, its verdict (with `repeat` set for the frame before
    // again) and the moment it was read. True when it ended a bill's cycle.
    bool read(const ReplyFrame& frame, const FrameCount& count, BillClock::time_point at);

    const std::vector<PlanStep>& deck() const { return deck_; }
    // The step in force, from 0; deck().size() once every step is done.
    std::size_t step() const { return step_; }
    bool done() const { return step_ >= deck_.size(); }
    // Notes of step `i` done so far: taken, or come and gone for a step of
    // notes to be refused.
    long doneIn(std::size_t i) const;
    const StepFigures& figures(std::size_t i) const { return steps_.at(i); }
    // The cycle read() ended last, and the step it belonged to.
    const std::optional<BillCycle>& lastCycle() const { return last_; }
    std::size_t lastCycleStep() const { return lastStep_; }

    std::vector<Criterion> criteria() const;
    // Incomplete until every step is done; then Fail if any criterion fails.
    PlanVerdict verdict() const;

private:
    void endCycle(const BillCycle& cycle);
    Criterion acceptance() const;
    Criterion jams() const;
    Criterion cycle(const char* name, double limitS, std::optional<double> ms) const;
    Criterion noCredit() const;
    Criterion counts() const;

    std::vector<PlanStep> deck_;
    PlanThresholds limits_;
    std::vector<StepFigures> steps_;
    std::size_t step_ = 0;
    BillCycles cycles_;
    std::vector<double> cycleMs_;
    std::array<long, 8> counted_{}, taken_{}; // per bill 1-7
    long uncounted_ = 0;                      // stacked reports left uncounted
    std::optional<BillCycle> last_;
    std::size_t lastStep_ = 0;
};

} // namespace kora
