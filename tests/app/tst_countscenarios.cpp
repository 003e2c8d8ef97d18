// Every stacked bill counted once, whatever the poll rate and the line do:
// acceptor-sim plays a scenario of bills and faults, kora232-headless polls
// it, and the bills counted must equal the acceptor's tally. The rows run
// side by side, each pair on its own pseudo-terminal, so that the slow ones
// cost their own time once.
#include "record/sessionanalysis.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fstream>
#include <memory>

namespace {

struct Scenario
{
    QString name;
    QString script; // acceptor-sim's --run
    int pollMs;
    bool escrow;
    int seconds;
    QStringList simOptions = {};
};

// Stacked 3, bit 0: what an acceptor that stacked a bill before this process
// began sends again for a host message with bit 0.
const QString StackedBefore = QStringLiteral("02 0B 20 10 10 18 4B 01 03 03 7A");

// Repeats `command` every `everyMs` for `forMs`: a fault that strikes
// somewhere on a bill's way, whatever its exact timing.
QString every(const QString& command, int everyMs, int forMs)
{
    QStringList parts;
    for (int t = 0; t < forMs; t += everyMs)
        parts << command << QStringLiteral("wait %1ms").arg(everyMs);
    return parts.join(QStringLiteral("; "));
}

QList<Scenario> scenarios()
{
    // The acceptor takes bills once a host message has enabled them: the
    // first poll comes one poll period after the poller starts.
    const QString badPatch =
        "step 300ms; wait 2500ms; insert 3; insert %1; wait 500ms; corrupt on; "
        "wait 1500ms; corrupt off";
    return {
        {"late reply and its repeat late, 500 ms", "step 150ms; wait 1s; insert 3; late 600 12",
         500, true, 9},
        {"late reply and its repeat late, 1000 ms",
         "step 150ms; wait 2500ms; insert 3; late 1200 10", 1000, true, 13},
        {"two bills around a no-reply poll",
         "step 150ms; wait 1s; insert 3; insert 5; " + every("silent 120ms", 400, 2000), 100, false,
         6},
        {"bad patch, then another bill, 100 ms", badPatch.arg(5), 100, true, 8},
        {"bad patch, then another bill, 1000 ms", badPatch.arg(5), 1000, true, 16},
        {"bad patch, then the same bill, no escrow", badPatch.arg(3), 100, false, 8},
        {"sticky report, 100 ms",
         "step 150ms; wait 1s; sticky 2; insert 3; wait 2s; sticky 2; "
         "insert 4",
         100, true, 7},
        {"sticky report, 1000 ms", "step 150ms; wait 2500ms; sticky 2; insert 3", 1000, true, 10},
        {"queued replies, 700 ms", "step 150ms; queue on; wait 1s; insert 3; insert 5; insert 1",
         700, true, 18},
        {"queued replies, 800 ms", "step 150ms; queue on; wait 1s; insert 3; insert 5; insert 1",
         800, true, 18},
        {"deaf after a stacked reply, 100 ms",
         "step 150ms; wait 1s; insert 3; " + every("deaf 1", 110, 2000), 100, true, 6},
        {"deaf after a stacked reply, 500 ms",
         "step 150ms; wait 1s; insert 3; " + every("deaf 1", 520, 5000), 500, true, 9},
        {"a report from before the process",
         "wait 1500ms; insert 5",
         100,
         true,
         5,
         {"--last-bit", "0", "--last-reply", StackedBefore}},
    };
}

// One scenario: the simulator on a link of its own and the poller on it.
struct Pair
{
    explicit Pair(const Scenario& sc) : scenario(sc)
    {
        link = dir.filePath(QStringLiteral("acceptor"));
        sim.start(ACCEPTOR_SIM, QStringList{"--link", link, "--run", sc.script} + sc.simOptions);
    }

