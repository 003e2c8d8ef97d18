// kora232-headless run as a rig script runs it, with no display, against a
// simulated acceptor in this process behind a stable link: its JSON lines
// against the acceptor's own tally, and each way it ends.
#include "acceptorserver.h"
#include "csvreader.h"
#include "lockfile.h"
#include "serial/mscomm.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The program with its output taken in line by line as it comes, from its
// standard output or, given `outputFd`, from what the test reads of that.
struct Headless
{
    explicit Headless(const QStringList& arguments, const QString& program = KORA232_HEADLESS,
                      const QStringList& programArguments = {}, int outputFd = -1)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(display));
        process.setProcessEnvironment(env);
        if (outputFd >= 0)
            process.setChildProcessModifier([outputFd] { ::dup2(outputFd, STDOUT_FILENO); });
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { takeLines(); });
        process.start(program, programArguments + arguments);
    }

    void takeLines() { take(process.readAllStandardOutput()); }

    void take(const QByteArray& bytes)
    {
        out += bytes;
        pending += bytes;
        for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1)) {
            if (nl == 0)
                continue; // the filler of a pipe the test stalled
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(pending.left(nl), &error);
            const QJsonObject o = doc.object();
            if (!doc.isObject() || !o.value("event").isString() || !isoTime(o.value("t")))
                badLines << QString::fromUtf8(pending.left(nl));
            lines << o;
        }
    }

    static bool isoTime(const QJsonValue& t)
    {
        static const QRegularExpression iso(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
        return iso.match(t.toString()).hasMatch();
    }

    QList<QJsonObject> events(const QString& name) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject& o : lines)
            if (o.value("event").toString() == name)
                found << o;
        return found;
    }
    qsizetype count(const QString& name) const { return events(name).size(); }

    // Waits for the end; the exit status, -1 for none in time or a crash.
    int finish(int timeoutMs = 10000)
    {
        // waitForFinished is false for a process that has finished already.
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        takeLines();
        err = QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QProcess process;
    QByteArray out; // everything, as it came
    QByteArray pending;
    QList<QJsonObject> lines;
    QStringList badLines;
    QString err;
};

// Everything from `fd` until its last writer closes it, or a generous while.
QByteArray readToEnd(int fd, int timeoutMs = 10000)
{
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents();
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        got.append(buf, std::max<ssize_t>(n, 0));
    }
    return got;
}

// Fills a pipe, shrunk to one page, with line ends for the reader to skip:
// whoever writes to it next waits until the test reads.
void fillPipe(int fd, const QByteArray& filler)
{
    ::fcntl(fd, F_SETPIPE_SZ, 4096);
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    while (::write(fd, filler.constData(), size_t(filler.size())) > 0) {
    }
    ::fcntl(fd, F_SETFL, flags);
}

// A FIFO at `path`, full, for a log that nobody reads until the test reads
// the end it gives; -1 when it cannot be made.
int stalledFifo(const QString& path)
{
    const QByteArray fifo = QFile::encodeName(path);
    if (::mkfifo(fifo.constData(), 0600) != 0)
        return -1;
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int filler = ::open(fifo.constData(), O_WRONLY | O_CLOEXEC);
    fillPipe(filler, "\r\n");
    ::close(filler);
    return reader;
}

// A pipe for the program's standard output that nobody reads until the
// test says so.
struct StalledPipe
{
    StalledPipe()
    {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC) == 0)
            fillPipe(fds[1], "\n");
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    ~StalledPipe()
    {
        ::close(readEnd);
        closeWriteEnd();
    }
    void closeWriteEnd() // once the program has its own
    {
        if (writeEnd >= 0)
            ::close(writeEnd);
        writeEnd = -1;
    }

    int readEnd = -1;
    int writeEnd = -1;
};

struct Rig
{
    Rig()
    {
        kora::sim::ServerOptions o;
        o.stepTime = 200ms; // a bill takes 800 ms to stack, well past the counting gate
        o.symlink = dir.filePath(QStringLiteral("acceptor")).toStdString();
        sim = std::make_unique<kora::sim::AcceptorServer>(o);
    }
    QString link() const { return QString::fromStdString(sim->symlinkPath()); }
    QStringList port() const { return {"--port", "1=" + link()}; }

