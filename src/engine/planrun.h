#pragma once

#include "engine/planlog.h"
#include "engine/sessionengine.h"
#include "engine/testplan.h"
#include "record/planjudge.h"

#include <QObject>
#include <string>

namespace kora {

// A bench test run on a session engine, for whichever face shows it: the
// plan's settings, a plan row in the log where it begins and where it ends,
// each recorded poll's frames judged, and each escrowed note of a step of
// notes to be refused ordered returned. A setting changed mid-plan, or the
// run's end, ends the plan incomplete, naming why: the controls keep their
// behaviour, and a plan judged under other settings would judge another test.
class PlanRun : public QObject
{
    Q_OBJECT

public:
    PlanRun(SessionEngine& engine, TestPlan plan, PlanPeople who, QObject* parent = nullptr);

    // The run is under way with the plan's poll period, the deck's bills
    // enabled, escrow mode on and the first step's escrow action, as each
    // face sets them: the plan begins in the log, and from the next
    // recorded poll on its frames are judged.
    void begin();
    // Ends a plan still running as incomplete, naming why; its end row goes
    // into the log.
    void abandon(const std::string& why);

    const TestPlan& plan() const { return plan_; }
    const PlanPeople& who() const { return who_; }
    const PlanJudge& judge() const { return judge_; }
    bool running() const { return begun_ && !ended_; }
    bool ended() const { return ended_; }
    PlanVerdict verdict() const
    {
        return ended_ && !why_.empty() ? PlanVerdict::Incomplete : judge_.verdict();
    }
    const std::string& incompleteWhy() const { return why_; }

signals:
    // Step `step` (from 0) is in force.
    void stepBegun(std::size_t step);
    // A bill cycle ended within the plan; judge().lastCycle() is it.
    void cycleJudged();
    // The plan has ended, with its verdict.
    void finished();

private:
    void judgePoll(const PollNotes& notes);
    // What the operator changed of the plan's settings, in words; empty
    // while they stand as the plan set them.
    std::string settingChanged() const;
    void end(const std::string& why);

    SessionEngine& engine_;
    TestPlan plan_;
    PlanPeople who_;
    PlanJudge judge_;
    bool begun_ = false, ended_ = false;
    std::string why_;
};

} // namespace kora
