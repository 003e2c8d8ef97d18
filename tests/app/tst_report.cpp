// kora232 --report as a technician runs it, with no display: the committed
// noisy session's report read back with pdftotext and pdftoppm, and bad input.
#include "csvreader.h"
#include "hostilelogs.h"
#include "keptpaths.h"
#include "programrun.h"
#include "ui/plots.h"

#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString NoisyLog = QStringLiteral(KORA_TEST_DATA "/noisy-session.csv");

using Run = ProgramRun;

Run run(const QString& program, const QStringList& arguments, bool noDisplay = false)
{
    return RunProgram(program, arguments,
                      noDisplay ? QStringList{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                              "XDG_RUNTIME_DIR"}
                                : QStringList{});
}

Run report(const QString& log, const QString& pdf)
{
    return run(QStringLiteral(KORA232), {"--report", log, pdf}, true);
}

QString pdfText(const QString& pdf)
{
    return run(QStringLiteral("pdftotext"), {"-layout", pdf, "-"}).out;
}

QList<QStringList> logRows(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return parseCsv(QString::fromUtf8(file.readAll()));
}

// A log row's time as the report shows it, in this machine's zone.
QString shown(const QString& logTime)
{
    return QDateTime::fromString(logTime, Qt::ISODateWithMs)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

// "polls 232, good 208" and "bills: inserted 15, ..." as name -> value.
QMap<QString, QString> figuresOf(const QString& text)
{
    QMap<QString, QString> figures;
    const QRegularExpression pair(QStringLiteral("([a-z_]+)[ =]([0-9.]+)"));
    for (auto m = pair.globalMatch(text); m.hasNext();) {
        const auto match = m.next();
        figures[match.captured(1)] = match.captured(2);
    }
    return figures;
}

void expectLine(const QString& text, const QString& pattern)
{
    QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(),
             qPrintable(pattern + QStringLiteral(" not in:\n") + text.left(3000)));
}

} // namespace

class ReportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString noisyPdf;
    QString noisyText;

