#include "engine/planrun.h"

#include <algorithm>

namespace kora {

PlanRun::PlanRun(SessionEngine& engine, TestPlan plan, PlanPeople who, QObject* parent)
    : QObject(parent), engine_(engine), plan_(std::move(plan)), who_(std::move(who)),
      judge_(plan_.deck, plan_.thresholds)
{
    connect(&engine_, &SessionEngine::recorded, this, &PlanRun::judgePoll);
    // Before the stop row, so that the plan's end row stands within its run.
    connect(&engine_, &SessionEngine::runEnding, this,
            [this](const QString& why) { abandon(why.toStdString()); });
}

void PlanRun::begin()
{
    begun_ = true;
    engine_.record().plan(PlanBeginsText(plan_, who_));
    emit stepBegun(0);
}

// After the poll's row, so that the log holds every frame judged before the
// row that ends the plan.
void PlanRun::judgePoll(const PollNotes& notes)
{
    if (!running())
        return;
    if (const std::string changed = settingChanged(); !changed.empty())
        return end(changed);
    const std::size_t stepBefore = judge_.step();
    for (const FrameNote& note : notes.frames)
        if (judge_.read(note.frame.bytes, note.count, notes.at.value_or(RowNow())))
            emit cycleJudged();
    if (judge_.done())
        return end({});
    if (judge_.step() != stepBefore) {
        engine_.SetEscrowAction(!plan_.deck[judge_.step()].mustRefuse);
        emit stepBegun(judge_.step());
    }
}

std::string PlanRun::settingChanged() const
{
    const RunState& s = engine_.state();
    if (s.PollRate != plan_.pollMs)
        return "the poll period was changed to " + std::to_string(s.PollRate) + " ms";
    const std::vector<int> bills = plan_.bills();
    for (int n = 1; n <= 7; ++n)
        if ((s.BillEnable(n) == 1) != (std::find(bills.begin(), bills.end(), n) != bills.end()))
            return "bill " + std::to_string(n) + " was " +
                   (s.BillEnable(n) == 1 ? "enabled" : "disabled");
    if (!engine_.escrowMode())
        return "escrow mode was turned off";
    if ((s.Allow == 1) == plan_.deck.at(judge_.step()).mustRefuse)
        return std::string("escrowed bills were set to be ") +
               (s.Allow == 1 ? "stacked" : "returned");
    return {};
}

void PlanRun::abandon(const std::string& why)
{
    if (running())
        end(why);
}

void PlanRun::end(const std::string& why)
{
    ended_ = true;
    why_ = why;
    engine_.record().plan(PlanEndsText(verdict(), why));
    emit finished();
}

} // namespace kora
