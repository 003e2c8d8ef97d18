// The kora232 program run as a script runs it, against a simulated acceptor
// in this process behind a stable link.
#include "acceptorserver.h"
#include "lockfile.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The START/STOP button's place on the window, in pixels.
const QRect kStartStop(304, 248, 89, 25);
const QRgb kWindowBackground = qRgb(192, 192, 255);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// With `noDisplay`, nothing tells the program of a display or a platform,
// nor of a runtime folder, as for root in a script or a service.
Run runProgram(const QStringList& arguments, int timeoutMs = 20000, bool noDisplay = false)
{
    QProcess program;
    if (noDisplay) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR",
                                 "XDG_SESSION_TYPE"})
            env.remove(QLatin1String(name));
        program.setProcessEnvironment(env);
    }
    program.start(QStringLiteral(KORA232), arguments);
    Run run;
    if (!program.waitForFinished(timeoutMs)) {
        program.kill();
        program.waitForFinished();
        return run;
    }
    if (program.exitStatus() == QProcess::NormalExit)
        run.exitCode = program.exitCode();
    run.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

QString describe(QRgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// A point on the button's face clear of its caption and its edge.
QPoint buttonFace()
{
    return kStartStop.topLeft() + QPoint(6, kStartStop.height() / 2);
}

// A simulated acceptor at a path of its own, for --port 1=DEVICE.
struct PinnedAcceptor
{
    QTemporaryDir dir;
    QString device = dir.filePath(QStringLiteral("acceptor"));
    kora::sim::AcceptorServer sim{options(device)};

    static kora::sim::ServerOptions options(const QString& path)
    {
        kora::sim::ServerOptions o;
        o.symlink = path.toStdString();
        return o;
    }
};

} // namespace

class ProgramTest : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

