#include "engine/planlog.h"

#include "record/logreader.h"
#include "record/logsessions.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>

namespace kora {

namespace {

QJsonObject unitObject(const PlanPeople& who)
{
    return {{QStringLiteral("serial"), who.unitSerial},
            {QStringLiteral("model"), who.unitModel},
            {QStringLiteral("firmware"), who.unitFirmware},
            {QStringLiteral("notes"), who.unitNotes}};
}

// The plan row's JSON read back; none, with why, when it is not a plan the
// digest names.
std::optional<LoggedPlan> readBegins(const std::string& events, QString* why)
{
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(events.substr(PlanBegins.size())));
    const QJsonObject o = doc.object();
    const QByteArray text = o.value(QStringLiteral("plan")).toString().toUtf8();
    const QString digest = o.value(QStringLiteral("sha256")).toString();
    QString wrong;
    std::optional<TestPlan> plan = ReadTestPlan(text, &wrong);
    if (!plan || plan->digest != digest) {
        *why = plan ? QStringLiteral("the plan's text is not the one its digest names")
                    : QStringLiteral("the plan's text does not read back: %1").arg(wrong);
        return std::nullopt;
    }
    LoggedPlan logged;
    const QJsonObject unit = o.value(QStringLiteral("unit")).toObject();
    logged.who = {unit.value(QStringLiteral("serial")).toString(),
                  unit.value(QStringLiteral("model")).toString(),
                  unit.value(QStringLiteral("firmware")).toString(),
                  unit.value(QStringLiteral("notes")).toString(),
                  o.value(QStringLiteral("operator")).toString()};
    logged.judge = PlanJudge(plan->deck, plan->thresholds);
    logged.plan = std::move(*plan);
    return logged;
}

// The first `length` bytes of the file, hashed.
QString digestOf(const QString& path, std::uint64_t length)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (length > 0) {
        const QByteArray chunk = file.read(qint64(std::min<std::uint64_t>(length, 1 << 20)));
        if (chunk.isEmpty())
            return {};
        hash.addData(chunk);
        length -= std::uint64_t(chunk.size());
    }
    return QString::fromLatin1(hash.result().toHex());
}

// Reads the log's rows in order: the frames of each poll row, judged for
// repeats by their bytes as the live session judged them, go to the plan
// that is running.
class PlanReader
{
public:
    bool row(const LogRow& row, std::uint64_t end, QString* why)
    {
        const LogSessions::Place place = sessions_.place(row);
        if (open_ && place.begins)
            finish("the session ended without the plan's end row");
        if (place.startRow && row.start && row.start->continuesFrame)
            lastFrame_ = row.start->continuesFrame;
        if (place.startRow && row.start)
            writtenBy_ = row.start->writtenBy;
        if (row.kind == "poll" && open_)
            open_->length = end;
        if (row.kind == "poll")
            poll(row);
        else if (row.kind == "read") // frames a stop read, after any plan's end row
            for (const LoggedFrame& f : row.parts.early)
                read(f.bytes, f.count, row);
        else if (row.kind == "plan")
            return plan(row, end, why);
        else if (open_ && place.ends)
            finish("the session ended without the plan's end row");
        return true;
    }

    void end() // of the log
    {
        if (open_)
            finish("the log ends before the plan does");
    }

    std::vector<LoggedPlan> plans;

private:
    bool plan(const LogRow& row, std::uint64_t end, QString* why)
    {
        if (row.events.starts_with(PlanBegins)) {
            if (open_)
                finish("another plan began");
            std::optional<LoggedPlan> begun = readBegins(row.events, why);
            if (!begun) {
                *why = QStringLiteral("line %1: %2").arg(row.line).arg(*why);
                return false;
            }
            open_ = std::move(begun);
            open_->began = open_->ended = row.time;
            open_->writtenBy = writtenBy_;
            open_->length = end;
            return true;
        }
        if (open_) {
            open_->ended = row.time;
            open_->length = end;
            const std::string said = row.events.substr(PlanEnds.size());
            const std::string incomplete = VerdictWord(PlanVerdict::Incomplete);
            finish(said.starts_with(incomplete)
                       ? said.substr(std::min(said.size(), incomplete.size() + 2))
                       : std::string());
        }
        return true;
    }

    void poll(const LogRow& row)
    {
        for (const auto* frames : {&row.parts.early, &row.parts.otherBit})
            for (const LoggedFrame& f : *frames)
                read(f.bytes, f.count, row);
        if (row.outcome != "good")
            return;
        ReplyFrame answer;
        std::copy(row.replyBytes.begin(), row.replyBytes.end(), answer.raw().begin());
        read(answer, row.parts.answer.value_or(FrameCount{}), row);
    }

    void read(const ReplyFrame& bytes, FrameCount count, const LogRow& row)
    {
        count.repeat = lastFrame_ == bytes;
        lastFrame_ = bytes;
        if (open_) {
            open_->judge.read(bytes, count, row.time);
            open_->ended = row.time;
        }
    }

    // An empty `why` for a plan that ended with its own end row and done.
    void finish(const std::string& why)
    {
        LoggedPlan& p = *open_;
        p.incompleteWhy = why;
        if (!p.judge.done() && why.empty())
            p.incompleteWhy = "not every step was done";
        p.verdict = p.incompleteWhy.empty() ? p.judge.verdict() : PlanVerdict::Incomplete;
        plans.push_back(std::move(p));
        open_.reset();
    }

    LogSessions sessions_;
    std::optional<ReplyFrame> lastFrame_;
    std::optional<LoggedPlan> open_;
    std::string writtenBy_;
};

} // namespace

std::string PlanBeginsText(const TestPlan& plan, const PlanPeople& who)
{
    const QJsonObject o{{QStringLiteral("name"), plan.name},
                        {QStringLiteral("sha256"), plan.digest},
                        {QStringLiteral("unit"), unitObject(who)},
                        {QStringLiteral("operator"), who.operatorName},
                        {QStringLiteral("plan"), QString::fromUtf8(plan.text)}};
    return std::string(PlanBegins) + QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::string PlanEndsText(PlanVerdict verdict, const std::string& why)
{
    return std::string(PlanEnds) + VerdictWord(verdict) + (why.empty() ? "" : ": " + why);
}

std::optional<std::vector<LoggedPlan>> ReadLoggedPlans(const QString& path, QString* why)
{
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    if (!in) {
        *why = QStringLiteral("cannot read %1").arg(path);
        return std::nullopt;
    }
    LogReader reader(in);
    if (!reader.notALog().empty()) {
        *why = QStringLiteral("%1 is not a session log: %2")
                   .arg(path, QString::fromStdString(reader.notALog()));
        return std::nullopt;
    }
    PlanReader plans;
    std::optional<LogRow> row;
    for (std::size_t line = 0; reader.next(row, line);)
        if (row && !plans.row(*row, reader.offset(), why)) {
            *why = QStringLiteral("%1, %2").arg(path, *why);
            return std::nullopt;
        }
    plans.end();
    for (LoggedPlan& p : plans.plans)
        p.sha256 = digestOf(path, p.length);
    return std::move(plans.plans);
}

} // namespace kora
