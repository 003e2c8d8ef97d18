// kora232-headless as a kiosk runs it under systemd: its metrics file read by
// Prometheus's own checker and by a reader racing its rewrites, its messages
// under the journal, and its log rotated under it.
#include "acceptorserver.h"
#include "csvreader.h"
#include "keptpaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

struct Rig
{
    Rig()
    {
        kora::sim::ServerOptions o;
        o.stepTime = 200ms;
        o.symlink = dir.filePath(QStringLiteral("acceptor")).toStdString();
        sim = std::make_unique<kora::sim::AcceptorServer>(o);
    }
    QStringList port() const
    {
        return {"--port", "1=" + QString::fromStdString(sim->symlinkPath())};
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    std::unique_ptr<kora::sim::AcceptorServer> sim;
};

// The program with no display, its standard error in a file when given one.
struct Poller
{
    explicit Poller(const QStringList& arguments, const QString& errFile = {},
                    const QString& journalStream = {}, const std::function<void()>& inChild = {})
    {
        if (inChild)
            process.setChildProcessModifier(inChild);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(display));
        env.remove(QStringLiteral("JOURNAL_STREAM"));
        if (!journalStream.isEmpty())
            env.insert(QStringLiteral("JOURNAL_STREAM"), journalStream);
        process.setProcessEnvironment(env);
        if (!errFile.isEmpty())
            process.setStandardErrorFile(errFile);
        process.start(QStringLiteral(KORA232_HEADLESS), arguments);
    }
    int finish(int timeoutMs = 15000)
    {
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        out += process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QJsonObject lastLine() const
    {
        const QList<QByteArray> lines = out.trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }
    int count(const char* event) const
    {
        return int(out.count(QByteArray("\"event\":\"") + event));
    }

    QProcess process;
    QByteArray out;
};

// Each sample of an exposition as "name{labels}" without the port label.
QMap<QString, double> samples(const QByteArray& text)
{
    static const QRegularExpression sample(
        QStringLiteral("^([a-z0-9_]+)\\{port=\"[^\"]*\",?(.*)\\} (\\S+)$"));
    QMap<QString, double> found;
    for (const QByteArray& line : text.split('\n'))
        if (const auto m = sample.match(QString::fromUtf8(line)); m.hasMatch())
            found[m.captured(1) + "{" + m.captured(2) + "}"] = m.captured(3).toDouble();
    return found;
}

QString deviceAndInode(const QString& path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QStringLiteral("%1:%2").arg(qulonglong(st.st_dev)).arg(qulonglong(st.st_ino));
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The bills a log's rows counted, 1-7 at 0-6.
QList<int> countedIn(const QList<QStringList>& rows)
{
    static const QRegularExpression verdict(QStringLiteral("bill (\\d) stacked, counted"));
    QList<int> counts(7, 0);
    for (const QStringList& row : rows)
        for (auto m = verdict.globalMatch(row.value(8)); m.hasNext();)
            ++counts[m.next().captured(1).toInt() - 1];
    return counts;
}

// The counts of a start row that continues a run: "...; counts so far bill
// 1=0 ... bill 7=0 total=1".
QList<int> countsSoFar(const QString& events)
{
    const QString text = events.mid(events.lastIndexOf(QLatin1String("; counts so far ")));
    QList<int> counts(7, -1);
    for (int n = 1; n <= 7; ++n) {
        const QString part = QStringLiteral("bill %1=").arg(n);
        const qsizetype at = text.indexOf(part);
        if (at >= 0)
            counts[n - 1] = text.mid(at + part.size()).section(' ', 0, 0).toInt();
    }
    return counts;
}

// Debian's logrotate with the shipped example, its folder made `folder`.
QString logrotateFor(const QString& folder)
{
    const QString logrotate = QStandardPaths::findExecutable(
        QStringLiteral("logrotate"), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    QString conf = QString::fromUtf8(readAll(QStringLiteral(KORA_LOGROTATE)));
    conf.replace(QLatin1String("/var/log/kora232/"), folder + '/');
    QFile file(QDir(folder).filePath(QStringLiteral("kora232.conf")));
    if (logrotate.isEmpty() || !conf.contains(folder) || !file.open(QIODevice::WriteOnly))
        return {};
    file.write(conf.toUtf8());
    return logrotate + " -f -s state kora232.conf";
}

} // namespace

class FleetTest : public QObject
{
    Q_OBJECT

private slots:
    // Bills, a lost device and a full stacker: the last file passes
    // Prometheus's checker and tells what the stop line tells.
    void theLastMetricsFilePassesPromtoolAndMatchesTheStopLine()
    {
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        QVERIFY2(!promtool.isEmpty(), "promtool is missing (scripts/setup.sh installs it)");
        Rig rig;
        const QString metrics = rig.path("kora232.prom");
        Poller run(rig.port() + QStringList{"--duration", "30", "--metrics", metrics});
        QTRY_VERIFY_WITH_TIMEOUT(run.process.state() == QProcess::Running, 5000);
        QTest::qWait(1000); // the first frame of a process counts nothing
        rig.sim->command("insert 3");
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->tally().total() == 1, 8000);
        rig.sim->unplugFor(600ms);
        QTest::qWait(2000);
        rig.sim->command("insert 5");
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->tally().total() == 2, 8000);
        rig.sim->command("full on");
        QTest::qWait(1000);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QCOMPARE(run.finish(), 0);

        QProcess check;
        check.setStandardInputFile(metrics);
        check.start(promtool, {"check", "metrics"});
        QVERIFY(check.waitForFinished(30000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());

        QFile file(metrics);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QMap<QString, double> m = samples(file.readAll());
        const QJsonObject stop = run.lastLine();
        QCOMPARE(stop.value("event").toString(), QStringLiteral("stop"));
        const QJsonObject link = stop.value("link").toObject();
        const QJsonObject bills = stop.value("bills").toObject();
        QCOMPARE(m.value("kora232_up{}", -1), 0.0);
        QCOMPARE(m.value("kora232_link_up{}", -1), 0.0);
        QCOMPARE(m.value("kora232_polls_total{outcome=\"good\"}"), link.value("good").toDouble());
        QCOMPARE(m.value("kora232_polls_total{outcome=\"no-reply\"}"),
                 link.value("no_reply").toDouble());
        QCOMPARE(m.value("kora232_polls_total{outcome=\"checksum\"}", -1),
                 link.value("checksum").toDouble());
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(m.value(QStringLiteral("kora232_bills_counted_total{bill=\"%1\"}").arg(n), -1),
                     stop.value("counts").toObject().value(QString::number(n)).toDouble());
        for (const char* outcome : {"stacked", "returned", "rejected", "other"})
            QCOMPARE(m.value(QStringLiteral("kora232_bill_cycles_total{outcome=\"%1\"}")
                                 .arg(QLatin1String(outcome)),
                             -1),
                     bills.value(QLatin1String(outcome)).toDouble());
        for (const auto& [event, figure] : {std::pair{"jam", "jams"},
                                            {"stacker_full", "stacker_full"},
                                            {"failure", "failures"},
                                            {"power_up", "power_ups"}})
            QCOMPARE(m.value(QStringLiteral("kora232_acceptor_events_total{event=\"%1\"}")
                                 .arg(QLatin1String(event)),
                             -1),
                     bills.value(QLatin1String(figure)).toDouble());
        QCOMPARE(bills.value("stacker_full").toInt(), 1);
        QCOMPARE(m.value("kora232_reconnects_total{}"), link.value("reconnects").toDouble());
        QCOMPARE(m.value("kora232_device_lost_total{}"), double(run.count("lost")));
        QCOMPARE(stop.value("total").toInt(), 2);
        QCOMPARE(link.value("reconnects").toInt(), 1);
        QCOMPARE(m.value("kora232_acceptor_flag{flag=\"stacker_full\"}"), 1.0);
        QCOMPARE(m.value("kora232_acceptor_flag{flag=\"cassette_out\"}", -1), 0.0);
        QVERIFY(m.value("kora232_last_good_reply_timestamp_seconds{}") >
                QDateTime::currentSecsSinceEpoch() - 60);
    }

    // Rewritten every second while a reader reads as fast as it can: each
    // read is a whole file, and only the file itself ends in .prom.
    void aReaderNeverSeesAHalfWrittenFile()
    {
        Rig rig;
        const QString metrics = rig.path("kora232.prom");
        Poller run(rig.port() +
                   QStringList{"--duration", "6", "--metrics", metrics, "--metrics-interval", "1"});
        QSet<QByteArray> versions;
        int reads = 0;
        while (run.process.state() != QProcess::NotRunning || reads == 0) {
            QCoreApplication::processEvents();
            QFile file(metrics);
            if (!file.open(QIODevice::ReadOnly)) {
                QThread::usleep(200);
                continue;
            }
            const QByteArray text = file.readAll();
            ++reads;
            QVERIFY2(text.startsWith("# HELP kora232_up ") &&
                         text.contains("kora232_acceptor_flag{") &&
                         QRegularExpression(QStringLiteral("flag=\"failure\"\\} [01]\n$"))
                             .match(QString::fromUtf8(text))
                             .hasMatch(),
                     text.constData());
            versions.insert(text);
            QThread::usleep(300); // a reader as eager as a scraper can be, on a shared machine
            for (const QString& name : QDir(rig.dir.path()).entryList({"*.prom"}, QDir::Files))
                QCOMPARE(name, QStringLiteral("kora232.prom"));
        }
        QCOMPARE(run.finish(), 0);
        QVERIFY2(versions.size() >= 4, qPrintable(QString::number(versions.size())));
        QVERIFY(reads > versions.size());
    }

    // Killed, the poller leaves a file that still says up; the time it was
    // written, three intervals old, is what tells that it is dead.
    void aKilledPollerLeavesAFileThatSaysUpAndAgesPastThreeIntervals()
    {
        Rig rig;
        const QString metrics = rig.path("kora232.prom");
        Poller run(rig.port() + QStringList{"--duration", "30", "--metrics", metrics,
                                            "--metrics-interval", "1"});
        QMap<QString, double> m;
        const auto read = [&] {
            QFile file(metrics);
            m = file.open(QIODevice::ReadOnly) ? samples(file.readAll()) : QMap<QString, double>{};
            return m;
        };
        const auto now = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
        // The first file after a poll: up, and the link too.
        QTRY_COMPARE_WITH_TIMEOUT(read().value("kora232_link_up{}"), 1.0, 8000);
        QCOMPARE(m.value("kora232_up{}"), 1.0);
        QVERIFY(qAbs(m.value("kora232_metrics_written_timestamp_seconds{}") - now()) < 5);
        QCOMPARE(m.value("kora232_metrics_interval_seconds{}"), 1.0);
        ::kill(pid_t(run.process.processId()), SIGKILL);
        const double killed = now();
        QCOMPARE(run.finish(), -1);
        QTest::qWait(3500);
        read();
        QCOMPARE(m.value("kora232_up{}"), 1.0);
        QCOMPARE(m.value("kora232_link_up{}"), 1.0);
        const double written = m.value("kora232_metrics_written_timestamp_seconds{}");
        QVERIFY2(written <= killed && written > killed - 5,
                 qPrintable(QString::number(killed - written)));
        QVERIFY(now() - written > 3 * m.value("kora232_metrics_interval_seconds{}"));
    }

    // A jam, a full stacker and the cassette out, then a silence and spoiled
    // replies, under the journal: each fault said once as a warning, and its
    // end once as news (the stop says the ends still held back).
    void eachAcceptorFaultReachesTheJournalOnce()
    {
        Rig rig;
        const QString err = rig.path("stderr");
        {
            QFile file(err);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        Poller run(rig.port() + QStringList{"--duration", "60"}, err, deviceAndInode(err));
        QString said;
        const auto read = [&] {
            QFile file(err);
            said = file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : "";
            return said;
        };
        // The last link event of standard output says the replies are good.
        const auto linkGood = [&run] {
            run.out += run.process.readAllStandardOutput();
            const qsizetype link = run.out.lastIndexOf("\"event\":\"link\"");
            return link >= 0 && run.out.indexOf("\"status\":\"good\"", link) ==
                                    run.out.indexOf("\"status\"", link);
        };
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 3, 8000);
        for (const char* command : {"jam", "full on", "cassette off"})
            rig.sim->command(command);
        QTRY_VERIFY_WITH_TIMEOUT(read().contains("cassette out"), 8000);
        for (const char* command : {"full off", "clear", "cassette on"})
            rig.sim->command(command);
        QTest::qWait(500);
        // A spoiled reply ends its poll at once: twenty of them, some 2 s of
        // polls at 100 ms, after a silence of 1 s.
        rig.sim->command("silent 1s");
        rig.sim->command("corrupt 20");
        QTRY_VERIFY_WITH_TIMEOUT(read().contains("no good reply"), 8000);
        QTRY_VERIFY_WITH_TIMEOUT(linkGood(), 8000);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QCOMPARE(run.finish(), 0);
        read();
        const QString ago = QStringLiteral("( \\(\\d+ s ago\\))?$");
        const QStringList lines = {"<4>bill jammed$",
                                   "<6>jam cleared" + ago,
                                   "<4>stacker full$",
                                   "<6>stacker no longer full" + ago,
                                   "<4>cassette out$",
                                   "<6>cassette back in" + ago,
                                   "<4>no good reply for 2\\.\\d s: \\d+ polls, [1-9]\\d* with no "
                                   "reply, [1-9]\\d* checksum errors$",
                                   "<6>replies again after \\d+\\.\\d s" + ago};
        const QString port = QStringLiteral("kora232-headless: port 1 \\([^)]+\\): ");
        for (const QString& line : lines) {
            const QRegularExpression expected("^" + line.left(3) + port + line.mid(3),
                                              QRegularExpression::MultilineOption);
            QVERIFY2(said.count(expected) == 1, qPrintable(line + "\n" + said));
        }
        QCOMPARE(said.count(QRegularExpression(port, QRegularExpression::MultilineOption)),
                 lines.size());
    }

    // The metrics file would replace the file at its path: the run ends
    // before it polls, and the file and the log are left as they were.
    void aMetricsPathThatIsNotAFileOfItsOwnIsRefused_data() { keptpaths::AddRows(); }
    void aMetricsPathThatIsNotAFileOfItsOwnIsRefused()
    {
        QFETCH(int, kind);
        QFETCH(QString, words);
        Rig rig;
        const QString log = rig.path("log.csv");
        words.replace(QStringLiteral("LOG"), log);
        QFile file(log);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("time,kind,poll,outcome,host,reply,reply_ms,flags,events\r\n") > 0);
        file.close();
        const QString metrics = keptpaths::Make(QDir(rig.dir.path()), log, kind);
        if (metrics.isEmpty())
            QSKIP("this row's path cannot be made here (mknod needs the privilege)");
        const QString before = keptpaths::StateOf(metrics), logBefore = keptpaths::StateOf(log);
        Poller run(rig.port() + QStringList{"--duration", "5", "--log", log, "--metrics", metrics});
        QCOMPARE(run.finish(), 2);
        const QString err = QString::fromLocal8Bit(run.process.readAllStandardError());
        QVERIFY2(err.startsWith("kora232-headless: cannot write the metrics to " + metrics + ": " +
                                words),
                 qPrintable(err));
        QCOMPARE(rig.sim->messagesServed(), 0u);
        QCOMPARE(keptpaths::StateOf(metrics), before);
        QCOMPARE(keptpaths::StateOf(log), logBefore);
        QVERIFY(!QFile::exists(metrics + ".tmp"));
    }

