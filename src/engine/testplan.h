#pragma once

#include "record/planjudge.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace kora {

// A bench acceptance test as its file gives it. The unit tested and the
// operator are not in it: one plan serves every unit.
struct TestPlan
{
    QString name;
    int pollMs = 100;
    std::vector<PlanStep> deck;
    PlanThresholds thresholds;
    QByteArray text; // the file's bytes, as read
    QString digest;  // their SHA-256, 64 lower-case hex digits
    // The bills the deck names: the ones enabled while the plan runs.
    std::vector<int> bills() const;
};

// The largest plan file taken: its text goes whole into one row of the
// session log.
inline constexpr qsizetype LargestPlan = 8 * 1024;

// The plan in `text`, or none with why in `why`: "line 3, column 7: ..." for
// text that is no JSON, "deck[1].notes: ..." for a key that is unknown,
// missing, of the wrong type or out of range.
std::optional<TestPlan> ReadTestPlan(const QByteArray& text, QString* why);

// The plan in file `path`; `why` names the file.
std::optional<TestPlan> ReadTestPlanFile(const QString& path, QString* why);

// SHA-256 of `bytes` in lower-case hex.
QString Sha256Hex(const QByteArray& bytes);

} // namespace kora
