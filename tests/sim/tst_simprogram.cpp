// The acceptor-sim program as a user runs it.
#include "simtestkit.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

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

// A host in escrow mode, its acknowledgement bit flipping after each reply.
struct EscrowHost
{
    PtyClient& pty;
    int ack = 0;

    Bytes poll(std::uint8_t orders = 0)
    {
        const Bytes r = pty.exchange(hostMessage(ack, 0x7F, EscrowMode | orders));
        ack ^= 1;
        return r;
    }
    // Polls until a reply has every one of `bits` in its byte `byte` (from 0).
    bool pollUntil(std::size_t byte, std::uint8_t bits)
    {
        for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            const Bytes r = poll();
            if (r.size() == 11 && (r[byte] & bits) == bits)
                return true;
            QTest::qWait(10);
        }
        return false;
    }
};

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

    void countsEachOutcomeWhenAskedAndAtExit()
    {
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--step", "20ms", "--unpaced"});
        PtyClient pty(firstLine(sim).toStdString());
        EscrowHost host{pty};
        sim.write("insert 2\n");
        QVERIFY(host.pollUntil(3, 0x04));
        host.poll(StackOrder);
        QVERIFY(host.pollUntil(3, 0x10));
        sim.write("insert 5\n");
        QVERIFY(host.pollUntil(3, 0x04));
        host.poll(ReturnOrder);
        QVERIFY(host.pollUntil(3, 0x40));
        sim.write("reject 3\ninsert 3\n");
        QVERIFY(host.pollUntil(4, 0x02));
        sim.write("insert 6\njam\n"); // caught accepting or in escrow
        QVERIFY(host.pollUntil(4, 0x04));
        sim.write("clear\ncheat\n");
        QVERIFY(host.pollUntil(4, 0x01));

        sim.write("tally\nquit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(sim.readAllStandardOutput());
        QCOMPARE(
            out.count("tally: bill1=0 bill2=1 bill3=0 bill4=0 bill5=0 bill6=0 bill7=0 total=1\n"
                      "outcomes: stacked=1 returned=1 rejected=1 jammed=1 cheated=1\n"),
            2);
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

    void printsItsVersionUnderEitherSpelling_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("long") << "--version";
        QTest::newRow("short, as the other two programs take it") << "-v";
    }

    void printsItsVersionUnderEitherSpelling()
    {
        QFETCH(QString, option);
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {option});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QCOMPARE(sim.readAllStandardOutput(), QByteArray("acceptor-sim " KORA_VERSION "\n"));
    }

    void startsFromAGivenLastExchangeWhoseBillIsNotItsOwn()
    {
        // Stacked, credit 3, with a checksum no acceptor would send.
        const Bytes given{0x02, 0x0B, 0x21, 0x10, 0x10, 0x18, 0x4B, 0x01, 0x03, 0x03, 0x00};
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--unpaced", "--last-bit", "1", "--last-reply",
                                 "02 0B 21 10 10 18 4B 01 03 03 00"});
        PtyClient host(firstLine(sim).toStdString());
        QCOMPARE(host.exchange(hostMessage(1)), given);
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.readAllStandardOutput().contains("total=0"));
    }

    void helpListsTheCommandsAndFaults()
    {
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--help"});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        const QString help = QString::fromLocal8Bit(sim.readAllStandardOutput());
        for (const char* word :
             {"--device",     "--link", "--scenario", "--verbose", "--version", "--last-bit",
              "--last-reply", "insert", "jam",        "clear",     "cassette",  "wait",
              "tally",        "silent", "late",       "truncate",  "corrupt",   "garbage",
              "paced",        "sticky", "queue",      "deaf"})
            QVERIFY2(help.contains(word), word);
    }

    void refusesBadInputAndLeavesTheUsersFilesAlone_data()
    {
        // In the arguments {file} is a file of the user's holding `content`,
        // {link} a link to it, {dir} the folder holding both.
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << QByteArray("keep");
        QTest::newRow("bad command") << QStringList{"--run", "insert 9"} << QByteArray("keep");
        QTest::newRow("no scenario")
            << QStringList{"--scenario", "/nonexistent/scenario"} << QByteArray("keep");
        QTest::newRow("link over a file") << QStringList{"--link", "{file}"} << QByteArray("keep");
        QTest::newRow("link over a link to a file")
            << QStringList{"--link", "{link}"} << QByteArray("keep");
        QTest::newRow("link over a folder") << QStringList{"--link", "{dir}"} << QByteArray("keep");
        QTest::newRow("a 10 MB one-line scenario")
            << QStringList{"--scenario", "{file}"} << QByteArray(10 << 20, 'z');
        QTest::newRow("a --run line over 4 KiB")
            << QStringList{"--run", QString(5000, 'w')} << QByteArray("keep");
        QTest::newRow("device a file") << QStringList{"--device", "{file}"} << QByteArray("x");
        QTest::newRow("device /dev/null") << QStringList{"--device", "/dev/null"} << QByteArray();
        QTest::newRow("device /dev/zero") << QStringList{"--device", "/dev/zero"} << QByteArray();
        QTest::newRow("a wait without its unit")
            << QStringList{"--run", "wait 2"} << QByteArray("keep");
        QTest::newRow("a scenario silent without its unit")
            << QStringList{"--scenario", "{file}"} << QByteArray("insert 1\nsilent 2\n");
        const QString reply = "02 0B 20 10 10 18 4B 01 03 03 7A";
        QTest::newRow("last reply of 10 bytes")
            << QStringList{"--last-bit", "0", "--last-reply", reply.left(29)} << QByteArray("x");
        QTest::newRow("last reply not hex")
            << QStringList{"--last-bit", "0", "--last-reply", "02 0B zz 10 10 18 4B 01 03 03 7A"}
            << QByteArray("x");
        QTest::newRow("last bit 2")
            << QStringList{"--last-bit", "2", "--last-reply", reply} << QByteArray("x");
        QTest::newRow("last reply alone") << QStringList{"--last-reply", reply} << QByteArray("x");
        QTest::newRow("last bit alone") << QStringList{"--last-bit", "1"} << QByteArray("x");
    }
    void refusesBadInputAndLeavesTheUsersFilesAlone()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString file = dir.filePath("file");
        const QString link = dir.filePath("link");
        QFile made(file);
        QVERIFY(made.open(QIODevice::WriteOnly) && made.write(content) == content.size());
        made.close();
        QCOMPARE(::symlink(file.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
        args.replaceInStrings("{file}", file).replaceInStrings("{link}", link);
        args.replaceInStrings("{dir}", dir.path());

        QProcess sim;
        sim.start(ACCEPTOR_SIM, args);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        const QByteArray error = sim.readAllStandardError();
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.size() < 300, error.left(300).constData()); // names it, never echoes it
        QCOMPARE(QFileInfo(link).symLinkTarget(), file);
        QVERIFY(made.open(QIODevice::ReadOnly));
        QCOMPARE(made.readAll(), content);
    }

    void badStandardInputCostsALineOrTheInputButNeverThePty_data()
    {
        QTest::addColumn<QByteArray>("input"); // then "tally\n"
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("stillRead");
        QTest::newRow("a line over 4 KiB") << QByteArray(5000, 'x') + '\n'
                                           << "line 1 skipped, longer than 4096 bytes" << true;
        QTest::newRow("1 MiB without a newline") << QByteArray((1 << 20) + 10, 'x') + '\n'
                                                 << "standard input is not text" << false;
        QTest::newRow("a NUL byte")
            << QByteArray("insert 1\0\n", 10) << "standard input is not text" << false;
        QTest::newRow("a duration without its unit")
            << QByteArray("wait 2\n") << "error: wait: expected a duration with its unit" << true;
    }
    void badStandardInputCostsALineOrTheInputButNeverThePty()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, message);
        QFETCH(bool, stillRead);
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {});
        PtyClient host(firstLine(sim).toStdString());
        sim.write(input + "tally\n");
        QByteArray error;
        QTRY_VERIFY_WITH_TIMEOUT((error += sim.readAllStandardError()).contains(message.toUtf8()),
                                 5000);
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
        QTest::qWait(200);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        error += sim.readAllStandardError();
        QVERIFY2(error.size() < 400, error.left(400).constData()); // once, and quoted short
        QCOMPARE(sim.readAllStandardOutput().count("tally: "), stillRead ? 2 : 1);
    }

    void endsWithAMessageWhenItsDeviceHangsUp()
    {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const QString device = ptsname(master);
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--device", device});
        QCOMPARE(firstLine(sim), device);
        ::close(master);
        QVERIFY(sim.waitForFinished(3000));
        QCOMPARE(sim.exitCode(), 1);
        QVERIFY(sim.readAllStandardError().contains(device.toLocal8Bit() + " hung up"));
        QVERIFY(sim.readAllStandardOutput().contains("tally: "));
    }

    void takesOverOnlyALinkToAPtyOrToNothingAndRemovesItAtExit_data()
    {
        QTest::addColumn<QString>("before"); // where the path leads first; empty: no path
        QTest::newRow("no path") << QString();
        QTest::newRow("a link to nothing") << "{dir}/gone";
        QTest::newRow("a link to a pty") << "{pty}";
    }
    void takesOverOnlyALinkToAPtyOrToNothingAndRemovesItAtExit()
    {
        QFETCH(QString, before);
        QTemporaryDir dir;
        const QString path = dir.filePath("acceptor");
        // A neighbour whose name an older run used for its temporary link.
        QFile neighbour(path + ".new");
        QVERIFY(neighbour.open(QIODevice::WriteOnly) && neighbour.write("keep") == 4);
        neighbour.close();
        const int pty = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(pty >= 0);
        before.replace("{dir}", dir.path()).replace("{pty}", ptsname(pty));
        if (!before.isEmpty())
            QCOMPARE(::symlink(before.toLocal8Bit().constData(), path.toLocal8Bit().constData()),
                     0);

        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--link", path, "--run", "quit"});
        QVERIFY(sim.waitForFinished(5000));
        ::close(pty);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.readAllStandardOutput().startsWith("/dev/pts/"));
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden;
        QCOMPARE(QDir(dir.path()).entryList(all), QStringList{"acceptor.new"});
        QVERIFY(neighbour.open(QIODevice::ReadOnly));
        QCOMPARE(neighbour.readAll(), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(SimProgramTest)
#include "tst_simprogram.moc"