    // The temporary the metrics go through is the poller's own: a file named
    // as the old one was, another program's or the session log, keeps what
    // it held, and under any umask the file is left 0644 for the node
    // exporter, with nothing else in the folder.
    void theMetricsLeaveEveryOtherFileAsItIs_data()
    {
        QTest::addColumn<QByteArray>("held"); // by kora232.prom.tmp beside the file
        QTest::addColumn<bool>("isTheLog");
        QTest::newRow("another program's file") << QByteArray("kept,by,another\n") << false;
        QTest::newRow("the session log")
            << QByteArray("time,kind,poll,outcome,host,reply,reply_ms,flags,events\r\n") << true;
    }
    void theMetricsLeaveEveryOtherFileAsItIs()
    {
        QFETCH(QByteArray, held);
        QFETCH(bool, isTheLog);
        Rig rig;
        QTemporaryDir folder;
        const QString metrics = folder.filePath("kora232.prom"), beside = metrics + ".tmp";
        QFile file(beside);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(held) > 0);
        file.close();
        Poller run(
            rig.port() +
                QStringList{"--duration", "3", "--metrics", metrics, "--metrics-interval", "1"} +
                (isTheLog ? QStringList{"--log", beside} : QStringList{}),
            {}, {}, [] { ::umask(077); });
        QCOMPARE(run.finish(), 0);
        const QByteArray now = readAll(beside);
        QVERIFY2(isTheLog ? now.startsWith(held) && now.contains(",stop,") : now == held,
                 now.constData());
        QCOMPARE(
            QDir(folder.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden),
            QStringList({"kora232.prom", "kora232.prom.tmp"}));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(metrics).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
    }

    // A file system that fills while the run polls: the last file, which
    // would say the poller stopped, cannot be written, and a file left
    // saying up must not pass for a clean stop. On a small tmpfs of the
    // test's own, in a mount namespace.
    void metricsNotWrittenAtTheEndEndTheRunWithStatusFour_data()
    {
        QTest::addColumn<bool>("fill");
        QTest::addColumn<int>("status");
        QTest::newRow("room to the end") << false << 0;
        QTest::newRow("full before the end") << true << 4;
    }
    void metricsNotWrittenAtTheEndEndTheRunWithStatusFour()
    {
        QFETCH(bool, fill);
        QFETCH(int, status);
        Rig rig;
        const QString folder = rig.path("small");
        QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("small")));
        // The poller rewrites the file each second; the filler takes what is
        // left of the file system once the first files are written.
        const QString script =
            QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99; "
                           "\"$0\" --port 1=\"$2\" --duration 3 --metrics \"$1/k.prom\" "
                           "--metrics-interval 1 >/dev/null & sleep 1.5; %1 wait $!")
                .arg(fill ? "cat /dev/zero > \"$1/filler\" 2>/dev/null;" : "");
        QProcess run;
        run.start(QStringLiteral("unshare"),
                  {"-rm", "sh", "-c", script, QStringLiteral(KORA232_HEADLESS), folder,
                   QString::fromStdString(rig.sim->symlinkPath())});
        QVERIFY(run.waitForFinished(15000));
        if (run.error() == QProcess::FailedToStart || run.exitCode() == 99)
            QSKIP("no mount namespace with a tmpfs of its own here");
        QCOMPARE(run.exitCode(), status);
        const QString said = "kora232-headless: cannot write the metrics to " + folder +
                             "/k.prom: No space left on device; the file left there does not "
                             "say the poller has stopped\n";
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QVERIFY2(fill ? err.endsWith(said) : err.isEmpty(), qPrintable(err));
    }

    // A FIFO put at the path while the run polls is refused as any later
    // failure is: said once, and polling goes on to the end, where the last
    // file cannot be written either (status 4).
    void aMetricsPathThatTurnsIntoAFifoIsSaidOnceAndPollingGoesOn()
    {
        Rig rig;
        const QString metrics = rig.path("kora232.prom");
        Poller run(rig.port() +
                   QStringList{"--duration", "4", "--metrics", metrics, "--metrics-interval", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(metrics), 5000);
        // Put in place by a rename, as the poller's own writes are: a remove
        // and a mkfifo at the path would leave a moment for its next write.
        const QString fifo = rig.path("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(
            ::rename(QFile::encodeName(fifo).constData(), QFile::encodeName(metrics).constData()),
            0);
        const auto served = rig.sim->messagesServed();
        QCOMPARE(run.finish(), 4);
        QVERIFY(rig.sim->messagesServed() >= served + 5);
        const QString err = QString::fromLocal8Bit(run.process.readAllStandardError());
        QCOMPARE(err.count("kora232-headless: cannot write the metrics to " + metrics +
                           ": it is a FIFO, not a regular file; nothing was written\n"),
                 1);
        QVERIFY2(keptpaths::StateOf(metrics).contains("type 10000 "),
                 qPrintable(keptpaths::StateOf(metrics))); // still the FIFO
    }

    // Rotated while it polls: the log goes on in a new file at its path,
    // which begins with the header and a start row that continues the run;
    // its counts so far are the bills the rows before it counted, and with
    // the rows after it they make the acceptor's tally.
    void aRotatedLogGoesOnInANewFileThatContinuesTheRun_data()
    {
        QTest::addColumn<QString>("rotation"); // a shell command in the log's folder
        QTest::addColumn<QString>("rotated");  // the old rows' file, if they are kept
        QTest::newRow("logrotate with the shipped example") << "logrotate"
                                                            << "kiosk.csv.1";
        QTest::newRow("renamed by hand") << "mv kiosk.csv kiosk.csv.old"
                                         << "kiosk.csv.old";
        QTest::newRow("truncated") << ": > kiosk.csv"
                                   << "";
    }
    void aRotatedLogGoesOnInANewFileThatContinuesTheRun()
    {
        QFETCH(QString, rotation);
        QFETCH(QString, rotated);
        Rig rig;
        if (rotation == "logrotate")
            rotation = logrotateFor(rig.dir.path());
        QVERIFY2(!rotation.isEmpty(), "logrotate is missing (scripts/setup.sh installs it)");
        const QString log = rig.path("kiosk.csv");
        Poller run(rig.port() + QStringList{"--duration", "30", "--log", log});
        QTRY_VERIFY_WITH_TIMEOUT(run.process.state() == QProcess::Running, 5000);
        QTest::qWait(1000); // the first frame of a process counts nothing
        rig.sim->command("insert 3");
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).contains(", counted,"), 8000);
        QProcess rotate;
        rotate.setWorkingDirectory(rig.dir.path());
        rotate.start(QStringLiteral("bash"), {"-c", rotation});
        QVERIFY(rotate.waitForFinished(10000));
        QVERIFY2(rotate.exitCode() == 0, rotate.readAllStandardError().constData());
        rig.sim->command("insert 5");
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).contains(", counted,"), 8000);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QCOMPARE(run.finish(), 0);

        const QList<QStringList> rows = parseCsv(QString::fromUtf8(readAll(log)));
        QCOMPARE(rows.value(0).value(0), QStringLiteral("time"));
        QCOMPARE(rows.value(1).value(1), QStringLiteral("start"));
        const QString events = rows.value(1).value(8);
        QVERIFY2(events.startsWith("log continues after rotation: port 1 ("), qPrintable(events));
        const QList<int> before = countsSoFar(events);
        QCOMPARE(before, QList<int>({0, 0, 1, 0, 0, 0, 0}));
        QCOMPARE(rows.last().value(1), QStringLiteral("stop"));
        const QList<int> after = countedIn(rows);
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(before[n - 1] + after[n - 1], rig.sim->tally().of(n));
        if (rotated.isEmpty())
            return;
        const QByteArray old = readAll(rig.path(qPrintable(rotated)));
        QVERIFY(old.endsWith("\r\n"));
        const QList<QStringList> oldRows = parseCsv(QString::fromUtf8(old));
        QCOMPARE(oldRows.last().size(), 9);
        QCOMPARE(oldRows.last().value(1), QStringLiteral("poll"));
        QCOMPARE(countedIn(oldRows), before);
    }

    // The kiosk guide's journal is what a poller says: each line of its
    // sample, the numbers and the device aside, is a line of a run through the
    // same faults. The lines that end a fault wait out the ten seconds after
    // the one that began it, as they would on a kiosk.
    void theKioskGuidesJournalIsWhatAPollerSays()
    {
        Rig rig;
        const QString err = rig.path("stderr");
        Poller run(rig.port() + QStringList{"--duration", "40"}, err);
        QString said;
        const auto read = [&](const char* awaited) {
            QFile file(err);
            said = file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : "";
            return said.contains(QLatin1String(awaited));
        };
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 3, 8000);
        rig.sim->command("silent 2500ms");
        QTRY_VERIFY_WITH_TIMEOUT(read("no good reply"), 8000);
        QTest::qWait(1500);
        for (const char* fault : {"jam", "full on", "failure", "cassette off", "cheat"})
            rig.sim->command(fault);
        QTRY_VERIFY_WITH_TIMEOUT(read("cassette out"), 8000);
        QTest::qWait(10500);
        for (const char* end : {"clear", "full off", "cassette on"})
            rig.sim->command(end);
        QTRY_VERIFY_WITH_TIMEOUT(read("cassette back in"), 8000);
        rig.sim->unplugFor(600ms);
        QTRY_VERIFY_WITH_TIMEOUT(read("reconnected"), 8000);
        ::kill(pid_t(run.process.processId()), SIGTERM);
        QCOMPARE(run.finish(), 0);
        read("");

        static const QRegularExpression port(QStringLiteral("port \\d+ \\([^)]*\\)")),
            number(QStringLiteral("\\d+"));
        const auto shape = [](QString line) {
            return line.replace(port, QStringLiteral("port N (DEVICE)")).replace(number, "#");
        };
        QStringList lines;
        for (const QString& line : said.split('\n', Qt::SkipEmptyParts))
            lines << shape(line);
        const QString guide = QString::fromUtf8(readAll(QStringLiteral(KORA_KIOSK_GUIDE)));
        const QString journal = guide.section(QStringLiteral("## The journal"), 1);
        const QStringList sample =
            journal.section(QStringLiteral("```\n"), 1, 1).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(sample.size() >= 10, qPrintable(journal.left(400)));
        for (const QString& line : sample)
            QVERIFY2(lines.contains(shape(line)), qPrintable(line + "\nnot in:\n" + said));
    }

    void standardErrorCarriesPrioritiesUnderTheJournal_data()
    {
        QTest::addColumn<bool>("journal"); // JOURNAL_STREAM names the stderr file
        QTest::addColumn<bool>("unplug");  // else a bad command line
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("a bad command line, to the journal")
            << true << false << QStringList{"^<3>kora232-headless: --poll-rate 50: must be"};
        QTest::newRow("a lost device and back, to the journal")
            << true << true
            << QStringList{"^<4>kora232-headless: port 1 \\(.*\\): the device has gone away; trying",
                           "^<6>kora232-headless: port 1 \\(.*\\): reconnected, 9600, E, 7, 1$"};
        QTest::newRow("JOURNAL_STREAM of another stream")
            << false << false << QStringList{"^kora232-headless: --poll-rate 50: must be"};
    }
    void standardErrorCarriesPrioritiesUnderTheJournal()
    {
        QFETCH(bool, journal);
        QFETCH(bool, unplug);
        QFETCH(QStringList, lines);
        Rig rig;
        const QString err = rig.path("stderr");
        const QString other = rig.path("other");
        for (const QString& path : {err, other}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QStringList arguments = unplug ? rig.port() + QStringList{"--duration", "30"}
                                             : QStringList{"--poll-rate", "50"};
        Poller run(arguments, err, deviceAndInode(journal ? err : other));
        QString said;
        const auto read = [&] {
            QFile file(err);
            said = file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : "";
            return said;
        };
        if (unplug) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.sim->messagesServed() >= 3, 8000);
            rig.sim->unplugFor(600ms);
            QTRY_VERIFY_WITH_TIMEOUT(read().contains("reconnected"), 8000);
            ::kill(pid_t(run.process.processId()), SIGTERM);
        }
        QCOMPARE(run.finish(), unplug ? 0 : 2);
        read();
        for (const QString& line : lines)
            QVERIFY2(said.contains(QRegularExpression(line, QRegularExpression::MultilineOption)),
                     qPrintable(said));
        if (journal)
            for (const QString& line : said.split('\n', Qt::SkipEmptyParts))
                QVERIFY2(line.contains(QRegularExpression(QStringLiteral("^<[346]>"))),
                         qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(FleetTest)
#include "tst_fleet.moc"
