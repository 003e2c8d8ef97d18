#pragma once

#include "engine/testplan.h"
#include "record/planjudge.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// Who and what a plan is run on, entered when it is run.
struct PlanPeople
{
    QString unitSerial, unitModel, unitFirmware, unitNotes, operatorName;
};

// The plan row that begins a run of `plan`: its name, text, digest, the
// unit and the operator, as one line of JSON after "plan begins: ".
std::string PlanBeginsText(const TestPlan& plan, const PlanPeople& who);
// "plan ends: PASS", "plan ends: INCOMPLETE: STOP pressed".
std::string PlanEndsText(PlanVerdict verdict, const std::string& why = {});

// One run of a plan as a session log tells it, judged again from its frames.
struct LoggedPlan
{
    TestPlan plan;
    PlanPeople who;
    std::chrono::system_clock::time_point began{}, ended{};
    PlanJudge judge{{}, {}};
    PlanVerdict verdict = PlanVerdict::Incomplete;
    std::string incompleteWhy; // for an incomplete run
    std::string writtenBy;     // "kora232 1.4.0", from the session's start row
    std::uint64_t length = 0;  // bytes of the log up to the end of the plan's last row
    QString sha256;            // of those bytes
};

// Every plan run in the log at `path`, in file order; none, with why, for a
// log that cannot be read, is no session log or holds a plan row that does
// not read back (its text no plan, or not the one its digest names).
std::optional<std::vector<LoggedPlan>> ReadLoggedPlans(const QString& path, QString* why);

} // namespace kora