    QTemporaryDir dir;
    std::unique_ptr<kora::sim::AcceptorServer> sim;
};

} // namespace

class HeadlessTest : public QObject
{
    Q_OBJECT

private slots:
    // Bills go in one at a time, each after a fault of its own; the counts
    // end as the acceptor's tally, line by line and in the stop line.
    void theStackedLinesMatchTheAcceptorsTallyThroughFaults()
    {
        Rig rig;
        const QString log = rig.dir.filePath(QStringLiteral("session.csv"));
        Headless run(rig.port() +
                     QStringList{"--until-bills", "4", "--duration", "30", "--log", log});
        QTRY_VERIFY_WITH_TIMEOUT(run.count("start") == 1, 5000);
        QTest::qWait(600); // the window counts no bill in its first half second either

        const auto insertAndAwait = [&](int bill, qsizetype stacked) {
            rig.sim->command("insert " + std::to_string(bill));
            QTRY_VERIFY_WITH_TIMEOUT(run.count("stacked") == stacked, 8000);
        };
        insertAndAwait(3, 1);
        rig.sim->silenceFor(700ms);
        insertAndAwait(5, 2);
        rig.sim->corruptNext(3);
        insertAndAwait(3, 3);
        rig.sim->unplugFor(600ms);
        QTRY_VERIFY_WITH_TIMEOUT(run.count("reconnected") == 1, 8000);
        insertAndAwait(7, 4);
        QCOMPARE(run.finish(), 0); // --until-bills 4

        QVERIFY2(run.badLines.isEmpty(), qPrintable(run.badLines.join('\n')));
        const kora::sim::Tally tally = rig.sim->tally();
        QCOMPARE(tally.total(), 4);
        QMap<int, int> seen;
        int total = 0;
        for (const QJsonObject& s : run.events("stacked")) {
            const int bill = s.value("bill").toInt();
            QCOMPARE(s.value("count").toInt(), ++seen[bill]);
            QCOMPARE(s.value("total").toInt(), ++total);
        }
        const QJsonObject stop = run.lines.last();
        QCOMPARE(stop.value("event").toString(), QStringLiteral("stop"));
        QCOMPARE(stop.value("total").toInt(), tally.total());
        for (int bill = 1; bill <= 7; ++bill) {
            QCOMPARE(seen.value(bill), tally.of(bill));
            QCOMPARE(stop.value("counts").toObject().value(QString::number(bill)).toInt(),
                     tally.of(bill));
        }

        const QJsonObject start = run.lines.first();
        QCOMPARE(start.value("event").toString(), QStringLiteral("start"));
        QCOMPARE(start.value("device").toString(), rig.link());
        QCOMPARE(start.value("bills").toArray().size(), 7);
        QCOMPARE(start.value("escrow_action").toString(), QStringLiteral("stack"));
        QStringList statuses;
        for (const QJsonObject& l : run.events("link"))
            statuses << l.value("status").toString();
        for (const char* status : {"good", "no-reply", "checksum"})
            QVERIFY2(statuses.contains(status), qPrintable(statuses.join(' ')));
        QCOMPARE(run.count("lost"), 1);
        int stackedStates = 0;
        for (const QJsonObject& state : run.events("state"))
            stackedStates += state.value("flags").toArray().contains(QStringLiteral("Stacked"));
        QCOMPARE(stackedStates, 4);

        const QJsonObject link = stop.value("link").toObject();
        QCOMPARE(link.value("reconnects").toInt(), 1);
        QVERIFY(link.value("checksum").toInt() >= 1);
        QCOMPARE(link.value("polls").toInt(), link.value("good").toInt() +
                                                  link.value("no_reply").toInt() +
                                                  link.value("checksum").toInt());
        QFile csv(log);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray rows = csv.readAll();
        QVERIFY(rows.contains(",stop," + QByteArray::number(link.value("polls").toInt())));
        // The start row names the program as --version does, then the adapter.
        QVERIFY(rows.contains(", kora232-headless " KORA_VERSION "; adapter /dev/pts/"));
    }

