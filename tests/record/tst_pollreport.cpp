// What a poll's log row and the session record say, word for word: the
// header, a poll row's columns, the events of every frame read.
#include "csvreader.h"
#include "hexbytes.h"
#include "record/logreader.h"
#include "record/pollreport.h"
#include "record/sessionrecord.h"
#include "replyframes.h"
#include "startedstate.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sstream>

using namespace kora;

namespace {

FrameNote note(const QString& hex, FrameRole role, CountReason reason, int bill, long count = 0,
               long total = 0)
{
    FrameNote n;
    setBytes(n.frame.bytes, hex);
    n.frame.role = role;
    n.count = {reason, bill, reason == CountReason::Repeat};
    n.billCount = count;
    n.total = total;
    return n;
}

// A poll whose answer repeated a stacked report, with a counted bill read
// before the host message and an idle frame with the other bit.
PollNotes busyPoll()
{
    PollNotes notes;
    notes.frames = {
        note(replyHex(1, 0x10, 5), FrameRole::Early, CountReason::Counted, 5, 2, 7),
        note(replyHex(1, 0x01), FrameRole::OtherBit, CountReason::NotStacked, 0),
        note(replyHex(0, 0x10, 3), FrameRole::Answer, CountReason::Repeat, 3),
    };
    return notes;
}

} // namespace

class PollReportTest : public QObject
{
    Q_OBJECT

private slots:
    void theHeaderNamesTheColumnsInOrder()
    {
        QCOMPARE(SessionLog::CsvLine(SessionLog::Columns()),
                 std::string("time,kind,poll,outcome,host,reply,reply_ms,flags,events\r\n"));
    }

    void aPollsEventsNameEveryFrameReadAndWhatItDid()
    {
        RunState s = startedState();
        s.HostMsg(5) = 0x30;
        QCOMPARE(QString::fromStdString(PollEvents(s, busyPoll())),
                 "frame before the host message " + replyHex(1, 0x10, 5) +
                     ": bill 5 stacked, counted, count 2, total 7, frame with the other bit " +
                     replyHex(1, 0x01) +
                     ": read, bill 3 stacked, not counted: repeat, stack order sent");
    }

