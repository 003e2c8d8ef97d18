// The session log's file and the link statistics, without a window.
#include "csvreader.h"
#include "protocol/linkstats.h"
#include "protocol/sessionlog.h"

#include <QTemporaryDir>
#include <QTest>

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
        log.close();
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

    void aFullDeviceFailsTheFirstWriteOnceAndClosesTheLog()
    {
        SessionLog log;
        QVERIFY(log.open("/dev/full", nullptr));
        QVERIFY(!log.write(row({"a"})));
        QCOMPARE(QString::fromStdString(log.failure()),
                 QStringLiteral("/dev/full: No space left on device"));
        QVERIFY(!log.isOpen());
        QVERIFY(!log.write(row({"b"})));
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
