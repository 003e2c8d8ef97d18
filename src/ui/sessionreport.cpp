#include "ui/sessionreport.h"

#include "record/outputpath.h"
#include "record/pollreport.h"
#include "record/sessionanalysis.h"
#include "ui/linkstatsview.h"
#include "ui/plots.h"
#include "ui/reportpages.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <fstream>

namespace kora {

namespace {

constexpr std::size_t TimelineColumns = 120;

QString when(LogClock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toString(u"yyyy-MM-dd HH:mm:ss.zzz");
}

QString text(const std::string& s)
{
    return QString::fromStdString(s).toHtmlEscaped();
}

QString cell(const QString& content, bool number = false)
{
    return number ? QStringLiteral("<td align=\"right\">%1</td>").arg(content)
                  : QStringLiteral("<td>%1</td>").arg(content);
}

QString table(const QStringList& headings, const QString& rows)
{
    QString head;
    for (const QString& h : headings)
        head += QStringLiteral("<th align=\"left\">%1</th>").arg(h);
    return QStringLiteral("<table border=\"0.5\" cellspacing=\"0\" cellpadding=\"3\">"
                          "<tr>%1</tr>%2</table>")
        .arg(head, rows);
}

QString figure(std::optional<double> value, const char* unit)
{
    return value ? QStringLiteral("%1 %2").arg(*value, 0, 'f', 1).arg(QLatin1String(unit))
                 : QStringLiteral("-");
}

// How the session began, when not with a start of its own.
QString startRows(const SessionSummary& s)
{
    const auto row = [](const char* name, const QString& value) {
        return QStringLiteral("<tr><th align=\"left\">%1</th>%2</tr>")
            .arg(QLatin1String(name), cell(value));
    };
    QString rows;
    if (!s.hasStartRow)
        rows += row("Start row", QStringLiteral("none: the log begins mid-session"));
    if (!s.start.reason.empty())
        rows += row("Continues a run", text(s.start.reason));
    if (!s.start.continuesFrom.empty())
        rows += row("Continues from the log", text(s.start.continuesFrom));
    return rows;
}

QString headerRows(const SessionSummary& s, const QString& logName)
{
    const auto row = [](const char* name, const QString& value) {
        return QStringLiteral("<tr><th align=\"left\">%1</th>%2</tr>")
            .arg(QLatin1String(name), cell(value));
    };
    const std::string by = s.writtenBy();
    QString rows =
        row("Log", logName.toHtmlEscaped()) +
        row("Device", s.device().empty() ? QStringLiteral("-") : text(s.device())) +
        row("Port", s.port().empty() ? QStringLiteral("-") : text(s.port())) +
        row("Settings", text(s.settings())) + startRows(s) + row("First row", when(s.first)) +
        row("Last row", when(s.last)) +
        row("Ended", s.stopped ? QStringLiteral("with its stop row")
                               : QStringLiteral("without a stop row: the log ends "
                                                "mid-session")) +
        row("Written by", by.empty() ? QStringLiteral("a version that did not name "
                                                      "itself")
                                     : text(by)) +
        row("Report by", QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                                     QCoreApplication::applicationVersion()));
    if (s.countsAtStop)
        rows += row("Counters at STOP", text(CountsText(*s.countsAtStop)));
    if (s.badRows)
        rows += row("Rows skipped", text(s.badRowsText()));
    return QStringLiteral("<table cellpadding=\"2\">%1</table>").arg(rows);
}

QString countsRow(const QString& caption, const BillCounts& counts, bool signs = false)
{
    QString cells = caption.isEmpty() ? QString() : cell(caption);
    long total = 0;
    for (const long n : counts) {
        cells +=
            cell((signs && n > 0 ? QStringLiteral("+") : QString()) + QString::number(n), true);
        total += n;
    }
    cells +=
        cell((signs && total > 0 ? QStringLiteral("+") : QString()) + QString::number(total), true);
    return QStringLiteral("<tr>%1</tr>").arg(cells);
}

QString adjustmentsTable(const SessionSummary& s)
{
    QString rows;
    for (const Adjustment& a : s.adjustments)
        rows += QStringLiteral("<tr>%1%2%3%4</tr>")
                    .arg(cell(when(a.time)), cell(QString::number(a.bill), true),
                         cell(QString::number(a.from), true), cell(QString::number(a.to), true));
    QString html = QStringLiteral("<h3>Adjustments by the operator</h3>") +
                   table({"Time", "Bill", "From", "To"}, rows);
    if (s.adjustmentsLeftOut)
        html += QStringLiteral("<p>%1 more not listed.</p>").arg(s.adjustmentsLeftOut);
    return html;
}

// The bills counted; for a session that continues a run or whose counters
// the operator set, what the counters at STOP are made of, each part a row.
QString countsTable(const SessionSummary& s)
{
    const QStringList bills{"Bill 1", "Bill 2", "Bill 3", "Bill 4",
                            "Bill 5", "Bill 6", "Bill 7", "Total"};
    if (!s.start.countsSoFar && s.adjustments.empty())
        return table(bills, countsRow({}, s.counted));
    const BillCounts soFar = s.start.countsSoFar.value_or(BillCounts{});
    BillCounts own{};
    for (std::size_t n = 0; n < own.size(); ++n)
        own[n] = s.counted[n] - soFar[n];
    QString rows;
    if (s.start.countsSoFar)
        rows += countsRow(QStringLiteral("Counts so far"), soFar);
    rows += countsRow(QStringLiteral("Counted in this log"), own);
    if (!s.adjustments.empty())
        rows += countsRow(QStringLiteral("Adjusted"), s.adjusted, true);
    rows += countsRow(QStringLiteral("Sum"), s.countersExpected());
    if (s.countsAtStop)
        rows += countsRow(QStringLiteral("Counters at STOP"), *s.countsAtStop);
    QString html = table(QStringList{""} + bills, rows);
    if (s.countsAtStop)
        html += *s.countsAtStop == s.countersExpected()
                    ? QStringLiteral("<p>The sum equals the counters at STOP.</p>")
                    : QStringLiteral("<p>The sum differs from the counters at STOP.</p>");
    return s.adjustments.empty() ? html : html + adjustmentsTable(s);
}

QString billsTable(const BillFigures& f)
{
    QString rows;
    for (int r = 0; r <= 8; ++r) {
        const BillFigures::Row row = r < 8 ? f.of(r) : f.total();
        const QString name = r == 0   ? QStringLiteral("Unknown")
                             : r == 8 ? QStringLiteral("Total")
                                      : QStringLiteral("Bill %1").arg(r);
        rows += QStringLiteral("<tr>%1%2%3%4%5%6</tr>")
                    .arg(cell(name), cell(QString::number(row.inserted), true),
                         cell(QString::number(row.stacked), true),
                         cell(QString::number(row.returned), true),
                         cell(QString::number(row.rejected), true),
                         cell(QString::number(row.other), true));
    }
    const AcceptorEvents& e = f.events();
    return table({"", "Inserted", "Stacked", "Returned", "Rejected", "Other"}, rows) +
           QStringLiteral("<p>Acceptance rate %1; bill time, median %2, maximum %3.</p>")
               .arg(figure(f.acceptancePercent(), "%"), MsText(f.medianCycleMs()),
                    MsText(f.maxCycleMs())) +
           QStringLiteral("<p>Acceptor events: jams %1, stacker full %2, failures %3, "
                          "power-ups %4.</p>")
               .arg(e.jams)
               .arg(e.stackerFull)
               .arg(e.failures)
               .arg(e.powerUps);
}

// Name and value, a row each, as the statistics window lists them.
QString linkTable(const LinkStats& l)
{
    QString rows;
    for (const auto& [name, value] :
         LinkFigureTexts(l, QString::number(l.runningSeconds({}), 'f', 1) + QStringLiteral(" s")))
        rows += QStringLiteral("<tr>%1%2</tr>").arg(cell(name), cell(value, true));
    return QStringLiteral("<table border=\"0.5\" cellspacing=\"0\" cellpadding=\"3\">%1</table>")
        .arg(rows);
}

QString anomaliesHtml(const SessionSummary& s)
{
    QString html = QStringLiteral("<h2>Anomalies</h2>");
    if (s.anomalies.empty())
        return html + QStringLiteral("<p>None.</p>");
    QString rows;
    for (const Anomaly& a : s.anomalies)
        rows += QStringLiteral("<tr>%1%2</tr>").arg(cell(when(a.time)), cell(text(a.what)));
    html += table({"Time", "What"}, rows);
    if (s.anomaliesLeftOut)
        html += QStringLiteral("<p>%1 more not listed.</p>").arg(s.anomaliesLeftOut);
    return html;
}

void section(Pages& pages, const SessionSummary& s, const QString& logName, const QString& title)
{
    pages.newPage();
    pages.flow(QStringLiteral("<h1>Kora232 session report</h1><h2>%1</h2>%2"
                              "<h3>Bills counted</h3>%3"
                              "<table cellpadding=\"0\" cellspacing=\"0\"><tr>"
                              "<td><h3>Acceptance</h3>%4</td><td width=\"24\"></td>"
                              "<td><h3>Link</h3>%5</td></tr></table>")
                   .arg(title, headerRows(s, logName), countsTable(s), billsTable(s.bills),
                        linkTable(s.link)));
    pages.plot(
        QStringLiteral("Reply times"), s.link.histogram().describe(),
        [&](QPainter& p, const QRectF& r) { PaintReplyHistogram(p, r, s.link.histogram()); });
    const Timeline timeline = s.link.timeline().fitted(TimelineColumns);
    pages.plot(QStringLiteral("Polls over the session"), timeline.describe(),
               [&](QPainter& p, const QRectF& r) { PaintTimeline(p, r, timeline); });
    pages.flow(anomaliesHtml(s));
}

} // namespace

