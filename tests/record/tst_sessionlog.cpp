// The session log's file and the link statistics, without a window.
#include "csvreader.h"
#include "record/linkstats.h"
#include "record/pollreport.h"
#include "record/sessionanalysis.h"
#include "record/sessionlog.h"
#include "record/sessionrecord.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kora;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> row(const QStringList& fields)
{
    std::vector<std::string> out;
    for (const QString& f : fields)
        out.push_back(f.toStdString());
    return out;
}

const QStringList Header{"time",  "kind",     "poll",  "outcome", "host",
                         "reply", "reply_ms", "flags", "events"};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

OutputQueue::Clock::time_point soon()
{
    return OutputQueue::Clock::now() + 5s;
}

// A FIFO with its reader open, the pipe shrunk to one page so that a few
// rows fill it.
struct Fifo
{
    Fifo()
    {
        if (::mkfifo(path.c_str(), 0600) == 0)
            reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        ::fcntl(reader, F_SETPIPE_SZ, 4096);
    }
    ~Fifo() { closeReader(); }
    void closeReader()
    {
        if (reader >= 0)
            ::close(reader);
        reader = -1;
    }
    // Reads until `lines` line ends came, or a generous while.
    QByteArray readLines(int lines) const
    {
        QByteArray got;
        const auto end = OutputQueue::Clock::now() + 10s;
        while (got.count('\n') < lines && OutputQueue::Clock::now() < end) {
            pollfd p{reader, POLLIN, 0};
            char buf[4096];
            if (::poll(&p, 1, 50) == 1 && (p.revents & POLLIN))
                got.append(buf, std::max<ssize_t>(0, ::read(reader, buf, sizeof buf)));
        }
        return got;
    }

    QTemporaryDir dir;
    std::string path = dir.filePath("fifo").toStdString();
    int reader = -1;
};

} // namespace

