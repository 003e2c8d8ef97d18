// The acceptor-sim program as a user runs it.
#include "simtestkit.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace simtest;

namespace {

bool isGoodReply(const Bytes& r, int ack)
{
    return r.size() == 11 && r[0] == 0x02 && r[1] == 0x0B && r[2] == (0x20 | ack) && r[9] == 0x03 &&
           r[10] == replyChecksum(r);
}

QString firstLine(QProcess& sim)
{
    for (int i = 0; i < 50 && !sim.canReadLine(); ++i)
        sim.waitForReadyRead(100);
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

} // namespace

class SimProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void printsItsPtyFirstServesItAndTalliesAtExit()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("acceptor");
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--step", "20ms", "--link", link, "--run", "insert 2"});
        const QString path = firstLine(sim);
        QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        PtyClient host(path.toStdString());
        int stacked = 0;
        int ack = 0;
        for (int poll = 0; poll < 40 && stacked == 0; ++poll) {
            const Bytes r = host.exchange(hostMessage(ack, 0x7F, 0x00));
            QVERIFY(isGoodReply(r, ack));
            stacked += (r[3] & 0x10) && creditOf(r) == 2;
            ack ^= 1;
            QTest::qWait(10);
        }
        QCOMPARE(stacked, 1);

        sim.write("tally\nquit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(sim.readAllStandardOutput());
        QCOMPARE(out.count("tally: bill1=0 bill2=1 bill3=0"), 2); // asked for, and at exit
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    void runsAScenarioFileToItsQuit()
    {
        QTemporaryDir dir;
        QFile scenario(dir.filePath("scenario"));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write("# a short demo\ncassette off\nwait 50ms\nstatus\nquit\ninsert 3\n");
        scenario.close();
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--scenario", scenario.fileName()});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        const QStringList out = QString::fromLocal8Bit(sim.readAllStandardOutput()).split('\n');
        QVERIFY(out.value(0).startsWith("/dev/pts/"));
        QVERIFY2(out.value(1).startsWith("status: idling, cassette out"), qPrintable(out.value(1)));
        QVERIFY(out.value(2).startsWith("tally: bill1=0"));
    }

    void endsCleanlyOnTerminateWithItsTally()
    {
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {});
        QVERIFY(firstLine(sim).startsWith("/dev/pts/"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.readAllStandardOutput().contains("tally: bill1=0"));
    }

    void verboseLogsEachExchangeOnStandardError()
    {
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--verbose", "--unpaced"});
        PtyClient host(firstLine(sim).toStdString());
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(5000));
        const QString log = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(log.contains("host 02 08 10 7F 10 00 03 77 | reply 02 0B 20 01 10 01"),
                 qPrintable(log));
        QVERIFY(log.contains("idling"));
    }

    void helpListsTheCommandsAndFaults()
    {
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--help"});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        const QString help = QString::fromLocal8Bit(sim.readAllStandardOutput());
        for (const char* word :
             {"--device", "--link", "--scenario", "--verbose", "insert", "jam", "clear", "cassette",
              "wait", "tally", "silent", "late", "truncate", "corrupt", "garbage", "paced"})
            QVERIFY2(help.contains(word), word);
    }

    void refusesABadOptionOrABadScenarioLine()
    {
        for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--run", "insert 9"},
                                        QStringList{"--scenario", "/nonexistent/scenario"}}) {
            QProcess sim;
            sim.start(ACCEPTOR_SIM, args);
            QVERIFY(sim.waitForFinished(5000));
            QCOMPARE(sim.exitCode(), 2);
            QVERIFY(!sim.readAllStandardError().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(SimProgramTest)
#include "tst_simprogram.moc"
