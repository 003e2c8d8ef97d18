#include "engine/testplan.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <functional>
#include <set>

namespace kora {

namespace {

enum class Kind { Text, Whole, Number, Flag, Choice, List, Object };

// Every key a plan may hold, where it stands, what it holds and its range:
// the one place a field's limits are written.
struct Field
{
    const char* key;
    Kind kind;
    double least = 0, most = 0; // a whole number or number's range; a text's length
    const char* choices[2] = {nullptr, nullptr};
};

const Field PlanFields[] = {
    {"name", Kind::Text, 1, 80},
    {"poll_ms", Kind::Whole, 100, 5000},
    {"deck", Kind::List, 1, 14},
    {"thresholds", Kind::Object},
};
const Field StepFields[] = {
    {"bill", Kind::Whole, 1, 7},
    {"notes", Kind::Whole, 1, 1000},
    {"must", Kind::Choice, 0, 0, {"take", "refuse"}},
};
const Field ThresholdFields[] = {
    {"first_time_acceptance_percent", Kind::Number, 0, 100},
    {"jams_at_most", Kind::Whole, 0, 1000},
    {"median_cycle_s", Kind::Number, 0.1, 600},
    {"slowest_cycle_s", Kind::Number, 0.1, 600},
    {"no_credit_for_refused", Kind::Flag},
    {"counted_equal_taken", Kind::Flag},
};

QString rangeText(const Field& f)
{
    const QString least = QString::number(f.least), most = QString::number(f.most);
    switch (f.kind) {
    case Kind::Text:
        return QStringLiteral("must be a text of %1 to %2 characters").arg(least, most);
    case Kind::Whole:
        return QStringLiteral("must be a whole number from %1 to %2").arg(least, most);
    case Kind::Number:
        return QStringLiteral("must be a number from %1 to %2").arg(least, most);
    case Kind::Flag:
        return QStringLiteral("must be true or false");
    case Kind::Choice:
        return QStringLiteral("must be \"%1\" or \"%2\"")
            .arg(QLatin1String(f.choices[0]), QLatin1String(f.choices[1]));
    case Kind::List:
        return QStringLiteral("must be a list of %1 to %2 steps").arg(least, most);
    default:
        return QStringLiteral("must be an object");
    }
}

bool fits(const Field& f, const QJsonValue& v)
{
    const auto within = [&f](double x) { return x >= f.least && x <= f.most; };
    switch (f.kind) {
    case Kind::Text:
        return v.isString() && within(double(v.toString().trimmed().size()));
    case Kind::Whole:
        return v.isDouble() && std::trunc(v.toDouble()) == v.toDouble() && within(v.toDouble());
    case Kind::Number:
        return v.isDouble() && within(v.toDouble());
    case Kind::Flag:
        return v.isBool();
    case Kind::Choice:
        return v.isString() && (v.toString() == QLatin1String(f.choices[0]) ||
                                v.toString() == QLatin1String(f.choices[1]));
    case Kind::List:
        return v.isArray() && within(double(v.toArray().size()));
    default:
        return v.isObject();
    }
}

// The object at `path` checked against its fields: no key unknown, none
// missing, each within its range. False with why.
template <std::size_t N>
bool check(const QJsonObject& o, const QString& path, const Field (&fields)[N], QString* why)
{
    const auto at = [&path](const QString& key) {
        return path.isEmpty() ? key : path + QLatin1Char('.') + key;
    };
    for (auto it = o.begin(); it != o.end(); ++it) {
        const bool known = std::any_of(std::begin(fields), std::end(fields), [&](const Field& f) {
            return it.key() == QLatin1String(f.key);
        });
        if (!known) {
            *why = QStringLiteral("%1: unknown key").arg(at(it.key()));
            return false;
        }
    }
    for (const Field& f : fields) {
        const QString key = QLatin1String(f.key);
        if (!o.contains(key)) {
            *why = QStringLiteral("%1: missing; it %2").arg(at(key), rangeText(f));
            return false;
        }
        if (!fits(f, o.value(key))) {
            *why = QStringLiteral("%1: %2").arg(at(key), rangeText(f));
            return false;
        }
    }
    return true;
}

// "line 3, column 7" of byte `offset` of `text`.
QString placeOf(const QByteArray& text, qsizetype offset)
{
    const qsizetype at = std::clamp<qsizetype>(offset - 1, 0, text.size());
    const qsizetype lineStart = text.lastIndexOf('\n', at - 1) + 1;
    const qsizetype line = text.left(at).count('\n') + 1;
    const qsizetype column = QString::fromUtf8(text.mid(lineStart, at - lineStart)).size() + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

bool readDeck(const QJsonArray& deck, TestPlan& plan, QString* why)
{
    std::set<std::pair<int, bool>> seen;
    for (qsizetype i = 0; i < deck.size(); ++i) {
        const QString path = QStringLiteral("deck[%1]").arg(i);
        if (!deck.at(i).isObject()) {
            *why = QStringLiteral("%1: must be an object with bill, notes and must").arg(path);
            return false;
        }
        const QJsonObject o = deck.at(i).toObject();
        if (!check(o, path, StepFields, why))
            return false;
        const PlanStep step{o.value(QStringLiteral("bill")).toInt(),
                            o.value(QStringLiteral("notes")).toInt(),
                            o.value(QStringLiteral("must")).toString() == QLatin1String("refuse")};
        if (!seen.insert({step.bill, step.mustRefuse}).second) {
            *why = QStringLiteral("%1.bill: bill %2 already has a step of notes to be %3")
                       .arg(path)
                       .arg(step.bill)
                       .arg(step.mustRefuse ? "refused" : "taken");
            return false;
        }
        plan.deck.push_back(step);
    }
    return true;
}

bool readThresholds(const QJsonObject& o, PlanThresholds& t, QString* why)
{
    if (!check(o, QStringLiteral("thresholds"), ThresholdFields, why))
        return false;
    t.acceptancePercent = o.value(QStringLiteral("first_time_acceptance_percent")).toDouble();
    t.jamsAtMost = o.value(QStringLiteral("jams_at_most")).toInt();
    t.medianCycleS = o.value(QStringLiteral("median_cycle_s")).toDouble();
    t.slowestCycleS = o.value(QStringLiteral("slowest_cycle_s")).toDouble();
    t.noCreditForRefused = o.value(QStringLiteral("no_credit_for_refused")).toBool();
    t.countedEqualTaken = o.value(QStringLiteral("counted_equal_taken")).toBool();
    return true;
}

} // namespace

std::vector<int> TestPlan::bills() const
{
    std::set<int> named;
    for (const PlanStep& s : deck)
        named.insert(s.bill);
    return {named.begin(), named.end()};
}

QString Sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

std::optional<TestPlan> ReadTestPlan(const QByteArray& text, QString* why)
{
    if (text.size() > LargestPlan) {
        *why = QStringLiteral("larger than %1 bytes").arg(LargestPlan);
        return std::nullopt;
    }
    // Its text goes into the log as a JSON string and must come back the same.
    if (QString::fromUtf8(text).toUtf8() != text) {
        *why = QStringLiteral("not UTF-8 text");
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        *why = QStringLiteral("%1: %2").arg(placeOf(text, error.offset), error.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *why = QStringLiteral("line 1, column 1: a plan is one JSON object");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    TestPlan plan;
    if (!check(o, QString(), PlanFields, why) ||
        !readDeck(o.value(QStringLiteral("deck")).toArray(), plan, why) ||
        !readThresholds(o.value(QStringLiteral("thresholds")).toObject(), plan.thresholds, why))
        return std::nullopt;
    plan.name = o.value(QStringLiteral("name")).toString().trimmed();
    plan.pollMs = o.value(QStringLiteral("poll_ms")).toInt();
    plan.text = text;
    plan.digest = Sha256Hex(text);
    return plan;
}

std::optional<TestPlan> ReadTestPlanFile(const QString& path, QString* why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the plan %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray text = file.read(LargestPlan + 1);
    std::optional<TestPlan> plan = ReadTestPlan(text, why);
    if (!plan)
        *why = QStringLiteral("plan %1: %2").arg(path, *why);
    return plan;
}

} // namespace kora