private slots:
    void initTestCase()
    {
        noisyPdf = dir.filePath(QStringLiteral("noisy.pdf"));
        const Run r = report(NoisyLog, noisyPdf);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QStringLiteral("a report of 1 session")), qPrintable(r.out));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err)); // nothing from Qt about what is missing
        noisyText = pdfText(noisyPdf);
        QVERIFY(!noisyText.isEmpty());
    }

    void theReportGivesTheFiguresOfTheLogsStopRow()
    {
        const QStringList stop = logRows(NoisyLog).last();
        QCOMPARE(stop.at(1), QStringLiteral("stop"));
        const QStringList parts = stop.at(8).split(QStringLiteral("; "));
        const auto f = figuresOf(parts.at(1) + ", " + parts.at(2));
        QStringList counts; // bills 1-7 and the total, in that order
        for (auto m = QRegularExpression(QStringLiteral("=(\\d+)")).globalMatch(parts.at(0));
             m.hasNext();)
            counts << m.next().captured(1);
        QCOMPARE(counts.size(), 8);
        expectLine(noisyText, "Bill 7 +Total\\n *" + counts.join(QStringLiteral(" +")) + "\\n");
        expectLine(noisyText,
                   QStringLiteral("Total +%1 +%2 +%3 +%4 +%5\\n")
                       .arg(f["inserted"], f["stacked"], f["returned"], f["rejected"], f["other"]));
        expectLine(noisyText,
                   QStringLiteral("Acceptance rate %1 %; bill time, median %2 ms, "
                                  "maximum %3 ms")
                       .arg(f["acceptance_percent"], f["cycle_median_ms"], f["cycle_max_ms"]));
        expectLine(noisyText,
                   QStringLiteral("Acceptor events: jams %1, stacker full %2, failures "
                                  "%3, power-ups %4")
                       .arg(f["jams"], f["stacker_full"], f["failures"], f["power_ups"]));
        const double success = f["success_rate"].toDouble() * 100;
        for (const auto& [caption, value] :
             {std::pair{"Polls", f["polls"]},
              {"Good replies", f["good"]},
              {"No reply", f["no_reply"]},
              {"Checksum errors", f["checksum"]},
              {"Success rate", QString::number(success, 'f', 1) + " %"},
              {"Reply time, median", f["reply_median_ms"] + " ms"},
              {"Reply time, maximum", f["reply_max_ms"] + " ms"},
              {"Reconnects", f["reconnects"]},
              {"Running for", f["running_s"] + " s"}})
            expectLine(noisyText,
                       QLatin1String(caption) + " +" + QRegularExpression::escape(value));
        expectLine(noisyText, "Written by +kora232-headless 1\\.4\\n");
        expectLine(noisyText, "Report by +kora232 " + QRegularExpression::escape(KORA_VERSION));
        expectLine(noisyText, "First row +" + shown(logRows(NoisyLog).at(1).at(0)));
        expectLine(noisyText, "Last row +" + shown(stop.at(0)));
    }

    // Each device-lost, reconnected, refused, jammed, cheated, returned and
    // uncounted stacked report the log records is in the table at its time,
    // and so is the unplug's run of failed polls; nothing else is.
    void itsAnomaliesAreTheOnesTheLogRecords()
    {
        const QRegularExpression event(QStringLiteral(
            "device lost: [^,]*|reconnected|(a bill|bill \\d) (rejected|jammed|cheated|returned) "
            "after [0-9.]+ s|bill \\d stacked, not counted: [a-z-]+"));
        int expected = 1; // the unplug's failed polls
        for (const QStringList& row : logRows(NoisyLog)) {
            if (row.size() < 9 || row.at(1) != QLatin1String("poll"))
                continue;
            for (auto m = event.globalMatch(row.at(8)); m.hasNext(); ++expected)
                QVERIFY2(noisyText.contains(shown(row.at(0)) + ' ' + m.next().captured()),
                         qPrintable(row.join(',')));
        }
        expectLine(noisyText, "\\d\\.\\d{3} no good reply for 3\\.\\d s: 1\\d failed polls");
        const QString table = noisyText.mid(noisyText.indexOf(QStringLiteral("\nAnomalies")));
        QCOMPARE(table.count(QRegularExpression(QStringLiteral("\\n\\d{4}-\\d\\d-\\d\\d "))),
                 expected);
        QVERIFY(expected >= 8);
    }

    void thePlotsAreOnItsPages()
    {
        const QString prefix = dir.filePath(QStringLiteral("page"));
        QCOMPARE(run(QStringLiteral("pdftoppm"), {"-r", "100", "-png", noisyPdf, prefix}).status,
                 0);
        QMap<QRgb, int> found;
        for (const QString& name : QDir(dir.path()).entryList({"page*.png"})) {
            const QImage page(dir.filePath(name));
            for (int y = 0; y < page.height(); ++y)
                for (int x = 0; x < page.width(); ++x)
                    ++found[page.pixel(x, y) & 0xFFFFFF];
        }
        using namespace kora::PlotColours;
        for (const QRgb colour : {Good, Slow, NoReply, Checksum, Away})
            QVERIFY2(found.value(colour & 0xFFFFFF) > 20,
                     qPrintable(QString::number(colour, 16) + " missing"));
    }

    // The headings over the two tables side by side keep the room from the
    // table above that the first heading has: at the top of a table's cell a
    // heading loses its own margin.
    void everyHeadingKeepsItsRoomFromWhatIsAboveIt()
    {
        const QString boxes = run(QStringLiteral("pdftotext"),
                                  {"-bbox", "-f", "1", "-l", "1", noisyPdf, "-"})
                                  .out;
        static const QRegularExpression word(
            QStringLiteral("yMin=\"([\\d.]+)\" xMax=\"[\\d.]+\" yMax=\"([\\d.]+)\">([^<]*)<"));
        QList<std::pair<double, double>> spans; // top and bottom of each word
        QStringList words;
        for (auto m = word.globalMatch(boxes); m.hasNext();) {
            const auto w = m.next();
            spans.append({w.captured(1).toDouble(), w.captured(2).toDouble()});
            words.append(w.captured(3));
        }
        const auto roomAbove = [&](const QString& heading) {
            const qsizetype at = words.indexOf(heading);
            return at > 0 ? spans[at].first - spans[at - 1].second : -1.0;
        };
        const double first = roomAbove(QStringLiteral("Bills"));
        QVERIFY2(first > 5, qPrintable(boxes.left(2000)));
        const double underTable = roomAbove(QStringLiteral("Acceptance"));
        QVERIFY2(underTable > 0.8 * first,
                 qPrintable(QStringLiteral("%1 against %2").arg(underTable).arg(first)));
    }

    void badInputIsRefusedWithAClearMessage_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("pdf");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a session log") << "other.csv"
                                           << "out.pdf" << 2
                                           << "is not a session log: its first row has no time "
                                              "column";
        QTest::newRow("no such log") << "missing.csv"
                                     << "out.pdf" << 2 << "cannot read";
        QTest::newRow("output folder missing")
            << NoisyLog << "no-such-folder/out.pdf" << 1 << "cannot write";
        QTest::newRow("no output named") << NoisyLog << "" << 2 << "needs the PDF file to write";
        QTest::newRow("a device that never ends a line")
            << "/dev/zero"
            << "out.pdf" << 2 << "its first row is not the header";
    }

    void badInputIsRefusedWithAClearMessage()
    {
        QFETCH(QString, log);
        QFETCH(QString, pdf);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFile other(dir.filePath(QStringLiteral("other.csv")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("name,price\nkora,232\n");
        other.close();
        const QString logPath = QDir(dir.path()).absoluteFilePath(log);
        const QStringList arguments = pdf.isEmpty()
                                          ? QStringList{"--report", logPath}
                                          : QStringList{"--report", logPath, dir.filePath(pdf)};
        const Run r = run(QStringLiteral(KORA232), arguments, true);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.pdf"))));
    }

    // The report's PDF would replace the file at its path: refused, and the
    // file and the log are left as they were.
    void anOutputThatWouldReplaceAFileIsRefused_data() { keptpaths::AddRows(); }
    void anOutputThatWouldReplaceAFileIsRefused()
    {
        QFETCH(int, kind);
        QFETCH(QString, words);
        QTemporaryDir here;
        const QString log = here.filePath(QStringLiteral("log.csv"));
        words.replace(QStringLiteral("LOG"), log);
        QVERIFY(QFile::copy(NoisyLog, log));
        const QString out = keptpaths::Make(QDir(here.path()), log, kind);
        if (out.isEmpty())
            QSKIP("this row's path cannot be made here (mknod needs the privilege)");
        const QString outBefore = keptpaths::StateOf(out), logBefore = keptpaths::StateOf(log);
        const Run r = report(log, out);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.startsWith("kora232: cannot write " + out + ": " + words),
                 qPrintable(r.err));
        QCOMPARE(keptpaths::StateOf(out), outBefore);
        QCOMPARE(keptpaths::StateOf(log), logBefore);
        QCOMPARE(QDir(here.path())
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                     .size(),
                 kind == keptpaths::LogItself ? 1 : 2); // no temporary file left behind
    }

    // A log with a bad row in its first session and a second session cut
    // off mid-row: a section each, and what was skipped, where.
    void tornRowsAreSkippedAndSaidWhere()
    {
        QFile noisy(NoisyLog);
        QVERIFY(noisy.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = noisy.readAll().split('\n');
        lines.removeLast(); // after the last line end
        QByteArray text = lines.mid(0, 21).join('\n') + "\nnot,a,row\n" + lines.mid(21).join('\n') +
                          '\n' + lines.mid(1, 100).join('\n') + '\n' + lines.at(101).left(40);
        const QString log = dir.filePath(QStringLiteral("torn.csv"));
        QFile out(log);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text);
        out.close();
        const Run r = report(log, dir.filePath(QStringLiteral("torn.pdf")));
        QCOMPARE(r.status, 0);
        const QString pdf = pdfText(dir.filePath(QStringLiteral("torn.pdf")));
        expectLine(pdf, "Session 1\\n");
        expectLine(pdf, "Rows skipped +1 torn or malformed row skipped: line 22\\n");
        expectLine(pdf, "Session 2\\n");
        expectLine(pdf, QStringLiteral("Rows skipped +1 torn or malformed row skipped: line %1\\n")
                            .arg(lines.size() + 1 + 100 + 1));
        expectLine(pdf, "without a stop row");
    }

    // Each ends the report with status 0 and names the rows it skipped, in
    // the section of their session; a report that crashed or hung fails here.
    void aHostileLogIsReportedWithTheRowsItSkipped_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("skipped");
        for (const HostileLog& log : hostile::logs())
            QTest::newRow(qPrintable(log.name)) << log.text << log.skipped;
    }

    void aHostileLogIsReportedWithTheRowsItSkipped()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, skipped);
        const QString log = dir.filePath(QStringLiteral("hostile.csv"));
        QFile out(log);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
        out.close();
        const QString pdf = dir.filePath(QStringLiteral("hostile.pdf"));
        const Run r = report(log, pdf);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QString shown = pdfText(pdf);
        expectLine(shown, "Session 1\\n");
        if (skipped.isEmpty())
            QVERIFY(!shown.contains(QStringLiteral("Rows skipped")));
        else
            expectLine(shown, "Rows skipped +" + QRegularExpression::escape(skipped) + "\\n");
    }
};

QTEST_GUILESS_MAIN(ReportTest)
#include "tst_report.moc"
