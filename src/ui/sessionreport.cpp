#include "ui/sessionreport.h"

#include "record/pdfoutput.h"
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
    const QString restarts = f.acrossRestart()
                                 ? QStringLiteral(" (%1 bill%2 across a restart left out)")
                                       .arg(f.acrossRestart())
                                       .arg(f.acrossRestart() == 1 ? "" : "s")
                                 : QString();
    return table({"", "Inserted", "Stacked", "Returned", "Rejected", "Other"}, rows) +
           QStringLiteral("<p>Acceptance rate %1; bill time, median %2, maximum %3%4.</p>")
               .arg(figure(f.acceptancePercent(), "%"), MsText(f.medianCycleMs()),
                    MsText(f.maxCycleMs()), restarts) +
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

// Starts that never opened their port, outside the sessions and their rates.
QString failedStartsHtml(const std::vector<FailedStart>& failed)
{
    QString rows;
    for (const FailedStart& f : failed)
        rows += QStringLiteral("<tr>%1%2%3</tr>")
                    .arg(cell(when(f.from)), cell(when(f.until)), cell(text(f.what)));
    return QStringLiteral("<h2>Failed starts</h2><p>%1 start%2 whose port never opened, "
                          "each until the next row of the log; none is a session.</p>")
               .arg(failed.size())
               .arg(failed.size() == 1 ? "" : "s") +
           table({"From", "Until", "What"}, rows);
}