    // Its first line says the link is ready.
    bool simReady()
    {
        if (simOut.isEmpty() && !sim.waitForReadyRead(5000))
            return false;
        simOut += sim.readAllStandardOutput();
        return true;
    }
    bool startPoller(const QStringList& more = {})
    {
        if (!simReady())
            return false;
        poller.start(KORA232_HEADLESS, QStringList{"--port", "1=" + link, "--poll-rate",
                                                   QString::number(scenario.pollMs), "--escrow",
                                                   scenario.escrow ? "on" : "off", "--duration",
                                                   QString::number(scenario.seconds)} +
                                           more);
        return true;
    }
    // The window instead, at its start-up rate of 100 ms with escrow mode,
    // its session log in log.csv.
    bool startWindow()
    {
        if (!simReady())
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        poller.setProcessEnvironment(env);
        poller.start(KORA232, {"--port", "1=" + link, "--start", "--log", logPath(), "--quit-after",
                               QString::number(scenario.seconds * 1000)});
        return true;
    }
    QString logPath() const { return dir.filePath(QStringLiteral("log.csv")); }

    QString logText() const { return fileText(logPath()); }
    static QString fileText(const QString& path)
    {
        QFile log(path);
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    // The bills the log's rows say were counted, as the tally reads.
    // With the file a rotation left beside it, if any.
    QString countedInLog() const { return countedIn(logText() + fileText(logPath() + ".1")); }
    static QString countedIn(const QString& text)
    {
        if (text.isEmpty())
            return QStringLiteral("no log");
        static const QRegularExpression counted(QStringLiteral("bill (\\d) stacked, counted"));
        int counts[8] = {};
        auto it = counted.globalMatch(text);
        while (it.hasNext())
            ++counts[it.next().captured(1).toInt()];
        QStringList parts;
        int total = 0;
        for (int n = 1; n <= 7; ++n)
            parts << QStringLiteral("bill%1=%2").arg(n).arg(counts[n]), total += counts[n];
        return (parts << QStringLiteral("total=%1").arg(total)).join(' ');
    }

    // "bill1=0 bill2=0 bill3=1 ... total=1" from each side.
    QString counted() const { return stopCounts(pollerOut); }
    // The counts of the first stop line in a poller's output.
    static QString stopCounts(const QByteArray& out)
    {
        const QList<QByteArray> lines = out.split('\n');
        for (const QByteArray& line : lines) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event").toString() != QLatin1String("stop"))
                continue;
            QStringList parts;
            const QJsonObject counts = o.value("counts").toObject();
            for (int n = 1; n <= 7; ++n)
                parts << QStringLiteral("bill%1=%2")
                             .arg(n)
                             .arg(counts.value(QString::number(n)).toInt());
            return (parts << QStringLiteral("total=%1").arg(o.value("total").toInt())).join(' ');
        }
        return QStringLiteral("no stop line");
    }
    QString tally() const
    {
        static const QRegularExpression line(QStringLiteral("^tally: (.*)$"),
                                             QRegularExpression::MultilineOption);
        return line.match(QString::fromUtf8(simOut)).captured(1).trimmed();
    }

    Scenario scenario;
    QTemporaryDir dir;
    QString link;
    QProcess sim;
    QProcess poller;
    QByteArray simOut;
    QByteArray pollerOut;
};

} // namespace