    // Two pollers' lines on one output are told apart by port and device;
    // a bill refused before the acceptor named it is per_bill's "unknown".
    void theStopLineNamesItsPortAndTheBillsRefusedUnnamed()
    {
        Rig rig;
        Headless run(rig.port() + QStringList{"--escrow-action", "return", "--duration", "30"});
        QTRY_VERIFY_WITH_TIMEOUT(run.count("start") == 1, 5000);
        rig.sim->command("reject 3");
        rig.sim->command("insert 3");
        QTRY_VERIFY_WITH_TIMEOUT(run.count("bill") == 1, 8000);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QCOMPARE(run.finish(), 0);

        const QJsonObject bill = run.events("bill").first();
        QCOMPARE(bill.value("outcome").toString(), QStringLiteral("rejected"));
        QVERIFY(bill.value("bill").isNull());
        const QJsonObject start = run.lines.first(), stop = run.lines.last();
        QCOMPARE(start.value("escrow_action").toString(), QStringLiteral("return"));
        for (const QJsonObject& line : {start, stop}) {
            QCOMPARE(line.value("port").toInt(), 1);
            QCOMPARE(line.value("device").toString(), rig.link());
        }
        const QJsonObject perBill = stop["bills"]["per_bill"].toObject();
        QCOMPARE(perBill.keys(), QStringList{"unknown"});
        QCOMPARE(perBill["unknown"]["inserted"].toInt(), 1);
        QCOMPARE(perBill["unknown"]["rejected"].toInt(), 1);
    }

