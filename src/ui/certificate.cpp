#include "ui/certificate.h"

#include "engine/planlog.h"
#include "ui/reportpages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>

namespace kora {

namespace {

QString escaped(const std::string& s)
{
    return QString::fromStdString(s).toHtmlEscaped();
}

QString orDash(const QString& s)
{
    return s.trimmed().isEmpty() ? QStringLiteral("-") : s.toHtmlEscaped();
}

QString certificateDate(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toString(u"yyyy-MM-dd HH:mm:ss");
}

QString certificateRow(const QStringList& cells, const char* tag = "td")
{
    QString row;
    for (const QString& c : cells)
        row += QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), c);
    return QStringLiteral("<tr>%1</tr>").arg(row);
}

QString certificateTable(const QStringList& headings, const QString& rows)
{
    return QStringLiteral("<table border=\"0.5\" cellspacing=\"0\" cellpadding=\"3\">%1%2</table>")
        .arg(certificateRow(headings, "th"), rows);
}

QString aboutRows(const LoggedPlan& p)
{
    const auto row = [](const char* name, const QString& value) {
        return QStringLiteral("<tr><th align=\"left\">%1</th><td>%2</td></tr>")
            .arg(QLatin1String(name), value);
    };
    return QStringLiteral("<table cellpadding=\"2\">%1</table>")
        .arg(row("Unit serial number", orDash(p.who.unitSerial)) +
             row("Unit model", orDash(p.who.unitModel)) +
             row("Unit firmware", orDash(p.who.unitFirmware)) +
             row("Unit notes", orDash(p.who.unitNotes)) + row("Plan", p.plan.name.toHtmlEscaped()) +
             row("Plan SHA-256", p.plan.digest) +
             row("Date", QStringLiteral("%1 to %2")
                             .arg(certificateDate(p.began), certificateDate(p.ended))) +
             row("Operator", orDash(p.who.operatorName)) +
             row("Run by", p.writtenBy.empty() ? QStringLiteral("-") : escaped(p.writtenBy)) +
             row("Certificate by",
                 QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                             QCoreApplication::applicationVersion())));
}

QString deckTable(const PlanJudge& judge)
{
    QString rows;
    for (std::size_t i = 0; i < judge.deck().size(); ++i) {
        const PlanStep& step = judge.deck()[i];
        const StepFigures& f = judge.figures(i);
        const std::optional<double> median = f.medianMs();
        rows +=
            certificateRow({QString::number(i + 1), QString::number(step.bill),
                            step.mustRefuse ? QStringLiteral("refused") : QStringLiteral("taken"),
                            QString::number(step.notes), QString::number(f.inserted),
                            QString::number(f.takenFirstTime()), QString::number(f.refused),
                            QString::number(f.jams),
                            median ? QStringLiteral("%1 s").arg(*median / 1000.0, 0, 'f', 1)
                                   : QStringLiteral("-")});
    }
    return certificateTable({"Step", "Bill", "Must be", "Notes", "Inserted", "Taken first time",
                             "Refused", "Jams", "Median cycle"},
                            rows);
}

QString criteriaTable(const PlanJudge& judge)
{
    QString rows;
    for (const Criterion& c : judge.criteria())
        rows += certificateRow({escaped(c.name), escaped(c.threshold), escaped(c.measured),
                                c.pass ? QStringLiteral("PASS") : QStringLiteral("<b>FAIL</b>")});
    return certificateTable({"Criterion", "Threshold", "Measured", "Result"}, rows);
}

QString verdictHtml(const LoggedPlan& p)
{
    const QString colour = p.verdict == PlanVerdict::Pass   ? QStringLiteral("#1a7f37")
                           : p.verdict == PlanVerdict::Fail ? QStringLiteral("#b42318")
                                                            : QStringLiteral("#9a6700");
    QString verdict = QStringLiteral("<p style=\"font-size:36pt; color:%1\"><b>%2</b></p>")
                          .arg(colour, QLatin1String(VerdictWord(p.verdict)));
    if (p.verdict == PlanVerdict::Incomplete)
        verdict += QStringLiteral("<p>%1</p>").arg(escaped(p.incompleteWhy));
    return verdict;
}

QString logHtml(const LoggedPlan& p, const QString& logName)
{
    return QStringLiteral("<h3>Log</h3><p>%1, its first %2 bytes, up to the plan's last row; "
                          "their SHA-256:<br/>%3<br/>Check: head -c %2 %1 | sha256sum</p>")
        .arg(logName.toHtmlEscaped())
        .arg(p.length)
        .arg(p.sha256);
}

void page(Pages& pages, const LoggedPlan& p, const QString& logName)
{
    pages.newPage();
    pages.flow(QStringLiteral("<h1>Kora232 bench test certificate</h1>%1<h3>Deck</h3>%2"
                              "<h3>Criteria</h3>%3%4%5")
                   .arg(aboutRows(p), deckTable(p.judge), criteriaTable(p.judge), verdictHtml(p),
                        logHtml(p, logName)));
}

} // namespace

ReportResult WriteCertificates(const QString& logPath, const QString& pdfPath)
{
    if (!QFileInfo(logPath).isReadable())
        return {2, QStringLiteral("cannot read %1").arg(logPath)};
    if (auto refused = ReportOutputRefusal(pdfPath, logPath))
        return *refused;
    QString why;
    const std::optional<std::vector<LoggedPlan>> plans = ReadLoggedPlans(logPath, &why);
    if (!plans)
        return {2, why};
    if (plans->empty())
        return {2, QStringLiteral("%1 holds no plan run").arg(logPath)};
    QSaveFile out(pdfPath);
    if (!out.open(QIODevice::WriteOnly))
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    const QString logName = QFileInfo(logPath).fileName();
    {
        Pages pages(out, QStringLiteral("Kora232 bench test certificate"));
        for (const LoggedPlan& p : *plans)
            page(pages, p, logName);
        if (!pages.ok() || !pages.end())
            return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    }
    // The path may have changed while the log was read.
    if (auto refused = ReportOutputRefusal(pdfPath, logPath)) {
        out.cancelWriting();
        return *refused;
    }
    if (!out.commit())
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    QStringList verdicts;
    for (const LoggedPlan& p : *plans)
        verdicts << QLatin1String(VerdictWord(p.verdict));
    return {0, QStringLiteral("%1: a certificate of %2 plan run%3 (%4)")
                   .arg(pdfPath)
                   .arg(plans->size())
                   .arg(plans->size() == 1 ? "" : "s")
                   .arg(verdicts.join(QStringLiteral(", ")))};
}

} // namespace kora