class CountScenariosTest : public QObject
{
    Q_OBJECT

private slots:
    void everyScenarioCountsExactlyTheAcceptorsTally()
    {
        std::vector<std::unique_ptr<Pair>> pairs;
        for (const Scenario& sc : scenarios())
            pairs.push_back(std::make_unique<Pair>(sc));
        for (auto& p : pairs)
            QVERIFY2(p->startPoller(), qPrintable(p->scenario.name));
        const QStringList wrong = judge(pairs, [](const Pair& p) { return p.counted(); });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    void theWindowsLogCountsTheQueuedAndTheBadPatchScenariosAsTheTally()
    {
        std::vector<std::unique_ptr<Pair>> pairs;
        for (const Scenario& sc : scenarios())
            if (sc.name == QLatin1String("queued replies, 700 ms") ||
                sc.name == QLatin1String("bad patch, then another bill, 100 ms"))
                pairs.push_back(std::make_unique<Pair>(sc));
        QCOMPARE(pairs.size(), std::size_t{2});
        for (auto& p : pairs)
            QVERIFY2(p->startWindow(), qPrintable(p->scenario.name));
        const QStringList wrong = judge(pairs, [](const Pair& p) { return p.countedInLog(); });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    // A poller stopped at a moment of a bill's cycle and started again on
    // the same log: across the two runs' logs the bill counts exactly once,
    // whether the first run ended cleanly or was killed outright.
    void aBillCountsOnceAcrossARestartOnTheSameLog()
    {
        struct Restart
        {
            const char* name;
            int signal;
            const char* moment;   // the flag whose state line ends the first run
            bool rotated = false; // logrotate renames the log before the restart
        };
        const Restart rows[] = {
            {"SIGTERM while accepting", SIGTERM, "Accepting"},
            {"SIGINT in escrow", SIGINT, "Escrowed"},
            {"SIGKILL in escrow", SIGKILL, "Escrowed"},
            {"SIGTERM while stacking", SIGTERM, "Stacking"},
            {"SIGKILL while stacking", SIGKILL, "Stacking"},
            {"SIGKILL at the stacked report", SIGKILL, "Stacked"},
            {"SIGINT at the stacked report", SIGINT, "Stacked"},
            {"SIGKILL while stacking, the log rotated while down", SIGKILL, "Stacking", true},
            {"SIGKILL at the stacked report, the log rotated while down", SIGKILL, "Stacked", true},
        };
        std::vector<std::unique_ptr<Pair>> pairs;
        for (const Restart& r : rows)
            pairs.push_back(std::make_unique<Pair>(
                Scenario{r.name, "step 1s; wait 1s; insert 4", 100, true, 6}));
        for (auto& p : pairs)
            QVERIFY2(p->startPoller({"--log", p->logPath()}), qPrintable(p->scenario.name));
        // The acceptor goes on meanwhile, a step and more, as it does while
        // systemd waits to start the poller again: the next run's first
        // frame may be the stacked report itself.
        constexpr int RestartAfterMs = 1500;
        QDeadlineTimer deadline(25000);
        std::vector<std::optional<QDeadlineTimer>> restart(pairs.size());
        std::size_t restarted = 0;
        while (!deadline.hasExpired() && restarted < pairs.size()) {
            QTest::qWait(10);
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Pair& p = *pairs[i];
                p.pollerOut += p.poller.readAllStandardOutput();
                if (restart[i] && restart[i]->hasExpired() &&
                    p.poller.state() == QProcess::NotRunning) {
                    p.startPoller({"--log", p.logPath()});
                    ++restarted;
                } else if (!restart[i] &&
                           p.pollerOut.contains(QByteArray("\"") + rows[i].moment + '"')) {
                    ::kill(pid_t(p.poller.processId()), rows[i].signal);
                    p.poller.waitForFinished(5000);
                    if (rows[i].rotated) // as logrotate's nocreate does
                        QFile::rename(p.logPath(), p.logPath() + ".1");
                    restart[i] = QDeadlineTimer(RestartAfterMs);
                }
            }
        }
        QVERIFY(!deadline.hasExpired());
        const QStringList wrong = judge(pairs, [](const Pair& p) { return p.countedInLog(); });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    // A reply the acceptor sends late lands after the poll's wait, to be read
    // by the next poll; a stop before that poll judges it: the stacked bill
    // counts once, in the run that stopped, and the restart on the same log
    // takes the report it finds still up for a repeat.
    void aStopJustAfterALateStackedReportCountsItInTheStoppedRun()
    {
        const int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};
        std::vector<std::unique_ptr<Pair>> pairs;
        for (const int signal : stopSignals)
            pairs.push_back(std::make_unique<Pair>(Scenario{QStringLiteral("signal %1").arg(signal),
                                                            "step 150ms; wait 3s; insert 3",
                                                            1500,
                                                            true,
                                                            30,
                                                            {"--verbose"}}));
        for (auto& p : pairs)
            QVERIFY2(p->startPoller({"--log", p->logPath()}), qPrintable(p->scenario.name));
        // The reply after the stacking one is the stacked report: a second
        // late, it comes half a period after its poll gave up, and the stop
        // comes half-way to the next poll.
        enum Phase { Stacking, Stacked, Stopping, Restarted };
        std::vector<Phase> phase(pairs.size(), Stacking);
        std::vector<QDeadlineTimer> stopAt(pairs.size());
        QByteArray simErr[std::size(stopSignals)], stoppedRun[std::size(stopSignals)];
        QDeadlineTimer deadline(40000);
        std::size_t restarted = 0;
        while (!deadline.hasExpired() && restarted < pairs.size()) {
            QTest::qWait(5);
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Pair& p = *pairs[i];
                simErr[i] += p.sim.readAllStandardError();
                p.pollerOut += p.poller.readAllStandardOutput();
                if (phase[i] == Stacking && simErr[i].contains("| stacking")) {
                    p.sim.write("late 1000 1\n");
                    phase[i] = Stacked;
                } else if (phase[i] == Stacked && simErr[i].contains("| stacked")) {
                    stopAt[i] = QDeadlineTimer(1250);
                    phase[i] = Stopping;
                } else if (phase[i] == Stopping && stopAt[i].hasExpired()) {
                    ::kill(pid_t(p.poller.processId()), stopSignals[i]);
                    p.poller.waitForFinished(5000);
                    p.pollerOut += p.poller.readAllStandardOutput();
                    stoppedRun[i] = p.pollerOut;
                    p.scenario.seconds = 3;
                    p.poller.start(KORA232_HEADLESS, {"--port", "1=" + p.link, "--poll-rate", "100",
                                                      "--duration", "3", "--log", p.logPath()});
                    phase[i] = Restarted;
                    ++restarted;
                }
            }
        }
        QVERIFY(!deadline.hasExpired());
        QStringList wrong = judge(pairs, [](const Pair& p) { return p.countedInLog(); });
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const Pair& p = *pairs[i];
            if (Pair::stopCounts(stoppedRun[i]) != p.tally())
                wrong << p.scenario.name + ": the stopped run counted " +
                             Pair::stopCounts(stoppedRun[i]) + ", tally " + p.tally();
            if (!p.logText().contains("frame read at the stop"))
                wrong << p.scenario.name + ": no frame read at the stop in the log (or did "
                                           "the stop come after the next poll?)";
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    // Two acceptors, a poller and a log each, the logs named after the names
    // the kernel gave the adapters; the first poller is killed with a bill's
    // stacked report up, and after the reboot the names lead the other way
    // round. Neither log is continued through the other adapter: the bill
    // counts once, on the first acceptor's log.
    void aLogIsNotContinuedThroughAnotherAdapter()
    {
        Pair first(Scenario{"first", "step 1s; wait 1s; insert 4", 100, true, 3});
        Pair second(Scenario{"second", "step 1s", 100, true, 3});
        QTemporaryDir dev;
        const QString names[] = {dev.filePath("ttyUSB0"), dev.filePath("ttyUSB1")};
        const auto plug = [&names](const Pair& zero, const Pair& one) {
            QFile::remove(names[0]);
            QFile::remove(names[1]);
            return QFile::link(zero.link, names[0]) && QFile::link(one.link, names[1]);
        };
        const auto poll = [](Pair& p, const QString& name, int seconds) {
            p.poller.start(KORA232_HEADLESS, {"--port", "1=" + name, "--log", name + ".csv",
                                              "--duration", QString::number(seconds)});
        };
        QVERIFY(first.simReady() && second.simReady() && plug(first, second));
        poll(first, names[0], 30);
        poll(second, names[1], 30);
        QDeadlineTimer deadline(20000);
        // Killed once the count is in the log, the report perhaps still up.
        while (!deadline.hasExpired() &&
               !Pair::fileText(names[0] + ".csv").contains("stacked, counted"))
            QTest::qWait(5);
        QVERIFY(!deadline.hasExpired());
        ::kill(pid_t(first.poller.processId()), SIGKILL);
        ::kill(pid_t(second.poller.processId()), SIGTERM);
        QVERIFY(first.poller.waitForFinished(5000) && second.poller.waitForFinished(5000));
        QVERIFY(plug(second, first));
        poll(second, names[0], 3);
        poll(first, names[1], 3);
        for (Pair* p : {&first, &second}) {
            QVERIFY(p->poller.waitForFinished(15000));
            p->sim.terminate();
            p->sim.waitForFinished(5000);
            p->simOut += p->sim.readAllStandardOutput();
        }
        QVERIFY(first.tally().endsWith("total=1") && second.tally().endsWith("total=0"));
        const QString logs = Pair::fileText(names[0] + ".csv") + Pair::fileText(names[1] + ".csv");
        QCOMPARE(Pair::countedIn(logs), first.tally());
        QVERIFY2(!logs.contains("continues from the log"), qPrintable(logs));
    }

    // The poller killed at a moment of a bill's cycle and its log cut back
    // to its size at the last sync, as a power cut leaves it (a preloaded
    // library notes the size after each fdatasync), then started again on
    // that log: the bill counts once, in the log, at every moment.
    void aBillCountsOnceAcrossAPowerCutAtEachMomentOfItsCycle()
    {
        struct Cut
        {
            const char* name;
            int pollMs;
            const char* moment; // the flag whose state line is the moment of the cut
            int syncMs = 0;     // a slow disk: each sync takes this long
        };
        const Cut rows[] = {
            {"accepting, 100 ms", 100, "Accepting"},
            {"in escrow, 100 ms", 100, "Escrowed"},
            {"stacking, 100 ms", 100, "Stacking"},
            {"stacked, 100 ms", 100, "Stacked"},
            {"in escrow, 800 ms", 800, "Escrowed"},
            {"stacking, 800 ms", 800, "Stacking"},
            {"stacked, 800 ms", 800, "Stacked"},
            {"stacking, 100 ms, each sync 250 ms", 100, "Stacking", 250},
        };
        std::vector<std::unique_ptr<Pair>> pairs;
        for (const Cut& c : rows)
            pairs.push_back(std::make_unique<Pair>(
                Scenario{c.name, "step 1s; wait 1s; insert 4", c.pollMs, true, 8}));
        const auto start = [&rows, &pairs](std::size_t i) {
            Pair& p = *pairs[i];
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (rows[i].syncMs)
                env.insert(QStringLiteral("KORA_SYNC_MS"), QString::number(rows[i].syncMs));
            env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KORA_SYNC_NOTE_LIBRARY));
            env.insert(QStringLiteral("KORA_SYNC_NOTE"), p.dir.filePath(QStringLiteral("synced")));
            p.poller.setProcessEnvironment(env);
            return p.startPoller({"--log", p.logPath()});
        };
        for (std::size_t i = 0; i < pairs.size(); ++i)
            QVERIFY2(start(i), qPrintable(pairs[i]->scenario.name));
        QDeadlineTimer deadline(30000);
        std::vector<std::optional<QDeadlineTimer>> restart(pairs.size());
        std::size_t restarted = 0;
        while (!deadline.hasExpired() && restarted < pairs.size()) {
            QTest::qWait(5);
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Pair& p = *pairs[i];
                p.pollerOut += p.poller.readAllStandardOutput();
                if (restart[i] && restart[i]->hasExpired() &&
                    p.poller.state() == QProcess::NotRunning) {
                    start(i);
                    ++restarted;
                } else if (!restart[i] &&
                           p.pollerOut.contains(QByteArray("\"") + rows[i].moment + '"')) {
                    ::kill(pid_t(p.poller.processId()), SIGKILL);
                    p.poller.waitForFinished(5000);
                    QVERIFY2(cutToLastSync(p), qPrintable(p.scenario.name));
                    restart[i] = QDeadlineTimer(1500);
                }
            }
        }
        QVERIFY(!deadline.hasExpired());
        const QStringList wrong = judge(pairs, [](const Pair& p) { return p.countedInLog(); });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    // The wall clock set back an hour mid-bill, as NTP sets a kiosk's clock
    // at boot (libfaketime; the steady clock left alone): the bill counts
    // once, its cycle lasts what it took, and the log read back gives the
    // stop row's figures, with the step among its anomalies.
    void aClockSetBackAnHourMidBillCountsTheBillOnce()
    {
        std::vector<std::unique_ptr<Pair>> pairs;
        pairs.push_back(std::make_unique<Pair>(
            Scenario{"the clock set back an hour", "step 1s; wait 1s; insert 4", 100, true, 7}));
        Pair& p = *pairs.front();
        const QString stamp = p.dir.filePath(QStringLiteral("faketime"));
        const auto setClock = [&stamp](const char* offset) {
            QFile file(stamp);
            return file.open(QIODevice::WriteOnly) && file.write(offset) > 0;
        };
        QVERIFY2(QFile::exists(KORA_LIBFAKETIME), "faketime is missing (scripts/setup.sh test)");
        QVERIFY(setClock("+0"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KORA_LIBFAKETIME));
        env.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), stamp);
        env.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        p.poller.setProcessEnvironment(env);
        QVERIFY(p.startPoller({"--log", p.logPath()}));
        QTRY_VERIFY_WITH_TIMEOUT(
            (p.pollerOut += p.poller.readAllStandardOutput()).contains("\"Escrowed\""), 8000);
        QVERIFY(setClock("-1h"));
        const QStringList wrong = judge(pairs, [](const Pair& p) { return p.counted(); });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));

        std::ifstream log(p.logPath().toStdString(), std::ios::binary);
        std::vector<kora::SessionSummary> sessions;
        QVERIFY(
            !kora::AnalyseLog(log, [&](const kora::SessionSummary& s) { sessions.push_back(s); }));
        QCOMPARE(sessions.size(), std::size_t{1});
        const kora::SessionSummary& s = sessions.front();
        const std::string stop = s.stopped.value_or("");
        const std::size_t bills = stop.find("; bills: ");
        QCOMPARE(s.bills.text(), stop.substr(bills + 2, stop.find("; ", bills + 2) - bills - 2));
        const double cycleMs = s.bills.medianCycleMs().value_or(-1);
        QVERIFY2(cycleMs > 1000 && cycleMs < 10000, stop.c_str());
        QVERIFY(std::any_of(s.anomalies.begin(), s.anomalies.end(), [](const kora::Anomaly& a) {
            return a.what.starts_with("wall clock set back 36");
        }));
    }