void section(Pages& pages, const SessionSummary& s, const QString& logName, const QString& title)
{
    pages.newPage();
    pages.flow(QStringLiteral("<h1>Kora232 session report</h1><h2>%1</h2>%2"
                              "<h3>Bills counted</h3>%3"
                              // A heading's own top margin is lost at the top of a
                              // table's cell: the cells keep the room from the table above.
                              "<table cellpadding=\"0\" cellspacing=\"0\"><tr>"
                              "<td style=\"padding-top: 12px\"><h3>Acceptance</h3>%4</td>"
                              "<td width=\"24\"></td>"
                              "<td style=\"padding-top: 12px\"><h3>Link</h3>%5</td></tr></table>")
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

// The names of the files a session's rows came from.
QString logNames(const SessionSummary& s, const QString& single)
{
    if (s.logs.size() < 2)
        return single.isEmpty() && !s.logs.empty()
                   ? QFileInfo(QFile::decodeName(s.logs.front().c_str())).fileName()
                   : single;
    QStringList names;
    for (const std::string& log : s.logs)
        names << QFileInfo(QFile::decodeName(log.c_str())).fileName();
    return names.join(QStringLiteral(", "));
}

// The bills of every session, from the bills counted in each log and each
// cycle, never from counters: a session that continues a run brings its
// counts so far, which another session already counted.
struct Totals
{
    int sessions = 0;
    std::uint64_t polls = 0;
    BillCounts counted{};
    std::array<BillFigures::Row, 8> bills{};
    long acrossRestart = 0;

    void add(const SessionSummary& s)
    {
        ++sessions;
        polls += s.link.polls();
        const BillCounts soFar = s.start.countsSoFar.value_or(BillCounts{});
        for (std::size_t n = 0; n < counted.size(); ++n)
            counted[n] += s.counted[n] - soFar[n];
        for (int b = 0; b < 8; ++b) {
            const BillFigures::Row& r = s.bills.of(b);
            BillFigures::Row& t = bills[static_cast<std::size_t>(b)];
            t.inserted += r.inserted, t.stacked += r.stacked, t.returned += r.returned;
            t.rejected += r.rejected, t.other += r.other;
        }
        acrossRestart += s.bills.acrossRestart();
    }

    QString html(const LogsRead& read) const
    {
        QString rows;
        BillFigures::Row sum;
        long countedSum = 0;
        for (int b = 0; b <= 8; ++b) {
            const BillFigures::Row r = b < 8 ? bills[static_cast<std::size_t>(b)] : sum;
            const long c = b == 0  ? 0
                           : b < 8 ? counted[static_cast<std::size_t>(b - 1)]
                                   : countedSum;
            if (b < 8) {
                sum.inserted += r.inserted, sum.stacked += r.stacked, sum.returned += r.returned;
                sum.rejected += r.rejected, sum.other += r.other;
                countedSum += c;
            }
            const QString name = b == 0   ? QStringLiteral("Unknown")
                                 : b == 8 ? QStringLiteral("Total")
                                          : QStringLiteral("Bill %1").arg(b);
            rows +=
                QStringLiteral("<tr>%1%2%3%4%5%6%7</tr>")
                    .arg(cell(name), cell(b == 0 ? QStringLiteral("-") : QString::number(c), true),
                         cell(QString::number(r.inserted), true),
                         cell(QString::number(r.stacked), true),
                         cell(QString::number(r.returned), true),
                         cell(QString::number(r.rejected), true),
                         cell(QString::number(r.other), true));
        }
        QStringList names;
        for (const std::string& log : read.read)
            names << text(log);
        return QStringLiteral("<h1>Totals across all logs</h1><p>%1 session%2, %3 polls, from %4 "
                              "(oldest first).</p>")
                   .arg(sessions)
                   .arg(sessions == 1 ? "" : "s")
                   .arg(polls)
                   .arg(names.join(QStringLiteral(", "))) +
               table({"", "Counted", "Inserted", "Stacked", "Returned", "Rejected", "Other"},
                     rows) +
               (acrossRestart ? QStringLiteral("<p>%1 bill%2 across a restart, each counted "
                                               "once, where it ended.</p>")
                                    .arg(acrossRestart)
                                    .arg(acrossRestart == 1 ? "" : "s")
                              : QString());
    }
};

// What was left out of the logs given, each in a paragraph.
QString notesHtml(const LogsRead& read)
{
    QString html;
    for (const auto* lines : {&read.skipped, &read.damaged})
        for (const std::string& line : *lines)
            html += QStringLiteral("<p>%1</p>").arg(text(line));
    if (read.outside)
        html +=
            QStringLiteral("<p>%1 rows outside any session were skipped.</p>").arg(read.outside);
    return html;
}

} // namespace

std::optional<ReportResult> ReportOutputRefusal(const QString& pdfPath, const QStringList& logPaths)
{
    std::vector<std::string> logs;
    for (const QString& path : logPaths)
        logs.push_back(QFile::encodeName(path).toStdString());
    const std::string why = PdfOutputRefusal(QFile::encodeName(pdfPath).toStdString(), logs);
    if (why.empty())
        return std::nullopt;
    return ReportResult{
        2, QStringLiteral("cannot write %1: %2").arg(pdfPath, QString::fromLocal8Bit(why.c_str()))};
}

std::optional<ReportResult> ReportOutputRefusal(const QString& pdfPath, const QString& logPath)
{
    return ReportOutputRefusal(pdfPath, QStringList{logPath});
}

ReportResult WriteSessionReport(const QString& logPath, const QString& pdfPath,
                                ReportSessions which)
{
    return WriteSessionReport(QStringList{logPath}, pdfPath, which);
}

ReportResult WriteSessionReport(const QStringList& logPaths, const QString& pdfPath,
                                ReportSessions which)
{
    std::vector<std::string> logs;
    for (const QString& path : logPaths)
        logs.push_back(QFile::encodeName(path).toStdString());
    if (auto refused = ReportOutputRefusal(pdfPath, logPaths))
        return *refused;
    QSaveFile out(pdfPath);
    if (!out.open(QIODevice::WriteOnly))
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    // One log is named on its pages as it was given, several by each file.
    const QString single =
        logPaths.size() == 1 ? QFileInfo(logPaths.front()).fileName() : QString();
    Pages pages(out, QStringLiteral("Kora232 session report"));
    Totals totals;
    std::optional<SessionSummary> last;
    const LogsRead read = AnalyseLogs(logs, [&](const SessionSummary& s) {
        totals.add(s);
        if (which == ReportSessions::Last)
            last = s;
        else
            section(pages, s, logNames(s, single), QStringLiteral("Session %1").arg(s.number));
    });
    if (read.read.empty()) {
        out.cancelWriting();
        QStringList why;
        for (const std::string& line : read.skipped)
            why << QString::fromStdString(line);
        return {2, why.join(QStringLiteral("; "))};
    }
    if (last)
        section(pages, *last, logNames(*last, single),
                QStringLiteral("Session %1, the last in the log").arg(last->number));
    if (totals.sessions == 0)
        pages.flow(QStringLiteral("<h1>Kora232 session report</h1><p>%1 holds no session.</p>")
                       .arg((single.isEmpty() ? QStringLiteral("None of the logs") : single)
                                .toHtmlEscaped()));
    else if (logPaths.size() > 1 && which == ReportSessions::All)
        pages.flow(totals.html(read));
    if (!read.failedStarts.empty())
        pages.flow(failedStartsHtml(read.failedStarts));
    if (const QString notes = notesHtml(read); !notes.isEmpty())
        pages.flow(notes);
    if (!pages.ok() || !pages.end())
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    // The path may have changed while the logs were read.
    if (auto refused = ReportOutputRefusal(pdfPath, logPaths)) {
        out.cancelWriting();
        return *refused;
    }
    if (!out.commit())
        return {1, QStringLiteral("cannot write %1: %2").arg(pdfPath, out.errorString())};
    const int sessions =
        which == ReportSessions::Last ? std::min(totals.sessions, 1) : totals.sessions;
    QString message = QStringLiteral("%1: a report of %2 session%3")
                          .arg(pdfPath)
                          .arg(sessions)
                          .arg(sessions == 1 ? "" : "s");
    if (logPaths.size() > 1)
        message += QStringLiteral(" from %1 log%2")
                       .arg(read.read.size())
                       .arg(read.read.size() == 1 ? "" : "s");
    for (const auto* lines : {&read.skipped, &read.damaged})
        for (const std::string& line : *lines)
            message += QStringLiteral("; ") + QString::fromStdString(line);
    return {0, message};
}

} // namespace kora