private slots:
    void aScriptedRunWhosePortCannotBeOpenedSaysWhyAndEndsWithStatusThree()
    {
        const Run run =
            runProgram({"--port", "1=/nonexistent/acceptor", "--start", "--quit-after", "5000"});
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains(QLatin1String("Port 1 (/nonexistent/acceptor)")),
                 qPrintable(run.err));
    }

    void listPortsNamesEachPortsDeviceWithoutADisplay()
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KORA232), {"--list-ports", "--port", "2=/nonexistent/pinned"});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(program.readAllStandardOutput())
                                      .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[1],
                 QStringLiteral("port 2  /nonexistent/pinned: pinned with --port; no such file"));
    }

    void aScriptedSessionPressesStartPollsTheAcceptorAndLeavesAScreenshot()
    {
        PinnedAcceptor pinned;
        const QString png = pinned.dir.filePath(QStringLiteral("window.png"));

        const Run run = runProgram({"--port", "1=" + pinned.device, "--start", "--quit-after",
                                    "2500", "--screenshot", png});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));

        // 2.5 s at the start-up poll period of 100 ms is about 25 polls.
        const auto served = pinned.sim.messagesServed();
        QVERIFY2(served >= 8 && served <= 40, qPrintable(QString::number(served)));

        const QImage image(png);
        QVERIFY2(!image.isNull(), qPrintable(png));
        QCOMPARE(image.size(), QSize(641, 434));
        QCOMPARE(describe(image.pixel(0, 0)), describe(kWindowBackground));
        QCOMPARE(describe(image.pixel(640, 5)), describe(kWindowBackground));
        QCOMPARE(describe(image.pixel(buttonFace())), describe(kRed));
    }

    // Each window --show opens is saved beside the window's picture; the
    // menu's is the window's with the menu over the monitor.
    void eachWindowShownLeavesAPictureBesideTheScreenshot()
    {
        PinnedAcceptor pinned;
        const QString png = pinned.dir.filePath(QStringLiteral("shot.png"));

        const Run run = runProgram({"--port", "1=" + pinned.device, "--start", "--quit-after",
                                    "1500", "--screenshot", png, "--show", "menu", "--show",
                                    "statistics", "--show", "history"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QImage window(png);
        QCOMPARE(window.size(), QSize(641, 434));
        for (const char* name : {"statistics", "history", "menu"}) {
            const QImage picture(pinned.dir.filePath(QStringLiteral("shot-%1.png").arg(name)));
            QVERIFY2(picture.width() >= 400 && picture.height() >= 300 && picture.width() <= 1280 &&
                         picture.height() <= 800,
                     name);
        }

        const QImage menu(pinned.dir.filePath(QStringLiteral("shot-menu.png")));
        QVERIFY(menu.width() >= window.width() && menu.height() >= window.height());
        const QRect monitor(120, 96, 521, 337);
        int covered = 0;
        for (int y = 0; y < window.height(); ++y)
            for (int x = 0; x < window.width(); ++x)
                if (menu.pixel(x, y) != window.pixel(x, y)) {
                    QVERIFY2(monitor.contains(x, y),
                             qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                    ++covered;
                }
        QVERIFY2(covered > 100 * 100, qPrintable(QString::number(covered)));
    }

    // The History window's picture holds the polls of the run, however the
    // run ends: quitting closes every window, and a closed History lets go
    // of its rows. Its rows are bands of text down the Time column.
    void theHistoryPictureShowsThePollsOfTheRun_data()
    {
        QTest::addColumn<bool>("stopSignal");
        QTest::newRow("--quit-after runs out") << false;
        QTest::newRow("a stop signal") << true;
    }

    void theHistoryPictureShowsThePollsOfTheRun()
    {
        QFETCH(bool, stopSignal);
        PinnedAcceptor pinned;
        const QString png = pinned.dir.filePath(QStringLiteral("shot.png"));
        QProcess program;
        program.start(QStringLiteral(KORA232),
                      {"--port", "1=" + pinned.device, "--start", "--screenshot", png, "--show",
                       "history", "--quit-after", stopSignal ? "20000" : "2000"});
        QVERIFY(program.waitForStarted());
        if (stopSignal) {
            QTRY_VERIFY_WITH_TIMEOUT(pinned.sim.messagesServed() >= 10, 10000);
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        }
        QVERIFY(program.waitForFinished(20000));
        QVERIFY2(program.exitCode() == 0, program.readAllStandardError().constData());
        const QImage history(pinned.dir.filePath(QStringLiteral("shot-history.png")));
        QVERIFY(!history.isNull());
        int bands = 0;
        for (int y = 40, inText = 0; y < history.height(); ++y) {
            bool dark = false;
            for (int x = 15; x < 110 && !dark; ++x)
                dark = qGray(history.pixel(x, y)) < 80;
            bands += dark && !inText ? 1 : 0;
            inText = dark;
        }
        QVERIFY2(bands >= 6, qPrintable(QString::number(bands))); // the header and five polls
    }

    void withoutStartTheWindowWaitsStoppedAndNothingIsSent()
    {
        PinnedAcceptor pinned;
        const QString png = pinned.dir.filePath(QStringLiteral("window.png"));

        const Run run = runProgram(
            {"--port", "1=" + pinned.device, "--quit-after", "800", "--screenshot", png});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(pinned.sim.messagesServed(), 0u);
        QVERIFY(run.out.isEmpty());
        const QImage image(png);
        QCOMPARE(image.size(), QSize(641, 434));
        QCOMPARE(describe(image.pixel(buttonFace())), describe(kGreen));
    }

    void reportShownPrintsTheMillisecondsFromProcessStartOnce()
    {
        const Run run = runProgram({"--report-shown", "--quit-after", "0"});
        QCOMPARE(run.exitCode, 0);
        const QRegularExpression shown(QStringLiteral("^shown (\\d+(\\.\\d+)?)\\n$"));
        const QRegularExpressionMatch m = shown.match(run.out);
        QVERIFY2(m.hasMatch(), qPrintable(run.out));
        const double ms = m.captured(1).toDouble();
        QVERIFY2(ms > 0 && ms < 15000, qPrintable(run.out));
    }

    void aScreenshotThatCannotBeWrittenEndsWithStatusOne()
    {
        const Run run = runProgram(
            {"--quit-after", "0", "--screenshot", "/nonexistent-kora232-dir/window.png"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("screenshot"), qPrintable(run.err));
    }

    void aStopSignalClosesThePortAndEndsWithStatusZero_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("twice"); // 50 ms apart, while a poll waits for no reply
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("two SIGHUPs during a poll") << SIGHUP << true;
    }
    void aStopSignalClosesThePortAndEndsWithStatusZero()
    {
        QFETCH(int, signal);
        QFETCH(bool, twice);
        PinnedAcceptor pinned;
        QProcess program;
        program.start(QStringLiteral(KORA232), {"--port", "1=" + pinned.device, "--start"});
        QTRY_VERIFY_WITH_TIMEOUT(pinned.sim.messagesServed() >= 2, 10000);
        const QString lock = lockFileOf(program.processId());
        QVERIFY(!lock.isEmpty());
        if (twice) {
            pinned.sim.setSilent(true);
            const auto served = pinned.sim.messagesServed();
            QTRY_VERIFY_WITH_TIMEOUT(pinned.sim.messagesServed() >= served + 2, 5000);
        }

        ::kill(pid_t(program.processId()), signal);
        if (twice) {
            QTest::qWait(50);
            ::kill(pid_t(program.processId()), signal);
        }
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));
    }

    // The reader of a log pipe takes a few rows and goes away: logging
    // stops, polling goes on, and the run's status tells of the rows lost.
    void aLogReaderThatGoesAwayStopsLoggingNotTheProgram()
    {
        PinnedAcceptor pinned;
        const QString log = pinned.dir.filePath(QStringLiteral("log"));
        QCOMPARE(::mkfifo(QFile::encodeName(log).constData(), 0600), 0);
        const int reader =
            ::open(QFile::encodeName(log).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QProcess program;
        program.start(QStringLiteral(KORA232), {"--port", "1=" + pinned.device, "--log", log,
                                                "--start", "--quit-after", "2500"});
        qsizetype read = 0;
        char buf[300];
        QTRY_VERIFY_WITH_TIMEOUT(
            (read += std::max<ssize_t>(0, ::read(reader, buf, size_t(300 - read)))) >= 300, 10000);
        ::close(reader);
        const auto served = pinned.sim.messagesServed();

        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 4);
        QVERIFY(pinned.sim.messagesServed() >= served + 5);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(err.contains("kora232: the log is incomplete: " + log + ": Broken pipe"),
                 qPrintable(err));
    }

    void helpListsTheSessionOptions()
    {
        const Run run = runProgram({"--help"});
        QCOMPARE(run.exitCode, 0);
        for (const char* option : {"--port <N=DEVICE>", "--start", "--screenshot <FILE>",
                                   "--quit-after <MS>", "--report-shown", "--show <WINDOW>"})
            QVERIFY2(run.out.contains(QLatin1String(option)), option);
    }

    void versionIsOnePointThree()
    {
        const Run run = runProgram({"--version"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringLiteral("kora232 " KORA_VERSION "\n"));
    }

    // Without a display every command line gets its answer, and the window
    // says what to use instead; Qt's own options are passed over.
    void aCommandLineIsAnsweredWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("words"); // on standard output for 0, else on standard error
        const QString log = QStringLiteral(KORA_TEST_DATA "/noisy-session.csv");
        const QString pdf = scratch.filePath(QStringLiteral("session.pdf"));
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: kora232 [options]";
        QTest::newRow("--help-all") << QStringList{"--help-all"} << 0 << "--platform <platformName";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "kora232 " KORA_VERSION;
        QTest::newRow("--list-ports") << QStringList{"--list-ports"} << 0 << "port 8  ";
        QTest::newRow("--report") << QStringList{"--report", log, pdf} << 0
                                  << "a report of 1 session";
        QTest::newRow("an unknown option")
            << QStringList{"--bogus"} << 2 << "Unknown option 'bogus'";
        QTest::newRow("a port out of range")
            << QStringList{"--port", "9=x"} << 2 << "must be 1 to 8";
        QTest::newRow("--report without its log")
            << QStringList{"--report"} << 2 << "Missing value after '--report'";
        QTest::newRow("--show with no such window")
            << QStringList{"--show", "history", "--show", "bogus"} << 2
            << "--show takes statistics, history or menu, not 'bogus'";
        QTest::newRow("Qt's options before a mistake")
            << QStringList{"-platform", "offscreen", "--style=fusion", "-reverse", "--bogus"} << 2
            << "Unknown option 'bogus'";
        QTest::newRow("the window")
            << QStringList{"--quit-after", "0"} << 1
            << "no display for the window: DISPLAY and WAYLAND_DISPLAY are not set; use "
               "kora232-headless";
        QTest::newRow("the window on X11")
            << QStringList{"-platform", "xcb"} << 1 << "the xcb platform needs DISPLAY";
    }
    void aCommandLineIsAnsweredWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, words);
        const Run run = runProgram(arguments, 20000, true);
        QCOMPARE(run.exitCode, status);
        QVERIFY2((status == 0 ? run.out : run.err).contains(words), qPrintable(run.out + run.err));
        if (status == 2)
            QVERIFY2(run.err.contains("\nUsage: kora232 "), qPrintable(run.err));
        for (const char* qtAborts : {"Reinstalling", "XDG_RUNTIME_DIR"})
            QVERIFY2(!run.err.contains(QLatin1String(qtAborts)), qPrintable(run.err));
    }

    void aBadCommandLineEndsWithStatusTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("port number out of range") << QStringList{"--port", "9=/dev/null"};
        QTest::newRow("port without a device") << QStringList{"--port", "1"};
        QTest::newRow("quit-after not a number") << QStringList{"--quit-after", "soon"};
        QTest::newRow("quit-after negative") << QStringList{"--quit-after", "-5"};
        QTest::newRow("screenshot without a file") << QStringList{"--screenshot"};
        QTest::newRow("unknown option") << QStringList{"--demo"};
        QTest::newRow("a log that cannot be opened")
            << QStringList{"--log", "/nonexistent-kora232/session.csv"};
    }

    void aBadCommandLineEndsWithStatusTwo()
    {
        QFETCH(QStringList, arguments);
        // Should the line be taken after all, the program still ends at once.
        const Run run = runProgram(QStringList{"--quit-after", "0"} + arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("kora232: "), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "tst_program.moc"
