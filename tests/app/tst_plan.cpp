// A bench test plan run by kora232-headless against a simulated acceptor
// playing a test deck, behind a real pseudo-terminal: its verdict, its exit
// status, and the certificate remade from the log alone, read back with
// pdftotext and checked against the log's bytes.
#include "acceptorserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString QuickPlan = QStringLiteral(KORA_PLANS "/quick.json");

struct Ran
{
    int status = -1;
    QString out, err;
};

Ran run(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(display));
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QJsonObject lastLine(const QString& out, const QString& event)
{
    QJsonObject found;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value("event").toString() == event)
            found = o;
    }
    return found;
}

} // namespace

class PlanRunTest : public QObject
{
    Q_OBJECT

private slots:
    void aPlanEndsWithTheVerdictItsDeckEarns_data()
    {
        QTest::addColumn<QString>("deck");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QStringList>("failing");
        QTest::newRow("a sound acceptor passes the quick plan")
            << "deck 1x3 3x3 5x2! seed 7" << QStringList() << 0 << "PASS" << QStringList();
        QTest::newRow("jams, refusals and a note to be refused taken fail on those criteria")
            << "deck 1x3 3x3 5x2! refuse 30% jam 20% false 100% seed 3" << QStringList() << 5
            << "FAIL"
            << QStringList{"first-time acceptance", "jams", "no credit for a note to be refused"};
        QTest::newRow("a run ended before the last step is incomplete")
            << "deck 1x3 3x3 5x2! seed 7" << QStringList{"--duration", "2.5"} << 6 << "INCOMPLETE"
            << QStringList();
    }
    void aPlanEndsWithTheVerdictItsDeckEarns()
    {
        QFETCH(QString, deck);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QString, verdict);
        QFETCH(QStringList, failing);
        QTemporaryDir dir;
        kora::sim::ServerOptions o;
        o.stepTime = 200ms;
        o.symlink = dir.filePath(QStringLiteral("acceptor")).toStdString();
        kora::sim::AcceptorServer sim(o);
        std::thread player(
            [&sim, deck] { sim.command("wait 500ms"), sim.command(deck.toStdString()); });
        const QString log = dir.filePath(QStringLiteral("bench.csv"));
        const Ran headless =
            run(KORA232_HEADLESS,
                QStringList{"--port", "1=" + QString::fromStdString(sim.symlinkPath()), "--plan",
                            QuickPlan, "--log", log, "--unit-serial", "SN-0042", "--operator",
                            "A. Tester"} +
                    options);
        sim.stop();
        player.join();
        QCOMPARE(headless.status, status);
        const QJsonObject line = lastLine(headless.out, QStringLiteral("verdict"));
        QCOMPARE(line.value("verdict").toString(), verdict);
        QStringList failed, measured;
        for (const QJsonValue& c : line.value("criteria").toArray()) {
            if (c["result"].toString() == QLatin1String("FAIL"))
                failed << c["name"].toString();
            measured << c["measured"].toString();
        }
        QCOMPARE(failed, failing);
        checkCertificate(dir, log, verdict, measured);
    }

    void aPlanRefusesWhatWouldChangeItsSettings_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("why");
        QTest::newRow("a plan with no log")
            << QStringList{"--plan", QuickPlan} << "--plan needs --log FILE";
        QTest::newRow("a plan with a poll period of its own")
            << QStringList{"--plan", QuickPlan, "--log", "x.csv", "--poll-rate", "200"}
            << "--poll-rate cannot go with --plan";
        QTest::newRow("a plan with bills of its own")
            << QStringList{"--plan", QuickPlan, "--log", "x.csv", "--bills", "1"}
            << "--bills cannot go with --plan";
        QTest::newRow("a plan with escrow of its own")
            << QStringList{"--plan", QuickPlan, "--log", "x.csv", "--escrow", "off"}
            << "--escrow cannot go with --plan";
        QTest::newRow("an operator with no plan")
            << QStringList{"--operator", "Ann"} << "--operator goes with --plan";
        QTest::newRow("a plan that is no JSON") << QStringList{"--plan", "BROKEN", "--log", "x.csv"}
                                                << "broken.json: line 2, column 1: ";
    }
    void aPlanRefusesWhatWouldChangeItsSettings()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QFile broken(dir.filePath(QStringLiteral("broken.json")));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("{\"name\": \"x\",\n}") > 0);
        broken.close();
        options.replaceInStrings(QStringLiteral("BROKEN"), broken.fileName());
        const Ran r = run(KORA232_HEADLESS, QStringList{"--port", "1=/nonexistent"} + options);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(why), qPrintable(r.err));
        QVERIFY(!QFile::exists(QStringLiteral("x.csv")));
    }

    void aCertificateIsRefusedWhereAReportWouldBe_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("why");
        QTest::newRow("a log that holds no plan run") << "log.csv"
                                                      << "out.pdf"
                                                      << "holds no plan run";
        QTest::newRow("an output that is the log itself") << "log.csv"
                                                          << "log.csv"
                                                          << "cannot write";
        QTest::newRow("an output that is a folder") << "log.csv"
                                                    << "."
                                                    << "cannot write";
        QTest::newRow("a log that is not there") << "none.csv"
                                                 << "out.pdf"
                                                 << "cannot read";
    }
    void aCertificateIsRefusedWhereAReportWouldBe()
    {
        QFETCH(QString, log);
        QFETCH(QString, out);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QFile header(dir.filePath(QStringLiteral("log.csv")));
        QVERIFY(header.open(QIODevice::WriteOnly));
        header.write("time,kind,poll,outcome,host,reply,reply_ms,flags,events\r\n");
        header.close();
        const Ran r = run(KORA232, {"--certificate", dir.filePath(log), dir.filePath(out)});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(why), qPrintable(r.err));
        QCOMPARE(QFileInfo(header.fileName()).size(), qint64(57)); // the log left as it was
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.pdf"))));
    }

private:
    // Made from the log alone, it judges as the run did, and its length and
    // digest are those of the log up to the plan's end row.
    void checkCertificate(const QTemporaryDir& dir, const QString& log, const QString& verdict,
                          const QStringList& measured)
    {
        const QString pdf = dir.filePath(QStringLiteral("certificate.pdf"));
        const Ran made = run(KORA232, {"--certificate", log, pdf});
        QVERIFY2(made.status == 0, qPrintable(made.err));
        const Ran text = run(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
        QVERIFY(text.out.contains(QStringLiteral("SN-0042")));
        QVERIFY(text.out.contains(QStringLiteral("A. Tester")));
        QVERIFY(text.out.contains(
            QRegularExpression("^\\s*" + verdict + "\\s*$", QRegularExpression::MultilineOption)));
        for (const QString& m : measured)
            QVERIFY2(text.out.contains(m), qPrintable(m + " not in\n" + text.out));
        const QRegularExpressionMatch check =
            QRegularExpression("head -c (\\d+) bench.csv \\| sha256sum").match(text.out);
        QVERIFY2(check.hasMatch(), qPrintable(text.out));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(check.captured(1).toLongLong());
        QVERIFY(head.endsWith(",plan ends: " + verdict.toUtf8() + "\r\n") ||
                head.contains(",plan ends: " + verdict.toUtf8() + ": "));
        QVERIFY(head.endsWith("\r\n"));
        const QByteArray digest =
            QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex();
        QVERIFY2(text.out.contains(QString::fromLatin1(digest)), qPrintable(text.out));
    }
};

QTEST_GUILESS_MAIN(PlanRunTest)
#include "tst_plan.moc"