// Refused when the PDF would replace the log or anything not a regular file.
std::optional<ReportResult> ReportOutputRefusal(const QString& pdfPath, const QString& logPath)
{
    const std::string why = OutputPathRefusal(QFile::encodeName(pdfPath).toStdString(),
                                              QFile::encodeName(logPath).toStdString());
    if (why.empty())
        return std::nullopt;
    return ReportResult{
        2, QStringLiteral("cannot write %1: %2").arg(pdfPath, QString::fromLocal8Bit(why.c_str()))};
}

ReportResult WriteSessionReport(const QString& logPath, const QString& pdfPath,
                                ReportSessions which)
{
    std::ifstream in(QFile::encodeName(logPath).toStdString(), std::ios::binary);
    if (!in)
        return {2, QStringLiteral("cannot read %1").arg(logPath)};
    if (auto refused = ReportOutputRefusal(pdfPath, logPath))
        return *refused;
    QSaveFile out(pdfPath);
    if (!out.open(QIODevice::WriteOnly))
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    const QString logName = QFileInfo(logPath).fileName();
    Pages pages(out, QStringLiteral("Kora232 session report"));
    int sessions = 0;
    std::optional<SessionSummary> last;
    std::size_t outside = 0;
    const auto refused = AnalyseLog(
        in,
        [&](const SessionSummary& s) {
            ++sessions;
            if (which == ReportSessions::Last)
                last = s;
            else
                section(pages, s, logName, QStringLiteral("Session %1").arg(s.number));
        },
        &outside);
    if (refused) {
        out.cancelWriting();
        return {2, QStringLiteral("%1 is not a session log: %2")
                       .arg(logPath, QString::fromStdString(*refused))};
    }
    if (last)
        section(pages, *last, logName,
                QStringLiteral("Session %1, the last in the log").arg(last->number));
    if (sessions == 0)
        pages.flow(QStringLiteral("<h1>Kora232 session report</h1><p>%1 holds no session.</p>")
                       .arg(logName.toHtmlEscaped()));
    if (outside)
        pages.flow(QStringLiteral("<p>%1 rows outside any session were skipped.</p>").arg(outside));
    if (!pages.ok() || !pages.end())
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    // The path may have changed while the log was read.
    if (auto refused = ReportOutputRefusal(pdfPath, logPath)) {
        out.cancelWriting();
        return *refused;
    }
    if (!out.commit())
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    return {0, QStringLiteral("%1: a report of %2 session%3")
                   .arg(pdfPath)
                   .arg(which == ReportSessions::Last ? std::min(sessions, 1) : sessions)
                   .arg(sessions == 1 || which == ReportSessions::Last ? "" : "s")};
}

} // namespace kora