private:
    // What a power cut leaves of the log: its size at the last sync.
    static bool cutToLastSync(Pair& p)
    {
        QFile note(p.dir.filePath(QStringLiteral("synced")));
        const qint64 size = note.open(QIODevice::ReadOnly) ? note.readAll().toLongLong() : 0;
        QFile log(p.logPath());
        return size <= log.size() && log.resize(size);
    }

    // Waits for each pair's poller to end, stops its simulator and compares
    // what the poller counted with the tally; a line for each that differs.
    template <typename Counted>
    static QStringList judge(std::vector<std::unique_ptr<Pair>>& pairs, Counted counted)
    {
        QStringList wrong;
        for (auto& p : pairs) {
            const int ms = p->scenario.seconds * 1000 + 10000;
            if (!p->poller.waitForFinished(ms) || p->poller.exitCode() != 0)
                wrong << p->scenario.name + ": the poller did not end well";
            p->pollerOut = p->poller.readAllStandardOutput();
            p->sim.terminate();
            p->sim.waitForFinished(5000);
            p->simOut += p->sim.readAllStandardOutput();
            const QString tally = p->tally();
            if (tally.isEmpty() || tally.endsWith(QLatin1String("total=0")) || counted(*p) != tally)
                wrong << QStringLiteral("%1: counted %2, tally %3")
                             .arg(p->scenario.name, counted(*p), tally);
        }
        return wrong;
    }
};

QTEST_GUILESS_MAIN(CountScenariosTest)
#include "tst_countscenarios.moc"