    void aRunThatEndsWritesTheStopLineAndEndsWithStatusZero_data()
    {
        QTest::addColumn<int>("signal"); // 0: --duration ends it
        QTest::addColumn<bool>("twice"); // 50 ms apart, while a poll waits for no reply
        QTest::newRow("--duration") << 0 << false;
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("two SIGHUPs during a poll") << SIGHUP << true;
    }
    void aRunThatEndsWritesTheStopLineAndEndsWithStatusZero()
    {
        QFETCH(int, signal);
        QFETCH(bool, twice);
        Rig rig;
        Headless run(rig.port() + QStringList{"--duration", signal ? "30" : "1.5"});
        QTRY_VERIFY_WITH_TIMEOUT(run.count("link") == 1, 5000);
        const QString lock = lockFileOf(run.process.processId());
        QVERIFY(!lock.isEmpty());
        if (twice) {
            rig.sim->setSilent(true);
            QTRY_VERIFY_WITH_TIMEOUT(run.count("link") == 2, 5000); // no-reply
        }
        if (signal)
            ::kill(pid_t(run.process.processId()), signal);
        if (twice) {
            QTest::qWait(50);
            ::kill(pid_t(run.process.processId()), signal);
        }
        QCOMPARE(run.finish(5000), 0);
        QVERIFY2(run.badLines.isEmpty(), qPrintable(run.badLines.join('\n')));
        QCOMPARE(run.lines.last().value("event").toString(), QStringLiteral("stop"));
        QVERIFY(run.lines.last().value("link").toObject().value("good").toInt() >= 1);
        QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));
    }

    // Nobody reads the lines for a while: the program polls all the same,
    // and a stop signal ends it within a second whether the reader comes
    // back (every line then arrives) or not (status 4).
    void aStalledReaderHoldsUpNeitherPollingNorTheEnd_data()
    {
        QTest::addColumn<bool>("readerComesBack");
        QTest::addColumn<int>("status");
        QTest::newRow("the reader comes back") << true << 0;
        QTest::newRow("the reader never comes back") << false << 4;
    }
    void aStalledReaderHoldsUpNeitherPollingNorTheEnd()
    {
        QFETCH(bool, readerComesBack);
        QFETCH(int, status);
        Rig rig;
        StalledPipe out;
        Headless run(rig.port() + QStringList{"--duration", "30"}, KORA232_HEADLESS, {},
                     out.writeEnd);
        out.closeWriteEnd();
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 5, 8000);
        const QString lock = lockFileOf(run.process.processId());
        QVERIFY(!lock.isEmpty());
        ::kill(pid_t(run.process.processId()), SIGTERM);
        if (readerComesBack)
            run.take(readToEnd(out.readEnd));
        QCOMPARE(run.finish(5000), status);
        QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));
        if (readerComesBack) {
            QVERIFY2(run.badLines.isEmpty(), qPrintable(run.badLines.join('\n')));
            QCOMPARE(run.lines.first().value("event").toString(), QStringLiteral("start"));
            QCOMPARE(run.lines.last().value("event").toString(), QStringLiteral("stop"));
        } else {
            QVERIFY2(run.err.contains("standard output took too long"), qPrintable(run.err));
        }
    }

    void aReaderAWholeQueueBehindEndsTheRunWithStatusFour()
    {
        Rig rig;
        StalledPipe out;
        qputenv("KORA_OUTPUT_QUEUE_BYTES", "300"); // the start line and a little more
        Headless run(rig.port() + QStringList{"--duration", "30"}, KORA232_HEADLESS, {},
                     out.writeEnd);
        qunsetenv("KORA_OUTPUT_QUEUE_BYTES");
        out.closeWriteEnd();
        QCOMPARE(run.finish(10000), 4);
        QVERIFY2(run.err.contains("lines would have been lost; stopping"), qPrintable(run.err));
    }

    void aFullDiskEndsTheRunWithStatusFour_data()
    {
        QTest::addColumn<QString>("shell"); // runs the program as "$0" "$@"
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("standard output")
            << "\"$0\" \"$@\" >/dev/full" << QStringList{}
            << "cannot write to standard output: No space left on device; stopping";
        QTest::newRow("the log") << "\"$0\" \"$@\"" << QStringList{"--log", "/dev/full"}
                                 << "logging stopped: /dev/full: No space left on device";
    }
    void aFullDiskEndsTheRunWithStatusFour()
    {
        QFETCH(QString, shell);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        Rig rig;
        Headless run(rig.port() + QStringList{"--duration", "1.5"} + arguments,
                     QStringLiteral("bash"), {"-c", shell, QStringLiteral(KORA232_HEADLESS)});
        QCOMPARE(run.finish(), 4);
        QVERIFY2(run.err.contains("kora232-headless: " + message), qPrintable(run.err));
        if (arguments.isEmpty())
            return;
        // A log that fails leaves polling to go on to the end of the run.
        const QList<QJsonObject> failed = run.events("log-failed");
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0].value("reason").toString(),
                 QStringLiteral("/dev/full: No space left on device"));
        QCOMPARE(run.lines.last().value("event").toString(), QStringLiteral("stop"));
        QVERIFY(run.lines.last().value("link").toObject().value("polls").toInt() >= 5);
    }

    void aStalledLogReaderDelaysRowsWithoutLosingThem()
    {
        Rig rig;
        const QString log = rig.dir.filePath(QStringLiteral("log"));
        const int reader = stalledFifo(log);
        QVERIFY(reader >= 0);
        Headless run(rig.port() + QStringList{"--duration", "30", "--log", log});
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 10, 8000);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QList<QStringList> rows = parseCsv(QString::fromUtf8(readToEnd(reader)));
        ::close(reader);
        QCOMPARE(run.finish(5000), 0);
        QCOMPARE(run.count("log-failed"), 0);

        rows.removeAll(QStringList{QString()}); // the filler
        QCOMPARE(rows.value(0).value(0), QStringLiteral("time"));
        QCOMPARE(rows.value(1).value(1), QStringLiteral("start"));
        QCOMPARE(rows.last().value(1), QStringLiteral("stop"));
        const int polls = run.lines.last().value("link").toObject().value("polls").toInt();
        QVERIFY(polls >= 10);
        QCOMPARE(rows.size(), polls + 3);
        for (int i = 1; i <= polls; ++i)
            QCOMPARE(rows[i + 1].value(2).toInt(), i);
    }

    // One log, one writer: a second program on the log in use ends with
    // status 2 before it opens a port, and the first writes on unharmed;
    // once it has ended, the log is free.
    void aLogInUseByAnotherProgramIsRefused_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("programArguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("kora232-headless --log")
            << KORA232_HEADLESS << QStringList{"--duration", "5"} << "kora232-headless: ";
        QTest::newRow("kora232 --log")
            << "env" << QStringList{"QT_QPA_PLATFORM=offscreen", KORA232} << "kora232: ";
    }
    void aLogInUseByAnotherProgramIsRefused()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, programArguments);
        QFETCH(QString, said);
        Rig rig;
        const QString log = rig.dir.filePath(QStringLiteral("same.csv"));
        Headless first(rig.port() + QStringList{"--duration", "30", "--log", log});
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 3, 8000);
        // A port that is no serial port would end it with status 3.
        Headless second({"--port", "1=/dev/null", "--log", log}, program, programArguments);
        QCOMPARE(second.finish(), 2);
        const QString refusal = said + "cannot log to " + log +
                                ": in use by another program (only one program may write a log)";
        QVERIFY2(second.err.split('\n').contains(refusal), qPrintable(second.err));
        ::kill(pid_t(first.process.processId()), SIGTERM);
        QCOMPARE(first.finish(), 0);
        const QList<QStringList> rows = readCsvFile(log);
        const int polls = first.lines.last().value("link").toObject().value("polls").toInt();
        QCOMPARE(rows.size(), polls + 3);
        QCOMPARE(rows.value(1).value(1), QStringLiteral("start"));
        for (int i = 1; i <= polls; ++i)
            QCOMPARE(rows[i + 1].value(2).toInt(), i);
        QCOMPARE(rows.last().value(1), QStringLiteral("stop"));

        Headless after(rig.port() + QStringList{"--duration", "0.5", "--log", log});
        QCOMPARE(after.finish(), 0);
        QCOMPARE(readCsvFile(log).mid(0, rows.size()), rows);
        QCOMPARE(readCsvFile(log).last().value(1), QStringLiteral("stop"));
    }

    // What a power cut must not take reaches the disk as it is written: the
    // start row, the stop row and the row of every exchange while a bill is in
    // the acceptor or its reply changed are each followed by a sync of the
    // log; rows of an idling acceptor repeating itself only every few seconds.
    void theRowsThatMatterAreSyncedAndNotEveryPoll()
    {
        const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
        QVERIFY2(!strace.isEmpty(), "strace is missing (scripts/setup.sh test installs it)");
        Rig rig;
        const QString log = rig.dir.filePath(QStringLiteral("session.csv"));
        const QString trace = rig.dir.filePath(QStringLiteral("trace"));
        QElapsedTimer running;
        running.start();
        // LeakSanitizer cannot work under ptrace: in the sanitizer build the
        // traced program leaves leaks unchecked, as gdb would have it.
        Headless run(
            rig.port() + QStringList{"--until-bills", "2", "--duration", "30", "--log", log},
            QStringLiteral("env"),
            {"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1", strace, "-ff", "-o", trace, "-e",
             "trace=write,fdatasync", "-e", "signal=none", "-s", "100000", KORA232_HEADLESS});
        QTRY_VERIFY_WITH_TIMEOUT(run.count("start") == 1, 8000);
        QTest::qWait(600);
        for (const int bill : {3, 5}) {
            const qsizetype stacked = run.count("stacked");
            rig.sim->command("insert " + std::to_string(bill));
            QTRY_VERIFY_WITH_TIMEOUT(run.count("stacked") == stacked + 1, 8000);
        }
        QCOMPARE(run.finish(), 0);
        const qint64 seconds = running.elapsed() / 1000;
        const int polls = run.lines.last().value("link").toObject().value("polls").toInt();

        // The log's writer is the thread that writes CSV lines.
        QStringList calls;
        for (const QFileInfo& f : QDir(rig.dir.path()).entryInfoList({"trace.*"})) {
            QFile file(f.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(file.readAll());
            if (text.contains(QLatin1String(",stop,")))
                calls = text.split('\n', Qt::SkipEmptyParts);
        }
        QVERIFY(!calls.isEmpty());
        static const QRegularExpression marks(",(start|stop),|, counted,");
        // A good poll row's reply, its bytes 4 to 6 captured.
        static const QRegularExpression pollRow(
            ",poll,\\d+,good,[0-9A-F ]*,(?:[0-9A-F]{2} ){3}((?:[0-9A-F]{2} ){3})|,poll,\\d");
        QString stateBefore;
        int synced = 0;  // start, stop and counting rows, each in a write followed by a sync
        int changes = 0; // poll rows with a bill or a changed reply, each followed by a sync
        int floor = 0;   // syncs after writes of an idling acceptor's repeats alone
        int written = 0; // poll rows
        for (int i = 0; i < calls.size(); ++i) {
            if (!calls[i].startsWith(QLatin1String("write(")))
                continue;
            const bool sync = calls.value(i + 1).startsWith(QLatin1String("fdatasync("));
            int matters = int(calls[i].count(marks));
            for (auto m = pollRow.globalMatch(calls[i]); m.hasNext(); ++written) {
                const QString state = m.next().captured(1);
                const bool bill = !state.startsWith(QLatin1String("01 ")) ||
                                  !stateBefore.startsWith(QLatin1String("01 "));
                if (!state.isEmpty() && (bill || state != stateBefore))
                    ++matters, ++changes;
                stateBefore = state.isEmpty() ? stateBefore : state;
            }
            QVERIFY2(sync || !matters, qPrintable(calls[i]));
            synced += sync ? int(calls[i].count(marks)) : 0;
            floor += sync && !matters;
        }
        QCOMPARE(synced, 4);                                              // start, two bills, stop
        QVERIFY2(changes >= 2 * 4, qPrintable(QString::number(changes))); // each bill's steps
        QVERIFY2(floor <= seconds / 5 + 1, qPrintable(QString::number(floor)));
        QCOMPARE(written, polls);
        QVERIFY2(polls >= 10, qPrintable(QString::number(polls)));
    }

    // While the log's reader takes nothing, every poll after the first
    // repeats the bit of the one before: the acceptor answers each with its
    // last reply and a bill inserted meanwhile waits in escrow. Once the
    // reader reads again, every row arrives and the bill is counted once.
    void aLogBehindTheWireHoldsTheAcceptorUntilItCatchesUp()
    {
        Rig rig;
        const QString log = rig.dir.filePath(QStringLiteral("log"));
        const int reader = stalledFifo(log);
        QVERIFY(reader >= 0);
        Headless run(rig.port() + QStringList{"--duration", "30", "--log", log});
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 5, 8000);
        QVERIFY(rig.sim->command("insert 3").ok);
        QTest::qWait(2000); // four times the bill's way to escrow
        QCOMPARE(rig.sim->tally().total(), 0);
        QVERIFY(rig.sim->counters().repeats >= 10);
        QCOMPARE(run.count("stacked"), 0);

        QByteArray got;
        for (QDeadlineTimer deadline(10000); run.count("stacked") == 0 && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            char buf[65536];
            const ssize_t n = ::read(reader, buf, sizeof buf);
            got.append(buf, std::max<ssize_t>(n, 0));
            QTest::qWait(10);
        }
        ::kill(pid_t(run.process.processId()), SIGTERM);
        const int flags = ::fcntl(reader, F_GETFL);
        ::fcntl(reader, F_SETFL, flags & ~O_NONBLOCK);
        got += readToEnd(reader);
        ::close(reader);
        QCOMPARE(run.finish(5000), 0);
        QCOMPARE(run.count("stacked"), 1);
        QCOMPARE(rig.sim->tally().of(3), 1);

        QList<QStringList> rows = parseCsv(QString::fromUtf8(got));
        rows.removeAll(QStringList{QString()}); // the filler
        const int polls = run.lines.last().value("link").toObject().value("polls").toInt();
        QCOMPARE(rows.size(), polls + 3);
        int held = 0, counted = 0;
        for (int i = 2; i < rows.size() - 1; ++i) {
            QCOMPARE(rows[i].value(2).toInt(), i - 1);
            held += i > 2 && rows[i].value(4) == rows[i - 1].value(4) &&
                    rows[i].value(5) == rows[i - 1].value(5);
            counted += rows[i].value(8).count(QLatin1String("bill 3 stacked, counted"));
        }
        QVERIFY2(held >= 10, qPrintable(QString::number(held)));
        QCOMPARE(counted, 1);
    }

    void standardOutputClosingEndsTheRunWithStatusZero_data()
    {
        QTest::addColumn<QString>("shell"); // runs the program as "$0" "$@"
        QTest::addColumn<int>("startLines");
        QTest::addColumn<QString>("message");
        // The reader dies a second after the start, once the acceptor idles
        // and no more lines are due: the program notices within a second all
        // the same, closes the port and ends.
        QTest::newRow("reader gone")
            << "\"$0\" \"$@\" | { head -n 1; sleep 1; }; exit ${PIPESTATUS[0]}" << 1
            << "standard output closed";
        QTest::newRow("closed from the start")
            << "\"$0\" \"$@\" >&-" << 0 << "standard output is closed";
    }
    void standardOutputClosingEndsTheRunWithStatusZero()
    {
        QFETCH(QString, shell);
        QFETCH(int, startLines);
        QFETCH(QString, message);
        Rig rig;
        Headless run(rig.port() + QStringList{"--duration", "30"}, QStringLiteral("bash"),
                     {"-c", shell, QStringLiteral(KORA232_HEADLESS)});
        QCOMPARE(run.finish(5000), 0);
        QCOMPARE(run.count("start"), startLines);
        QVERIFY2(run.err.contains("kora232-headless: " + message), qPrintable(run.err));
    }

    void aRunThatCannotStartEndsWithItsStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto usage = [](const char* name, QStringList arguments, const char* message) {
            QTest::newRow(name) << arguments << 2 << QString::fromLatin1(message);
        };
        usage("port number out of range", {"--port", "9=/dev/null"},
              "--port 9=/dev/null: the port number must be 1 to 8");
        usage("port-number out of range", {"--port-number", "0"}, "--port-number 0: must be");
        usage("poll rate below 100", {"--poll-rate", "50"}, "--poll-rate 50: must be");
        usage("bill outside 1-7", {"--bills", "1,8"}, "--bills 1,8: \"8\" is not a bill");
        usage("backward range", {"--bills", "5-3"}, "--bills 5-3: \"5-3\" is not a bill");
        usage("escrow neither on nor off", {"--escrow", "yes"}, "--escrow yes: must be on or off");
        usage("duration not a number", {"--duration", "soon"}, "--duration soon: must be");
        usage("until-bills zero", {"--until-bills", "0"}, "--until-bills 0: must be");
        usage("two ports, none chosen", {"--port", "1=/a", "--port", "2=/b"}, "--port-number");
        usage("unknown option", {"--demo"}, "Unknown option 'demo'");
        usage("log that cannot be opened", {"--log", "/nonexistent-kora232/x.csv"},
              "cannot log to /nonexistent-kora232/x.csv: No such file or directory");
        usage("metrics in a folder that is missing", {"--metrics", "/nonexistent-kora232/x.prom"},
              "cannot write the metrics to /nonexistent-kora232/x.prom: No such file or directory");
        usage("metrics interval alone", {"--metrics-interval", "5"}, "needs --metrics FILE");
        QTest::newRow("no such device") << QStringList{"--port", "1=/nonexistent-kora232"} << 3
                                        << "port 1 (/nonexistent-kora232): cannot";
        QTest::newRow("not a serial port") << QStringList{"--port", "1=/dev/null"} << 3
                                           << "port 1 (/dev/null): not a serial port (error 8006)";
        QTest::newRow("in use") << QStringList{} << 3 << "): in use by another program (error 8010)";
    }
    void aRunThatCannotStartEndsWithItsStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        Rig rig; // the in-use row's port, held by this process
        kora::PortMap ports;
        ports.pin(1, rig.link());
        kora::MSComm holder(ports);
        if (arguments.isEmpty()) {
            holder.open();
            arguments = rig.port();
        }
        // Should the line be taken after all, the program ends soon anyway.
        Headless run(QStringList{"--duration", "1"} + arguments);
        QCOMPARE(run.finish(), status);
        QVERIFY2(run.err.startsWith("kora232-headless: ") && run.err.contains(message),
                 qPrintable(run.err));
        if (!message.startsWith(QLatin1String("cannot")) && status == 2) // a mistake, not a file
            QVERIFY2(run.err.contains("\nUsage: kora232-headless [OPTION]..."),
                     qPrintable(run.err));
        QVERIFY(run.lines.isEmpty());
        QCOMPARE(rig.sim->messagesServed(), 0u);
    }

    // A START whose port never opens is no session: one row of its own, not
    // repeated while the same failure repeats (a unit restarting every 5 s
    // against a held port).
    void aStartWhosePortNeverOpenedIsOneRowOfItsOwn_data()
    {
        QTest::addColumn<QStringList>("runs");  // held, missing or polled
        QTest::addColumn<QStringList>("kinds"); // the log's rows, runs of polls as one
        QTest::newRow("three tries at a held port")
            << QStringList{"held", "held", "held"} << QStringList{"failed"};
        QTest::newRow("held, then polled, then held again")
            << QStringList{"held", "held", "polled", "held"}
            << QStringList{"failed", "start", "poll", "stop", "failed"};
        QTest::newRow("two failures of their own")
            << QStringList{"held", "missing", "missing", "held"}
            << QStringList{"failed", "failed", "failed"};
    }
    void aStartWhosePortNeverOpenedIsOneRowOfItsOwn()
    {
        QFETCH(QStringList, runs);
        QFETCH(QStringList, kinds);
        Rig rig;
        kora::PortMap ports;
        ports.pin(1, rig.link());
        kora::MSComm holder(ports);
        const QString log = rig.dir.filePath(QStringLiteral("log.csv"));
        const QString missing = rig.dir.filePath(QStringLiteral("missing"));
        for (const QString& how : runs) {
            if (how == "held" && !holder.isOpen())
                holder.open();
            else if (how != "held" && holder.isOpen())
                holder.close();
            const QString device = how == "missing" ? missing : rig.link();
            Headless run({"--duration", "1", "--log", log, "--port", "1=" + device});
            QCOMPARE(run.finish(), how == "polled" ? 0 : 3);
        }
        QStringList found;
        const QList<QStringList> rows = readCsvFile(log);
        for (const QStringList& row : rows.mid(1)) {
            if (row.value(1) != "poll" || found.value(found.size() - 1) != "poll")
                found << row.value(1);
            if (row.value(1) != "failed")
                continue;
            const QString device = row.value(8).contains(missing) ? missing : rig.link();
            const QString port = "port 1 (" + device + ")";
            QVERIFY2(
                row.value(8).startsWith(port + ": cannot be opened: Error 8010: P" + port.mid(1)),
                qPrintable(row.value(8)));
        }
        QCOMPARE(found, kinds);
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("--version")
            << "--version" << QStringList{"kora232-headless " KORA_VERSION "\n"};
        QTest::newRow("--help") << "--help"
                                << QStringList{"Usage: kora232-headless [options]",
                                               "--port <N=DEVICE>",
                                               "--port-number <N>",
                                               "--poll-rate <MS>",
                                               "--bills <LIST>",
                                               "--escrow <on|off>",
                                               "--escrow-action <stack|return>",
                                               "--list-ports",
                                               "--duration <SECONDS>",
                                               "--until-bills <N>",
                                               "--log <FILE>",
                                               "log-failed",
                                               "Exit status:\n  0  ",
                                               "\n  4  lines or rows were lost",
                                               "USB adapters"};
        QTest::newRow("--list-ports") << "--list-ports" << QStringList{"port 1  ", "port 8  "};
        QTest::newRow("--help-all") << "--help-all"
                                    << QStringList{"Usage: kora232-headless [options]",
                                                   "--metrics <FILE>", "--qmljsdebugger <value>"};
    }
    void helpAndVersion()
    {
        QFETCH(QString, option);
        QFETCH(QStringList, said);
        Headless run({option});
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.count("start") == 0 && run.err.isEmpty(), run.out.constData()); // no run began
        for (const QString& text : said)
            QVERIFY2(run.out.contains(text.toUtf8()), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(HeadlessTest)
#include "tst_headless.moc"
