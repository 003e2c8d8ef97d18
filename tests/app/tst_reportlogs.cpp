// kora232 --report over a log and its rotations, plain or compressed, as a
// kiosk's week is reported: one session for a run a rotation split, totals
// of the bills counted, and the outputs refused so that no log is lost.
#include "programrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString NoisyLog = QStringLiteral(KORA_TEST_DATA "/noisy-session.csv");

using Run = ProgramRun;

Run run(const QString& program, const QStringList& arguments)
{
    return RunProgram(program, arguments, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void gzip(const QString& from, const QString& to)
{
    QProcess p;
    p.setStandardOutputFile(to);
    p.start(QStringLiteral("gzip"), {"-c", from});
    QVERIFY(p.waitForFinished() && p.exitCode() == 0);
}

// The committed noisy session cut in two by a rotation at its middle, as
// the writer cuts it: a.csv.1 up to there, then a.csv, which begins with a
// header and a row that continues the run with its counts so far. Gives the
// stop row's total.
int splitByRotation(const QDir& dir)
{
    const QList<QByteArray> lines = contents(NoisyLog).trimmed().split('\n');
    const int middle = int(lines.size() / 2);
    long counts[7] = {};
    const QRegularExpression counted(QStringLiteral("bill (\\d) stacked, counted, count (\\d+)"));
    for (int i = 0; i < middle; ++i)
        for (auto m = counted.globalMatch(QString::fromUtf8(lines[i])); m.hasNext();) {
            const auto match = m.next();
            counts[match.captured(1).toInt() - 1] = match.captured(2).toLong();
        }
    QByteArray soFar;
    long total = 0;
    for (int b = 0; b < 7; ++b)
        soFar += "bill " + QByteArray::number(b + 1) + '=' + QByteArray::number(counts[b]) + ' ',
            total += counts[b];
    soFar += "total=" + QByteArray::number(total);
    QByteArray start = lines[1].mid(lines[1].indexOf(",\"") + 2);
    start.chop(1);
    const QByteArray time = lines[middle].left(lines[middle].indexOf(','));
    const QByteArray poll = lines[middle - 1].split(',').value(2);
    const QByteArray continues = time + ",start," + poll +
                                 ",,,,,,\"log continues after rotation: " + start +
                                 "; counts so far " + soFar + '"';
    write(dir.filePath("a.csv.1"), lines.mid(0, middle).join('\n') + '\n');
    write(dir.filePath("a.csv"),
          lines[0] + '\n' + continues + '\n' + lines.mid(middle).join('\n') + '\n');
    write(dir.filePath("notes.csv"), "name,amount\nkora,232\n");
    gzip(dir.filePath("a.csv.1"), dir.filePath("a.csv.1.gz"));
    QFile::copy(dir.filePath("a.csv.1.gz"), dir.filePath("a.csv.1.old"));
    return QRegularExpression(QStringLiteral("total=(\\d+)"))
        .match(QString::fromUtf8(lines.last()))
        .captured(1)
        .toInt();
}

} // namespace

class ReportLogsTest : public QObject
{
    Q_OBJECT

private slots:
    void aLogWithItsRotationsIsOneReportEndingInTotals_data()
    {
        QTest::addColumn<QStringList>("logs"); // as given
        QTest::addColumn<QString>("skipped");
        QTest::newRow("oldest first") << QStringList{"a.csv.1", "a.csv"} << "";
        QTest::newRow("newest first, the rotation compressed")
            << QStringList{"a.csv", "a.csv.1.gz"} << "";
        QTest::newRow("compressed under a plain name") << QStringList{"a.csv", "a.csv.1.old"} << "";
        QTest::newRow("with a file that is no log")
            << QStringList{"a.csv", "notes.csv", "a.csv.1.gz"}
            << "notes.csv is not a session log: its first row has no time column";
    }

    void aLogWithItsRotationsIsOneReportEndingInTotals()
    {
        QFETCH(QStringList, logs);
        QFETCH(QString, skipped);
        QTemporaryDir here;
        const QDir dir(here.path());
        const int stopTotal = splitByRotation(dir);
        QStringList arguments{"--report"};
        for (const QString& log : logs)
            arguments << dir.filePath(log);
        arguments << dir.filePath("week.pdf");
        const Run r = run(QStringLiteral(KORA232), arguments);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("a report of 1 session from 2 logs"), qPrintable(r.out));
        QCOMPARE(r.out.contains(skipped), true);
        const QString text = run("pdftotext", {"-layout", dir.filePath("week.pdf"), "-"}).out;
        QVERIFY2(text.contains(QRegularExpression("Log +a\\.csv\\.1[.a-z]*, a\\.csv\\n")),
                 qPrintable(text.left(2000)));
        const qsizetype totals = text.indexOf("Totals across all logs");
        QVERIFY2(totals > 0, qPrintable(text));
        const auto total = QRegularExpression("Total +(\\d+) +(\\d+) +(\\d+)").match(text, totals);
        QVERIFY2(total.hasMatch(), qPrintable(text.mid(totals)));
        QCOMPARE(total.captured(1).toInt(), stopTotal);
        if (!skipped.isEmpty())
            QVERIFY2(text.mid(totals).contains(skipped), qPrintable(text.mid(totals)));
    }

    // An output that is a log, or whose name is not a PDF's, is refused
    // before anything is read, and left as it was.
    void anOutputThatIsALogIsRefused_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("words");
        QTest::newRow("the output forgotten: the live log last") << "a.csv.1"
                                                                 << "a.csv"
                                                                 << "its name does not end in .pdf";
        QTest::newRow("an input under a PDF's name") << "a.csv.1"
                                                     << "link.pdf"
                                                     << "it is the session log";
        QTest::newRow("another session log under a PDF's name") << "a.csv.1"
                                                                << "old.pdf"
                                                                << "it is a session log";
        QTest::newRow("a compressed session log under a PDF's name") << "a.csv.1"
                                                                     << "old-gz.pdf"
                                                                     << "it is a session log";
    }

    void anOutputThatIsALogIsRefused()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, words);
        QTemporaryDir here;
        const QDir dir(here.path());
        splitByRotation(dir);
        QVERIFY(QFile::link(dir.filePath("a.csv.1"), dir.filePath("link.pdf")));
        QVERIFY(QFile::copy(dir.filePath("a.csv"), dir.filePath("old.pdf")));
        QVERIFY(QFile::copy(dir.filePath("a.csv.1.gz"), dir.filePath("old-gz.pdf")));
        const QStringList before = dir.entryList(QDir::Files);
        const QByteArray kept = contents(dir.filePath(output));
        const Run r =
            run(QStringLiteral(KORA232), {"--report", dir.filePath(input), dir.filePath(output)});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.startsWith("kora232: cannot write " + dir.filePath(output) + ": " + words),
                 qPrintable(r.err));
        QCOMPARE(contents(dir.filePath(output)), kept);
        QCOMPARE(dir.entryList(QDir::Files), before);
    }
};

QTEST_GUILESS_MAIN(ReportLogsTest)
#include "tst_reportlogs.moc"
