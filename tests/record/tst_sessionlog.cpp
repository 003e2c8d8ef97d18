// The session log's file and the link statistics, without a window.
#include "csvreader.h"
#include "record/linkstats.h"
#include "record/sessionlog.h"

#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
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
        QTest::newRow("a finished log") << QByteArray("time,kind\r\nt,start\r\n") << 3;
        QTest::newRow("a torn last row") << QByteArray("time,kind\r\nt,po") << 3;
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