    // Rows the writer once wrote and its reader refused: each reads back as
    // written, every column.
    void everyRowTheWriterWritesReadsBackAsWritten_data()
    {
        using namespace std::chrono;
        QTest::addColumn<qint64>("wallMs");     // the wall clock, ms since 1970
        QTest::addColumn<double>("replyMs");    // -1: no reply
        QTest::addColumn<qint64>("count");      // a bill's count in a counted verdict
        QTest::addColumn<qint64>("stepBackMs"); // the wall clock set back mid-bill
        QTest::addColumn<QString>("time");      // the time column read back, UTC; empty: as written

        const qint64 now = 1'796'000'000'000; // December 2026
        QTest::newRow("a reply waited for through a SIGSTOP")
            << now << 1525.4 << qint64(3) << qint64(0) << "";
        QTest::newRow("a reply a day late") << now << 86'400'000.0 << qint64(3) << qint64(0) << "";
        QTest::newRow("the most typed, then a bill")
            << now << 12.0 << qint64(MostTypedCount + 1) << qint64(0) << "";
        QTest::newRow("the most a counter holds")
            << now << 12.0 << qint64(MostCounted) << qint64(0) << "";
        QTest::newRow("a clock stepped back an hour mid-bill")
            << now << 12.0 << qint64(3) << qint64(3'600'000) << "";
        QTest::newRow("a clock that lost its battery, before 1970")
            << qint64(-86'400'000) << 12.0 << qint64(3) << qint64(0) << "1970-01-02T00:00:00.000";
        QTest::newRow("a clock set past 2200") << qint64(7'500'000'000'000) << 12.0 << qint64(3)
                                               << qint64(0) << "2200-12-30T00:00:00.000";
    }
    void everyRowTheWriterWritesReadsBackAsWritten()
    {
        using namespace std::chrono;
        QFETCH(qint64, wallMs);
        QFETCH(double, replyMs);
        QFETCH(qint64, count);
        QFETCH(qint64, stepBackMs);
        const system_clock::time_point wall{milliseconds(wallMs)};
        // A bill on its way 2 s before, timed across the step as the engine times it.
        CycleClock clock;
        const auto steady = CycleClock::Steady::now();
        clock.poll(wall - milliseconds(2000) + milliseconds(stepBackMs), steady - seconds(2));
        PollNotes notes;
        notes.at = wall;
        notes.clockStep = clock.poll(wall, steady);
        BillCycles cycles;
        FrameNote on = note(replyHex(0, 0x08, 3), FrameRole::Answer, CountReason::NotStacked, 0);
        cycles.read(on.frame.bytes, on.count, clock.at(wall - milliseconds(2000)));
        notes.frames = {note(replyHex(1, 0x10, 3), FrameRole::Answer, CountReason::Counted, 3,
                             long(count), long(count))};
        notes.cycles.push_back(
            *cycles.read(notes.frames[0].frame.bytes, notes.frames[0].count, clock.at(wall)));
        RunState s = startedState();
        setBytes(s.HostMsg, QStringLiteral("02 08 11 7F 10 00 03 76"));
        setBytes(s.AcceptorMsg, replyHex(1, 0x10, 3));
        PollTiming t;
        if (replyMs >= 0)
            t.replied =
                t.sent + round<steady_clock::duration>(duration<double, std::milli>(replyMs));
        const std::vector<std::string> written = PollRow(s, t, 7, PollEvents(s, notes), wall);

        std::istringstream in(SessionLog::CsvLine(SessionLog::Columns()) +
                              SessionLog::CsvLine(written));
        LogReader reader(in);
        std::optional<LogRow> row;
        std::size_t line = 0;
        QVERIFY(reader.next(row, line));
        QVERIFY2(row, SessionLog::CsvLine(written).c_str());
        QCOMPARE(row->kind + row->outcome + row->host + row->reply + row->replyMs + row->flags +
                     row->events,
                 written[1] + written[3] + written[4] + written[5] + written[6] + written[7] +
                     written[8]);
        QCOMPARE(row->poll, 7);
        QCOMPARE(IsoLocalTime(row->time), written[0]);
        QFETCH(QString, time);
        if (!time.isEmpty())
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(
                         duration_cast<milliseconds>(row->time.time_since_epoch()).count(), Qt::UTC)
                         .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")),
                     time);
        QCOMPARE(row->parts.answer->bill, 3);
        QCOMPARE(row->parts.clockStep.count(), -stepBackMs);
        QCOMPARE(notes.cycles[0].duration.count(), 2000);
        QVERIFY2(row->events.find("after 2.0 s") != std::string::npos, row->events.c_str());
    }

    void aPollRowGivesEachColumnItsValue_data()
    {
        QTest::addColumn<int>("nrFlag");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("reply");
        QTest::newRow("good") << 0 << "good"
                              << "02 0B 20 10 10 18 41 01 03 03 70 ";
        QTest::newRow("no reply") << 1 << "no-reply"
                                  << "";
        QTest::newRow("checksum") << 2 << "checksum"
                                  << "02 0B 20 10 10 18 41 01 03 03 70 ";
    }
    void aPollRowGivesEachColumnItsValue()
    {
        QFETCH(int, nrFlag);
        QFETCH(QString, outcome);
        QFETCH(QString, reply);
        RunState s = startedState();
        s.NRFlag = nrFlag;
        setBytes(s.HostMsg, QStringLiteral("02 08 10 7F 10 00 03 77"));
        setBytes(s.AcceptorMsg, QStringLiteral("02 0B 20 10 10 18 41 01 03 03 70"));
        s.Stacked = s.Cassette = 1;
        PollTiming t;
        t.replied = t.sent + std::chrono::microseconds(12345);
        const std::vector<std::string> row = PollRow(s, t, 42, "bill 3 stacked");
        QVERIFY(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT[\d:.]{12}[+-]\d\d:\d\d$)"))
                    .match(QString::fromStdString(row[0]))
                    .hasMatch());
        QStringList values;
        for (auto v = row.begin() + 1; v != row.end(); ++v)
            values << QString::fromStdString(*v);
        QCOMPARE(values, QStringList({"poll", "42", outcome, "02 08 10 7F 10 00 03 77 ", reply,
                                      "12.3", "Stacked Cassette", "bill 3 stacked"}));
    }

    void theRecordWritesAStartRowAPollRowAndAStopRow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        RunState s = startedState();
        setBytes(s.HostMsg, QStringLiteral("02 08 10 7F 10 00 03 77"));
        {
            SessionRecord record;
            std::string why;
            QVERIFY(record.openLog(path.toStdString(), &why));
            record.start("port 1 (fake), 9600, E, 7, 1");
            record.deviceLost("gone");
            record.reconnected();
            s.NRFlag = 1;
            record.poll(s, {});
            record.stop("bill 1=0 total=0");
            QCOMPARE(record.polls(), 1L);
            // Rows leave through a queue of their own: let them all out.
            QVERIFY(record.log().finish(OutputQueue::Clock::now() + std::chrono::seconds(5)));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QStringList> rows = parseCsv(QString::fromUtf8(file.readAll()));
        QCOMPARE(rows.size(), 4);
        for (QStringList& row : rows.mid(1))
            QVERIFY(!row.first().isEmpty());
        QCOMPARE(rows[1].mid(1),
                 QStringList({"start", "0", "", "", "", "", "", "port 1 (fake), 9600, E, 7, 1"}));
        QCOMPARE(rows[2].mid(1, 4),
                 QStringList({"poll", "1", "no-reply", "02 08 10 7F 10 00 03 77 "}));
        QCOMPARE(rows[2].last(), QStringLiteral("device lost: gone, reconnected"));
        QCOMPARE(rows[3].mid(1, 2), QStringList({"stop", "1"}));
        QVERIFY(rows[3].last().startsWith(QLatin1String("bill 1=0 total=0; polls 1,")));
    }

    // Logging begun and ended mid-run says the run as it is by then, with
    // its counts; a counter set by the operator has a row of its own.
    void loggingMidRunStatesTheRunAsItIsAndItsCounts()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        RunState s = startedState();
        std::array<long, 7> counts{0, 0, 1, 0, 0, 0, 0};
        SessionRecord record;
        record.countsSoFar = [&counts] { return counts; };
        record.start("port 1 (fake), escrow mode on");
        s.NRFlag = 1;
        record.poll(s, {});
        record.change("escrow mode now off", "port 1 (fake), escrow mode off");
        std::string why;
        QVERIFY(record.openLog(path.toStdString(), &why));
        record.adjust(3, 25, 1);
        counts[2] = 25;
        record.poll(s, {});
        record.closeLog();
        QVERIFY(OutputQueue::Settle(OutputQueue::Clock::now() + std::chrono::seconds(5)));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QStringList> rows = parseCsv(QString::fromUtf8(file.readAll()));
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[1].mid(1), QStringList({"start", "1", "", "", "", "", "",
                                              "logging begins mid-run: port 1 (fake), escrow mode "
                                              "off; counts so far bill 1=0 bill 2=0 bill 3=1 bill "
                                              "4=0 bill 5=0 bill 6=0 bill 7=0 total=1"}));
        QCOMPARE(rows[2].mid(1), QStringList({"adjust", "1", "", "", "", "", "",
                                              "counter bill 3 set to 25 by the operator (was 1)"}));
        QCOMPARE(rows[3].mid(1, 2), QStringList({"poll", "2"}));
        QCOMPARE(rows[4].mid(1, 2), QStringList({"stop", "2"}));
        QVERIFY2(rows[4].last().startsWith(
                     "logging ends; bill 1=0 bill 2=0 bill 3=25 bill 4=0 bill 5=0 bill 6=0 bill "
                     "7=0 total=25; polls 2,"),
                 qPrintable(rows[4].last()));
    }
};

QTEST_APPLESS_MAIN(PollReportTest)
#include "tst_pollreport.moc"