class SessionLogTest : public QObject
{
    Q_OBJECT

private slots:
    void rowsReadBackAsWritten_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("plain") << QStringList{"a", "02 0B ", "", "Idling Cassette"};
        QTest::newRow("comma") << QStringList{"bill 3 stacked, counted", "x"};
        QTest::newRow("quotes") << QStringList{"say \"hi\"", "\""};
        QTest::newRow("line break") << QStringList{"two\nlines", "cr\r\nlf"};
    }
    void rowsReadBackAsWritten()
    {
        QFETCH(QStringList, fields);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.csv");
        SessionLog log;
        std::string why;
        QVERIFY2(log.open(path.toStdString(), &why), why.c_str());
        QVERIFY(log.write(row(fields)));
        QVERIFY(log.finish(soon()));
        QCOMPARE(readCsvFile(path), (QList<QStringList>{Header, fields}));
    }

    void anExistingLogIsAppendedToAndATornRowEndsItsLine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("records");
        QTest::newRow("empty file: header first") << QByteArray() << 2;
        const QByteArray header = Header.join(',').toUtf8() + "\r\n";
        QTest::newRow("a finished log") << header + "t,start\r\n" << 3;
        QTest::newRow("a torn last row") << header + "t,po" << 3;
    }
    void anExistingLogIsAppendedToAndATornRowEndsItsLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, records);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.csv");
        writeFile(path, before);
        SessionLog log;
        QVERIFY(log.open(path.toStdString(), nullptr));
        QVERIFY(log.write(row({"new", "row"})));
        QVERIFY(log.finish(soon()));
        const QList<QStringList> read = readCsvFile(path);
        QCOMPARE(read.size(), records);
        QCOMPARE(read.last(), (QStringList{"new", "row"}));
        QCOMPARE(read.first().first(), QStringLiteral("time"));
    }

    void aPathThatCannotBeOpenedIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing folder") << "/nonexistent-kora232/log.csv";
        QTest::newRow("a folder") << "/tmp";
    }
    void aPathThatCannotBeOpenedIsRefusedWithItsReason()
    {
        QFETCH(QString, path);
        SessionLog log;
        std::string why;
        QVERIFY(!log.open(path.toStdString(), &why));
        QVERIFY2(QString::fromStdString(why).startsWith(path + ": "), why.c_str());
        QVERIFY(!log.isOpen());
    }

    // One log, one writer: the file is free again once its writer has let
    // it go, also at once within the same program.
    void aSecondWriterIsRefusedUntilTheFirstLetsGo()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("log.csv").toStdString();
        SessionLog first;
        SessionLog second;
        std::string why;
        QVERIFY(first.open(path, nullptr));
        QVERIFY(!second.open(path, &why));
        QCOMPARE(why, path + ": in use by another program (only one program may write a log)");
        QVERIFY(first.write(row({"first"})));
        first.close();
        QVERIFY2(second.open(path, &why), why.c_str());
        QVERIFY(second.write(row({"second"})));
        QVERIFY(second.finish(soon()));
        QCOMPARE(readCsvFile(QString::fromStdString(path)),
                 (QList<QStringList>{Header, {"first"}, {"second"}}));
    }

    // The row after the rotation carries the start row of the new file.
    void aRotatedLogGoesOnInANewFileThatBeginsWithTheContinuation_data()
    {
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<QList<QStringList>>("rotated"); // what the old file keeps
        const QList<QStringList> whole{Header, {"t1", "poll", "1"}};
        QTest::newRow("renamed") << "rename" << whole;
        QTest::newRow("removed") << "unlink" << QList<QStringList>{};
        QTest::newRow("truncated") << "truncate" << QList<QStringList>{};
    }
    void aRotatedLogGoesOnInANewFileThatBeginsWithTheContinuation()
    {
        QFETCH(QString, rotation);
        QFETCH(QList<QStringList>, rotated);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.csv");
        const QByteArray file = QFile::encodeName(path);
        const QString old = path + ".1";
        SessionLog log;
        QVERIFY(log.open(path.toStdString(), nullptr));
        QVERIFY(log.write(row({"t1", "poll", "1"}), {false, "t1,start,0,c1\r\n"}));
        QVERIFY(log.drain(soon()));
        if (rotation == "rename")
            QCOMPARE(::rename(file.constData(), QFile::encodeName(old).constData()), 0);
        else if (rotation == "unlink")
            QCOMPARE(::unlink(file.constData()), 0);
        else
            QCOMPARE(::truncate(file.constData(), 0), 0);
        QVERIFY(log.write(row({"t2", "poll", "2"}), {false, "t2,start,1,c2\r\n"}));
        QVERIFY(log.write(row({"t3", "poll", "3"}), {false, "t3,start,2,c3\r\n"}));
        QVERIFY(log.finish(soon()));
        QCOMPARE(readCsvFile(old), rotated);
        QCOMPARE(
            readCsvFile(path),
            (QList<QStringList>{
                Header, {"t2", "start", "1", "c2"}, {"t2", "poll", "2"}, {"t3", "poll", "3"}}));
    }

    // Rows appended under another program's header are lost to every
    // reader: a file that holds no session log is refused at the start, or
    // fails the log when it stands at the path after a rotation, and keeps
    // what it held. A log of any version, or one whose header a copytruncate
    // took, is appended to.
    void aFileThatIsNoSessionLogIsLeftAsItIs_data()
    {
        QTest::addColumn<QByteArray>("held");
        QTest::addColumn<QString>("reason"); // empty: a log, appended to
        QTest::addColumn<bool>("rotated");   // found at the path after a rotation
        const QString noTime = QStringLiteral("its first row has no time column");
        for (const bool rotated : {false, true}) {
            const char* const when = rotated ? ", after a rotation" : "";
            QTest::addRow("a blank line%s", when) << QByteArray("\r\n") << noTime << rotated;
            QTest::addRow("another program's CSV%s", when)
                << QByteArray("name,amount\r\nx,5\r\n") << noTime << rotated;
            QTest::addRow("another version's columns%s", when)
                << QByteArray("events,kind,time,poll,outcome,host,reply,reply_ms,flags,x\r\n")
                << QString() << rotated;
            QTest::addRow("a log whose header a copytruncate took%s", when)
                << QByteArray("2026-12-07T16:30:01.123+01:00,start,0,,,,,,port 1 (/dev/x)\r\n")
                << QString() << rotated;
        }
    }
    void aFileThatIsNoSessionLogIsLeftAsItIs()
    {
        QFETCH(QByteArray, held);
        QFETCH(QString, reason);
        QFETCH(bool, rotated);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.csv");
        SessionLog log;
        std::string why;
        if (rotated) {
            QVERIFY(log.open(path.toStdString(), &why) && log.write(row({"t1"})));
            QVERIFY(log.drain(soon()) && QFile::rename(path, path + ".1"));
        }
        writeFile(path, held);
        const bool opened = rotated || log.open(path.toStdString(), &why);
        log.write(row({"t2", "poll", "2"}), {false, "t2,start,1,c\r\n"});
        const bool out = log.finish(soon());
        const QByteArray now = readAll(path);
        if (reason.isEmpty()) {
            QVERIFY2(opened && out && now.startsWith(held) && now.endsWith("t2,poll,2\r\n"),
                     now.constData());
            return;
        }
        QCOMPARE(now, held);
        QCOMPARE(QString::fromStdString(rotated ? log.failure() : why),
                 path + (rotated ? ": a file that is not a session log stands at the path; it is "
                                   "left as it is"
                                 : ": not a session log (" + reason + "); it is left as it is"));
    }

    // A new file begins with the counts as they stood before the row that
    // follows its continuation, so that what the report finds counted plus
    // adjusted is what the counters say at STOP, however rotations and the
    // operator's adjustments fall. Ops: "A3=25" sets bill 3 to 25, "R"
    // rotates the log (by rename), "S" stops.
    void theLastFileOfARotatedRunAddsUpToTheCountersAtStop_data()
    {
        QTest::addColumn<QString>("ops");
        QTest::newRow("a rotation just before an adjustment") << "A3=2 R A3=25 S";
        QTest::newRow("a rotation just after an adjustment") << "A3=25 R S";
        QTest::newRow("adjustments of two bills around a rotation") << "A1=4 R A1=9 A2=3 S";
        QTest::newRow("two rotations, each before an adjustment") << "R A5=7 R A5=1 S";
        QTest::newRow("an adjustment alone in its file") << "A6=3 R A6=8 R S";
    }
    void theLastFileOfARotatedRunAddsUpToTheCountersAtStop()
    {
        QFETCH(QString, ops);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.csv");
        BillCounts counts{};
        SessionRecord record;
        record.countsSoFar = [&counts] { return counts; };
        std::string why;
        QVERIFY2(record.openLog(path.toStdString(), &why), why.c_str());
        record.start("port 1 (/dev/ttyUSB0), 9600, E, 7, 1, kora232 1.4.0");
        int rotations = 0;
        static const QRegularExpression set(QStringLiteral("^A(\\d)=(\\d+)$"));
        for (const QString& op : ops.split(' ')) {
            QVERIFY(record.log().drain(soon())); // each row is a batch of its own
            if (const auto m = set.match(op); m.hasMatch()) {
                const int bill = m.captured(1).toInt();
                const long was =
                    std::exchange(counts[std::size_t(bill - 1)], m.captured(2).toLong());
                record.adjust(bill, counts[std::size_t(bill - 1)], was);
            } else if (op == "R") {
                QVERIFY(QFile::rename(path, path + '.' + QString::number(++rotations)));
            } else {
                record.stop(CountsText(counts));
            }
        }
        QVERIFY(record.log().finish(soon()));
        std::ifstream in(path.toStdString(), std::ios::binary);
        std::vector<SessionSummary> sessions;
        QVERIFY(!AnalyseLog(in, [&](const SessionSummary& s) { sessions.push_back(s); }));
        QCOMPARE(sessions.size(), std::size_t(1));
        QVERIFY(sessions[0].countsAtStop);
        QCOMPARE(sessions[0].countersExpected(), *sessions[0].countsAtStop);
        QCOMPARE(*sessions[0].countsAtStop, counts);
    }

    // A row written between START and the port's open (a bench plan begun
    // at START) follows the start row, stamped as it is, or goes with a
    // start that never opened.
    void aRowWrittenBeforeThePortOpensWaitsForTheStartRow_data()
    {
        QTest::addColumn<QString>("end"); // how the wait ends
        QTest::addColumn<QStringList>("kinds");
        QTest::newRow("the port opens") << "opened" << QStringList{"start", "plan"};
        QTest::newRow("the port cannot be opened") << "failed" << QStringList{"failed"};
        QTest::newRow("STOP first") << "stopped" << QStringList{};
    }
    void aRowWrittenBeforeThePortOpensWaitsForTheStartRow()
    {
        QFETCH(QString, end);
        QFETCH(QStringList, kinds);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.csv");
        SessionRecord record;
        QVERIFY(record.openLog(path.toStdString(), nullptr));
        record.awaitOpen();
        record.plan("plan begins: {}");
        QTest::qWait(20); // a later moment for the start row
        if (end == "opened")
            record.start("port 1 (/dev/ttyUSB0), 9600, E, 7, 1");
        else if (end == "failed")
            record.failedStart("port 1 (/dev/ttyUSB0): cannot be opened: Error 8010: gone");
        else
            record.abandonStart();
        QVERIFY(record.log().finish(soon()));
        const QList<QStringList> rows = readCsvFile(path).mid(1);
        QStringList found;
        for (const QStringList& r : rows) {
            found << r.value(1);
            QCOMPARE(r.value(0), rows.first().value(0));
        }
        QCOMPARE(found, kinds);
    }

    void aFailedWriteClosesTheLogAndSaysWhyOnce_data()
    {
        QTest::addColumn<bool>("full"); // else a pipe whose reader went away
        QTest::addColumn<QString>("reason");
        QTest::newRow("a full device") << true << "No space left on device";
        QTest::newRow("a reader gone") << false << "Broken pipe";
    }
    void aFailedWriteClosesTheLogAndSaysWhyOnce()
    {
        QFETCH(bool, full);
        QFETCH(QString, reason);
        Fifo fifo;
        const std::string path = full ? "/dev/full" : fifo.path;
        SessionLog log;
        QVERIFY(log.open(path, nullptr));
        fifo.closeReader();
        // Queued, or refused already: the header goes out at once and may
        // have failed by now. Either way the failure is said once.
        log.write(row({"a"}));
        QVERIFY(!log.finish(soon()));
        QCOMPARE(QString::fromStdString(log.failure()),
                 QString::fromStdString(path) + ": " + reason);
        QVERIFY(!log.isOpen());
        QVERIFY(!log.write(row({"b"})));
    }

    // Each write returns at once while the reader takes nothing; once it
    // reads again, every row arrives, in order.
    void aStalledReaderDelaysRowsWithoutLosingThem()
    {
        Fifo fifo;
        SessionLog log;
        QVERIFY(log.open(fifo.path, nullptr));
        const int rows = 200; // some 20 KiB, five times the pipe
        for (int i = 1; i <= rows; ++i)
            QVERIFY(log.write(row({QString::number(i), QString(90, 'x')})));
        QTest::qWait(200);
        const QList<QStringList> read = parseCsv(QString::fromUtf8(fifo.readLines(rows + 1)));
        QVERIFY(log.finish(soon()));
        QCOMPARE(read.size(), rows + 1);
        QCOMPARE(read.first(), Header);
        for (int i = 1; i <= rows; ++i)
            QCOMPARE(read[i].first().toInt(), i);
    }

    void aReaderAQueueBehindFailsTheLogRatherThanLoseRowsQuietly()
    {
        qputenv("KORA_OUTPUT_QUEUE_BYTES", "2000");
        Fifo fifo;
        SessionLog log;
        QVERIFY(log.open(fifo.path, nullptr));
        qunsetenv("KORA_OUTPUT_QUEUE_BYTES");
        int written = 0;
        while (written < 1000 && log.write(row({QString(90, 'x')})))
            ++written;
        QVERIFY2(written < 1000, "never refused");
        QVERIFY2(QString::fromStdString(log.failure())
                     .endsWith("nobody took the last 2000 bytes; later rows would have been lost"),
                 log.failure().c_str());
        QVERIFY(!log.isOpen());
    }

    void statisticsCountOutcomesAndTimeReplies()
    {
        LinkStats stats;
        const auto t0 = LinkStats::Clock::now();
        stats.start(t0);
        QCOMPARE(stats.medianReplyMs(), std::nullopt);
        for (const auto ms : {12ms, 11ms, 30ms, 13ms})
            stats.addPoll(0, ms);
        stats.addPoll(1, std::nullopt);
        stats.addPoll(2, 15ms);
        stats.addReconnect();
        stats.stop(t0 + 2500ms);
        QCOMPARE(stats.polls(), 6u);
        QCOMPARE(stats.text(t0 + 9s),
                 std::string("polls 6, good 4, no_reply 1, checksum 1, success_rate 0.6667, "
                             "reply_median_ms 13.0, reply_max_ms 30.0, reconnects 1, "
                             "running_s 2.5"));
    }
};

QTEST_APPLESS_MAIN(SessionLogTest)
#include "tst_sessionlog.moc"
