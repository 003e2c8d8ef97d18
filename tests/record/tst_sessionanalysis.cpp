// A session log read back: the committed noisy session gives the figures of
// its own stop row and the anomalies it records; bad input is named.
#include "record/logsessions.h"
#include "record/pollreport.h"
#include "record/sessionanalysis.h"
#include "replyframes.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace kora;

namespace {

const char* const NoisyLog = KORA_TEST_DATA "/noisy-session.csv";

std::vector<SessionSummary> analyse(std::istream& in, std::optional<std::string>* why = nullptr)
{
    std::vector<SessionSummary> sessions;
    const auto refused = AnalyseLog(in, [&](const SessionSummary& s) { sessions.push_back(s); });
    if (why)
        *why = refused;
    return sessions;
}

std::vector<SessionSummary> analyseText(const std::string& text,
                                        std::optional<std::string>* why = nullptr)
{
    std::istringstream in(text);
    return analyse(in, why);
}

const std::string Header = "time,kind,poll,outcome,host,reply,reply_ms,flags,events\n";

std::string row(int second, const std::string& kind, int poll, const std::string& rest)
{
    char time[40];
    std::snprintf(time, sizeof time, "2026-12-08T10:00:%02d.000+01:00", second);
    return std::string(time) + ',' + kind + ',' + std::to_string(poll) + ',' + rest + '\n';
}

const std::string Good =
    "good,02 08 10 7F 10 00 03 77 ,02 0B 20 01 10 00 4B 01 03 03 73 ,12.0,Idling,";
const std::string NoReply = "no-reply,02 08 11 7F 10 00 03 76 ,,,Idling,";

const std::string StartRow = "port 1 (/dev/ttyUSB0), 9600, E, 7, 1, poll every 250 ms, escrow "
                             "mode on, bills 1 2 3 4 5 6 7 enabled, escrowed bills stacked, "
                             "kora232 1.4.0";

const std::string Refused = "port 1 (/dev/ttyUSB0): cannot be opened: Error 8010: Port 1 "
                            "(/dev/ttyUSB0) is in use by another program";

std::string counts(int bill3)
{
    return "bill 1=0 bill 2=0 bill 3=" + std::to_string(bill3) +
           " bill 4=0 bill 5=0 bill 6=0 bill 7=0 total=" + std::to_string(bill3);
}

// A row of kind start, adjust or stop: events alone.
std::string mark(int second, const std::string& kind, const std::string& events)
{
    return row(second, kind, 0, ",,,,,\"" + events + '"');
}

// A good poll whose answer is `reply` (hex), with `events`.
std::string answered(int second, const QString& reply, const std::string& events = {})
{
    return row(second, "poll", 1,
               "good,02 08 10 7F 10 00 03 77 ," + reply.toStdString() + " ,12.0,Idling,\"" +
                   events + '"');
}

// "08:51:31.312", in UTC as the committed log was written.
std::string utcClock(LogClock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const long long day = ms.count() % 86'400'000;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", day / 3'600'000,
                  day / 60'000 % 60, day / 1000 % 60, day % 1000);
    return text;
}

} // namespace

class SessionAnalysisTest : public QObject
{
    Q_OBJECT

private slots:
    void theNoisySessionGivesTheFiguresOfItsStopRow()
    {
        std::ifstream in(NoisyLog);
        const std::vector<SessionSummary> sessions = analyse(in);
        QCOMPARE(sessions.size(), 1u);
        const SessionSummary& s = sessions[0];
        QVERIFY(s.stopped);
        // counts; bill figures; link figures, as the live session wrote them
        const std::string& stop = *s.stopped;
        const auto first = stop.find("; "), second = stop.find("; ", first + 2);
        QCOMPARE(CountsText(s.counted), stop.substr(0, first));
        QCOMPARE(s.bills.text(), stop.substr(first + 2, second - first - 2));
        QCOMPARE(s.link.text({}), stop.substr(second + 2));
        QCOMPARE(s.writtenBy(), std::string("kora232-headless 1.4"));
        QCOMPARE(s.port(), std::string("1"));
        QVERIFY(s.device().ends_with("/acceptor"));
        QVERIFY(s.settings().starts_with("9600, E, 7, 1, poll every 250 ms"));
        QCOMPARE(s.badRows, 0u);
    }

    void itsAnomaliesAreTheOnesTheLogRecords()
    {
        std::ifstream in(NoisyLog);
        const SessionSummary s = analyse(in).at(0);
        QStringList seen;
        for (const Anomaly& a : s.anomalies)
            seen << QString::fromStdString(utcClock(a.time) + ' ' + a.what);
        // Read off the log by hand: its device-lost, reconnected and cycle
        // events, the same-report verdicts and the failed polls of the unplug.
        const QStringList expected = {
            "22:59:05.194 device lost: Port 1 (" + QString::fromStdString(s.device()) +
                "): the device has gone away",
            "22:59:05.194 no good reply for 3.0 s: 12 failed polls, 12 with no reply, 0 "
            "checksum errors",
            "22:59:08.218 reconnected",
            "22:59:15.050 a bill rejected after 0.2 s",
            "22:59:17.206 bill 3 stacked, not counted: same-report",
            "22:59:17.456 bill 3 stacked, not counted: same-report",
            "22:59:25.706 bill 1 jammed after 2.5 s",
            "22:59:27.108 a bill cheated after 0.0 s, under one poll",
        };
        QCOMPARE(seen, expected);
        QCOMPARE(s.anomaliesLeftOut, 0u);
    }

    void aFileThatIsNotASessionLogIsRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        QTest::newRow("empty") << ""
                               << "its first row is not the header of a session log";
        QTest::newRow("no events column") << "time,kind,poll,outcome,host,reply,reply_ms,flags\n"
                                          << "its first row has no events column";
        QTest::newRow("another CSV file") << "name,price\nkora,232\n"
                                          << "its first row has no time column";
        QTest::newRow("an open quote") << "\"time,kind\n"
                                       << "its first row is not the header of a session log";
    }

    void aFileThatIsNotASessionLogIsRefused()
    {
        QFETCH(QString, text);
        QFETCH(QString, why);
        std::optional<std::string> refused;
        QVERIFY(analyseText(text.toStdString(), &refused).empty());
        QCOMPARE(QString::fromStdString(refused.value_or("")), why);
    }

    void columnsMayComeInAnyOrder()
    {
        const std::string text = "events,kind,time,poll,outcome,host,reply,reply_ms,flags,extra\n"
                                 "port 1 (x),start,2026-12-08T10:00:00.000+01:00,0,,,,,,\n"
                                 "\"bill 2 stacked, counted, count 1, total 1\",poll,"
                                 "2026-12-08T10:00:01.000+01:00,1,good,02 08 10 7F 10 00 03 77 ,"
                                 "02 0B 20 10 10 10 4B 01 03 03 72 ,12.0,Stacked,\n";
        const auto sessions = analyseText(text);
        QCOMPARE(sessions.size(), 1u);
        QCOMPARE(sessions[0].countedTotal(), 1L);
        QCOMPARE(sessions[0].counted[1], 1L);
    }

    void tornAndMalformedRowsAreSkippedAndNamed()
    {
        const std::string text =
            Header + row(0, "start", 0, ",,,,,port 1 (x)") + row(1, "poll", 1, Good) +
            "2026-12-08T10:00:02.000+01:00,poll,2,go\n" + row(3, "poll", 3, "good,02 08 ,zz,,,") +
            row(4, "poll", 4, NoReply) + row(5, "stop", 4, ",,,,,done");
        const auto sessions = analyseText(text);
        QCOMPARE(sessions.size(), 1u);
        QCOMPARE(sessions[0].link.polls(), 2u);
        QCOMPARE(sessions[0].badRowsText(),
                 std::string("2 torn or malformed rows skipped: lines 4, 5"));
    }

    // A change of escrow action mid-run is a start row but no new session;
    // a session cut off without its stop row ends at its last row.
    void eachSessionIsHandedOverOnItsOwn()
    {
        std::string text = Header + row(0, "start", 0, ",,,,,port 1 (a)") +
                           row(1, "poll", 1, Good) +
                           row(2, "start", 1, ",,,,,escrowed bills now returned") +
                           row(3, "poll", 2, Good) + row(4, "stop", 2, ",,,,,end") +
                           row(5, "poll", 3, Good) + row(6, "start", 0, ",,,,,port 2 (b)");
        for (int p = 1; p <= 5; ++p)
            text += row(6 + p, "poll", p, NoReply);
        std::size_t outside = 0;
        std::vector<SessionSummary> sessions;
        std::istringstream in(text);
        QVERIFY(!AnalyseLog(
            in, [&](const SessionSummary& s) { sessions.push_back(s); }, &outside));
        QCOMPARE(sessions.size(), 2u);
        QCOMPARE(sessions[0].link.polls(), 2u);
        QCOMPARE(sessions[0].anomalies.at(0).what, std::string("escrowed bills now returned"));
        QCOMPARE(sessions[1].number, 2);
        QCOMPARE(sessions[1].device(), std::string("b"));
        QVERIFY(!sessions[1].stopped);
        QCOMPARE(sessions[1].link.noReply(), 5u);
        QCOMPARE(
            sessions[1].anomalies.at(0).what,
            std::string(
                "no good reply for 4.0 s: 5 failed polls, 5 with no reply, 0 checksum errors"));
        QCOMPARE(outside, 1u);
    }

    void theStartRowsFieldsAreFoundWhateverTheDeviceIsCalled_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("fields"); // port, device, written by, settings, reason
        QTest::addColumn<QString>("continuesFrom");
        QTest::addColumn<int>("soFar"); // counts so far in all; -1 for none
        const QString settings = "9600, E, 7, 1, poll every 250 ms";
        QTest::newRow("a start") << "port 1 (/dev/ttyUSB0), " + settings + ", kora232 1.4.0"
                                 << QStringList{"1", "/dev/ttyUSB0", "kora232 1.4.0", settings, ""}
                                 << "" << -1;
        QTest::newRow("a device that holds \", \" and parentheses")
            << "port 12 (/dev/by-id/usb (A), port 0), " + settings + ", kora232-headless 1.4"
            << QStringList{"12", "/dev/by-id/usb (A), port 0", "kora232-headless 1.4", settings, ""}
            << "" << -1;
        QTest::newRow("a device of 60 KB")
            << "port 1 (/dev/" + QString(60000, 'x') + "), " + settings
            << QStringList{"1", "/dev/" + QString(60000, 'x'), "", settings, ""} << "" << -1;
        QTest::newRow("no port named")
            << settings + ", kora232 1.4" << QStringList{"", "", "kora232 1.4", settings, ""} << ""
            << -1;
        QTest::newRow("a run under way, after rotation")
            << "log continues after rotation: port 1 (/dev/ttyS0), " + settings +
                   ", kora232 1.4.0; counts so far " + QString::fromStdString(counts(4))
            << QStringList{"1", "/dev/ttyS0", "kora232 1.4.0", settings,
                           "log continues after rotation"}
            << "" << 4;
        const QString from = "frame 02 0B 21 10 10 18 4B 01 03 03 7B, bit 1, the acceptor does "
                             "not echo the bit";
        QTest::newRow("a process that continues from its log")
            << "port 1 (/dev/ttyUSB0), " + settings +
                   ", kora232 1.4.0, continues from the log: " + from
            << QStringList{"1", "/dev/ttyUSB0", "kora232 1.4.0", settings, ""} << from << -1;
    }

    void theStartRowsFieldsAreFoundWhateverTheDeviceIsCalled()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, fields);
        QFETCH(QString, continuesFrom);
        QFETCH(int, soFar);
        const std::optional<kora::StartText> s = ReadStartText(text.toStdString());
        QVERIFY(s);
        QCOMPARE(
            (QStringList{QString::fromStdString(s->port), QString::fromStdString(s->device),
                         QString::fromStdString(s->writtenBy), QString::fromStdString(s->settings),
                         QString::fromStdString(s->reason)}),
            fields);
        QCOMPARE(QString::fromStdString(s->continuesFrom), continuesFrom);
        QCOMPARE(s->ignoresBit, continuesFrom.endsWith("does not echo the bit"));
        QCOMPARE(s->continuesFrame.has_value(), !continuesFrom.isEmpty());
        QCOMPARE(s->countsSoFar ? (*s->countsSoFar)[2] : -1L, long(soFar));
    }

    // A row whose words a reader would act on but cannot trust is skipped
    // and named, as a torn one is.
    void aRowThatDoesNotReadBackIsSkipped_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("events");
        const QString start = QString::fromStdString(StartRow);
        QTest::newRow("counts so far whose total is wrong")
            << "start" << start + "; counts so far " + QString::fromStdString(counts(1)) + "0";
        QTest::newRow("counts so far past what a session holds")
            << "start"
            << start + "; counts so far " +
                   QString::fromStdString(counts(1)).replace("bill 3=1", "bill 3=1000000000001");
        QTest::newRow("a continuation frame whose checksum is wrong")
            << "start"
            << start + ", continues from the log: frame 02 0B 21 10 10 18 4B 01 03 03 "
                       "7C, bit 1";
        QTest::newRow("a continuation bit of 2")
            << "start"
            << start + ", continues from the log: frame 02 0B 21 10 10 18 4B 01 03 03 "
                       "7B, bit 2";
        QTest::newRow("an adjustment of bill 8")
            << "adjust"
            << "counter bill 8 set to 1 by the operator (was 0)";
        QTest::newRow("an adjustment below 0")
            << "adjust"
            << "counter bill 3 set to -1 by the operator (was 0)";
        QTest::newRow("counters at STOP whose total is wrong")
            << "stop"
            << "logging ends; bill 1=1 bill 2=0 bill 3=0 bill 4=0 bill 5=0 bill 6=0 "
               "bill 7=0 total=2; polls 1";
        QTest::newRow("a frame read at the stop that is not a good frame")
            << "read"
            << "frame read at the stop 02 0B 21 10 10 18 4B 01 03 03 7C: read";
        QTest::newRow("a kind of row never written") << "pause"
                                                     << "";
    }

    void aRowThatDoesNotReadBackIsSkipped()
    {
        QFETCH(QString, kind);
        QFETCH(QString, events);
        const auto sessions =
            analyseText(Header + mark(0, "start", StartRow) + answered(1, replyHex(0, 1)) +
                        mark(2, kind.toStdString(), events.toStdString()));
        QCOMPARE(sessions.size(), 1u);
        QCOMPARE(sessions[0].badRowsText(), std::string("1 torn or malformed row skipped: line 4"));
    }

    // Setting changes and the operator's adjustments stay within their
    // session; counted plus adjusted give the counters at STOP.
    void settingChangesAndAdjustmentsStayWithinTheirSession()
    {
        const std::string adjusted = "counter bill 3 set to 25 by the operator (was 1)";
        const auto sessions = analyseText(
            Header + mark(0, "start", StartRow) +
            answered(1, replyHex(0, 0x10, 3), "bill 3 stacked, counted, count 1, total 1") +
            mark(2, "start", "escrow mode now off") + mark(3, "start", "poll period now 800 ms") +
            mark(4, "start", "bills enabled now 1 2 4") + mark(5, "adjust", adjusted) +
            answered(6, replyHex(0, 0x01)) + mark(7, "stop", counts(25) + "; polls 2"));
        QCOMPARE(sessions.size(), 1u);
        const SessionSummary& s = sessions[0];
        QStringList changes;
        for (const Anomaly& a : s.anomalies)
            changes << QString::fromStdString(utcClock(a.time) + ' ' + a.what);
        QCOMPARE(changes, (QStringList{"09:00:02.000 escrow mode now off",
                                       "09:00:03.000 poll period now 800 ms",
                                       "09:00:04.000 bills enabled now 1 2 4"}));
        QCOMPARE(s.adjustments.size(), 1u);
        QCOMPARE(utcClock(s.adjustments[0].time), std::string("09:00:05.000"));
        QCOMPARE((std::array{s.adjustments[0].bill, int(s.adjustments[0].from),
                             int(s.adjustments[0].to)}),
                 (std::array{3, 1, 25}));
        QCOMPARE(s.adjusted[2], 24L);
        QCOMPARE(s.counted[2], 1L);
        QVERIFY(s.countsAtStop);
        QCOMPARE(s.countersExpected(), *s.countsAtStop);
    }

    // After rotation the new file begins with a row that carries the counts
    // so far: its session counts on from them, to the counters at STOP.
    void aRunUnderWayBeginsASessionThatCountsOnFromItsCountsSoFar()
    {
        const auto sessions = analyseText(
            Header +
            mark(0, "start",
                 "log continues after rotation: " + StartRow + "; counts so far " + counts(1)) +
            answered(1, replyHex(0, 0x10, 3), "bill 3 stacked, counted, count 2, total 2") +
            mark(2, "stop", "logging ends; " + counts(2) + "; polls 1"));
        QCOMPARE(sessions.size(), 1u);
        const SessionSummary& s = sessions[0];
        QCOMPARE(s.start.reason, std::string("log continues after rotation"));
        QCOMPARE(s.device(), std::string("/dev/ttyUSB0"));
        QCOMPARE(s.counted[2], 2L);
        QCOMPARE(s.countersExpected(), *s.countsAtStop);
    }

    // A bill a stop judged counts in the report as it did at the stop, and
    // the row is no poll.
    void aBillCountedAtTheStopIsInTheReport()
    {
        const auto sessions =
            analyseText(Header + mark(0, "start", StartRow) + answered(1, replyHex(0, 0x08)) +
                        mark(2, "read",
                             "frame read at the stop " + replyHex(0, 0x10, 3).toStdString() +
                                 ": bill 3 stacked, counted, count 1, total 1") +
                        mark(3, "stop", counts(1) + "; polls 1"));
        QCOMPARE(sessions.size(), 1u);
        QCOMPARE(sessions[0].badRows, 0u);
        QCOMPARE(sessions[0].countedTotal(), 1L);
        QCOMPARE(sessions[0].countersExpected(), *sessions[0].countsAtStop);
        QCOMPARE(sessions[0].link.polls(), std::uint64_t{1});
    }

    // Live, a report sent again byte for byte is one bill: so it is read back,
    // though the words of a verdict that counts nothing do not say so.
    void aReportSentAgainByteForByteIsOneBillAsItWasLive()
    {
        const std::string noCredit = "stacked with no credit, not counted: no-credit";
        const auto sessions =
            analyseText(Header + mark(0, "start", StartRow) + answered(1, replyHex(0, 1)) +
                        answered(2, replyHex(0, 0x10), noCredit) +
                        answered(3, replyHex(0, 0x10), noCredit) + answered(4, replyHex(0, 1)));
        QCOMPARE(sessions.size(), 1u);
        QCOMPARE(sessions[0].bills.total().inserted, 1L);
        QCOMPARE(sessions[0].anomalies.size(), 1u);
    }

    // A cycle's words may go on past its time ("…, after a jam"): still a
    // cycle, never read as a verdict that does not read back.
    void aCycleTextWithANoteAfterItsTimeIsNoVerdict()
    {
        const std::string counted = "bill 3 stacked, counted, count 1, total 1";
        const auto sessions =
            analyseText(Header + mark(0, "start", StartRow) +
                        answered(1, replyHex(0, 0x10, 3),
                                 counted + ", bill 3 stacked and counted after "
                                           "4.2 s, after a jam") +
                        answered(2, replyHex(0, 1), "bill 5 rejected after 0.0 s, under one poll"));
        QCOMPARE(sessions.size(), 1u);
        QCOMPARE(sessions[0].badRows, 0u);
        QCOMPARE(sessions[0].countedTotal(), 1L);
    }

    // The report's analysis and the replay's reader number the sessions of
    // odd logs alike, and hold the same polls in each.
    void oddLogsAreNumberedAlikeByEveryReader_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("polls"); // of each session
        QTest::addColumn<QString>("starts");   // + a session with its start row, - without
        const std::string poll = answered(1, replyHex(0, 1));
        const std::string start = mark(0, "start", StartRow);
        const std::string stop = mark(2, "stop", counts(0));
        QTest::newRow("a session opened by a setting row")
            << QString::fromStdString(Header + mark(0, "start", "escrow mode now off") + poll +
                                      start + poll + poll + stop)
            << QList<int>{1, 2} << "-+";
        QTest::newRow("rows before the first start row")
            << QString::fromStdString(Header + poll + poll + start + poll) << QList<int>{2, 1}
            << "-+";
        QTest::newRow("a file that begins with a row, not the header")
            << QString::fromStdString(poll + poll + stop + start + poll) << QList<int>{2, 1}
            << "-+";
        QTest::newRow("a log that begins with a stop row")
            << QString::fromStdString(Header + stop + poll + start + poll) << QList<int>{0, 1}
            << "-+";
        QTest::newRow("rows after a stop row stand outside")
            << QString::fromStdString(Header + start + poll + stop + poll + poll + start + poll)
            << QList<int>{1, 1} << "++";
        const std::string failed = mark(3, "failed", Refused);
        QTest::newRow("failed starts are no sessions")
            << QString::fromStdString(Header + failed + failed + start + poll + stop + failed)
            << QList<int>{1} << "+";
        QTest::newRow("a failed start ends a session a killed poller left open")
            << QString::fromStdString(Header + start + poll + failed + poll + start + poll)
            << QList<int>{1, 1} << "++";
    }

    // A start whose port never opened is listed from its row to the next,
    // which a held port's later tries do not add to, outside the sessions.
    void aFailedStartLastsUntilTheNextRow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("spans"); // from and until, in seconds, of each
        QTest::newRow("one at the end of the log")
            << QString::fromStdString(Header + mark(4, "failed", Refused)) << QList<int>{4, 4};
        QTest::newRow("two between two sessions")
            << QString::fromStdString(Header + mark(1, "start", StartRow) +
                                      mark(12, "stop", counts(0)) + mark(20, "failed", Refused) +
                                      mark(30, "failed", Refused) + mark(40, "start", StartRow))
            << QList<int>{20, 30, 30, 40};
    }
    void aFailedStartLastsUntilTheNextRow()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, spans);
        std::istringstream in(text.toStdString());
        std::vector<FailedStart> failed;
        std::size_t outside = 0;
        QVERIFY(!AnalyseLog(
            in, [](const SessionSummary&) {}, &outside, &failed));
        QList<int> found;
        for (const FailedStart& f : failed) {
            for (const LogClock::time_point t : {f.from, f.until})
                found << int(
                    std::chrono::floor<std::chrono::seconds>(t).time_since_epoch().count() % 60);
            QCOMPARE(f.what, Refused);
        }
        QCOMPARE(found, spans);
        QCOMPARE(outside, std::size_t(0));
    }

    void oddLogsAreNumberedAlikeByEveryReader()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, polls);
        QFETCH(QString, starts);
        QList<int> analysed, replayed;
        QString started;
        for (const SessionSummary& s : analyseText(text.toStdString())) {
            analysed << int(s.link.polls());
            QCOMPARE(s.number, int(analysed.size()));
            started += s.hasStartRow ? '+' : '-';
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        for (int n = 1; n <= LogSessionFile(path.toStdString(), 0).sessions(); ++n)
            replayed << int(LogSessionFile(path.toStdString(), n).polls());
        QCOMPARE(analysed, polls);
        QCOMPARE(replayed, polls);
        QCOMPARE(started, starts);
    }

    void everyVerdictReadsBackAsWritten_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<int>("bill");
        QTest::addColumn<bool>("repeat");
        QTest::newRow("read") << int(CountReason::NotStacked) << 0 << false;
        QTest::newRow("repeat") << int(CountReason::NotStacked) << 0 << true;
        QTest::newRow("counted") << int(CountReason::Counted) << 7 << false;
        QTest::newRow("a repeat of a stacked report") << int(CountReason::Repeat) << 3 << true;
        QTest::newRow("same report") << int(CountReason::SameReport) << 1 << false;
        QTest::newRow("before the run") << int(CountReason::BeforeRun) << 4 << false;
        QTest::newRow("no credit") << int(CountReason::NoCredit) << 0 << false;
        QTest::newRow("stacked and returned") << int(CountReason::StackedAndReturned) << 2 << false;
    }

    void everyVerdictReadsBackAsWritten()
    {
        QFETCH(int, reason);
        QFETCH(int, bill);
        QFETCH(bool, repeat);
        FrameNote note;
        note.count = {CountReason(reason), bill, repeat};
        note.billCount = 2, note.total = 9;
        const std::optional<FrameCount> read = ReadFrameDid(FrameDid(note));
        QVERIFY(read);
        QCOMPARE(int(read->reason), reason);
        QCOMPARE(read->bill, bill);
        QCOMPARE(read->repeat, repeat);
    }

    // A poller restarted while a bill was on its way: one cycle, counted in
    // the session it ended in, its time (the restart's with it) left out of
    // the bill times. A start that does not continue the run cuts the cycle.
    void aBillAcrossARestartIsOneCycleWhereItEnded_data()
    {
        QTest::addColumn<bool>("stopRow");
        QTest::addColumn<bool>("continues");
        QTest::addColumn<QList<long>>("inserted"); // per session: inserted, other, across
        QTest::newRow("killed, continuing from the log")
            << false << true << QList<long>{0, 0, 0, 1, 0, 1};
        QTest::newRow("stopped, continuing from the log")
            << true << true << QList<long>{0, 0, 0, 1, 0, 1};
        QTest::newRow("killed, a new run") << false << false << QList<long>{1, 1, 0, 1, 0, 0};
    }

    void aBillAcrossARestartIsOneCycleWhereItEnded()
    {
        QFETCH(bool, stopRow);
        QFETCH(bool, continues);
        QFETCH(QList<long>, inserted);
        const QString escrowed = replyHex(0, 0x04, 3);
        const std::string restart = StartRow + (continues ? ", continues from the log: frame " +
                                                                escrowed.toStdString() + ", bit 1"
                                                          : std::string());
        const auto sessions = analyseText(
            Header + mark(0, "start", StartRow) + answered(1, replyHex(0, 0x01)) +
            answered(2, escrowed) + (stopRow ? mark(3, "stop", counts(0) + "; polls 2") : "") +
            mark(20, "start", restart) +
            answered(21, replyHex(1, 0x10, 3), "bill 3 stacked, counted, count 1, total 1") +
            answered(22, replyHex(0, 0x01)));
        QCOMPARE(sessions.size(), 2u);
        QList<long> seen;
        for (const SessionSummary& s : sessions)
            seen << s.bills.total().inserted << s.bills.total().other << s.bills.acrossRestart();
        QCOMPARE(seen, inserted);
        QCOMPARE(sessions[1].counted[2], 1L);
        QCOMPARE(sessions[1].bills.medianCycleMs().has_value(), !continues);
        bool marked = false;
        for (const Anomaly& a : sessions[1].anomalies)
            marked = marked || a.what.find("across a restart") != std::string::npos;
        QCOMPARE(marked, continues);
    }

    // The live log and its rotations, plain or compressed, in any order:
    // read oldest first, a run a rotation split is one session, and a file
    // that is no session log is named and left out.
    void aLogsRotationsReadAsOneLog_data()
    {
        QTest::addColumn<QStringList>("files"); // in the order given
        QTest::addColumn<int>("skipped");
        QTest::newRow("oldest first") << QStringList{"a.csv.1", "a.csv"} << 0;
        QTest::newRow("newest first") << QStringList{"a.csv", "a.csv.1"} << 0;
        QTest::newRow("the rotation compressed") << QStringList{"a.csv", "a.csv.1.gz"} << 0;
        QTest::newRow("compressed, named as plain") << QStringList{"a.csv", "a.csv.1.old"} << 0;
        QTest::newRow("and a file that is no log")
            << QStringList{"a.csv", "notes.csv", "a.csv.1"} << 1;
        QTest::newRow("and one missing") << QStringList{"a.csv.2", "a.csv", "a.csv.1.gz"} << 1;
    }

    void aLogsRotationsReadAsOneLog()
    {
        QFETCH(QStringList, files);
        QFETCH(int, skipped);
        QTemporaryDir dir;
        const std::string rotated =
            Header + mark(0, "start", StartRow) + answered(1, replyHex(0, 0x01)) +
            answered(2, replyHex(1, 0x04, 3)) +
            answered(3, replyHex(0, 0x10, 3), "bill 3 stacked, counted, count 1, total 1");
        const std::string live =
            Header +
            mark(4, "start",
                 "log continues after rotation: " + StartRow + "; counts so far " + counts(1)) +
            answered(5, replyHex(1, 0x10, 3)) + answered(6, replyHex(0, 0x04, 3)) +
            answered(7, replyHex(1, 0x10, 3), "bill 3 stacked, counted, count 2, total 2") +
            mark(8, "stop", counts(2) + "; polls 7");
        const auto write = [&](const QString& name, const std::string& text) {
            std::ofstream(dir.filePath(name).toStdString(), std::ios::binary) << text;
        };
        write("a.csv", live);
        write("a.csv.1", rotated);
        write("notes.csv", "name,amount\nkora,232\n");
        QProcess gzip;
        gzip.setStandardOutputFile(dir.filePath("a.csv.1.gz"));
        gzip.start("gzip", {"-c", dir.filePath("a.csv.1")});
        QVERIFY(gzip.waitForFinished() && gzip.exitCode() == 0);
        QVERIFY(QFile::copy(dir.filePath("a.csv.1.gz"), dir.filePath("a.csv.1.old")));
        std::vector<std::string> paths;
        for (const QString& f : files)
            paths.push_back(dir.filePath(f).toStdString());
        std::vector<SessionSummary> sessions;
        const LogsRead read =
            AnalyseLogs(paths, [&](const SessionSummary& s) { sessions.push_back(s); });
        QCOMPARE(int(read.skipped.size()), skipped);
        QVERIFY(read.damaged.empty());
        QCOMPARE(sessions.size(), 1u);
        const SessionSummary& s = sessions[0];
        QCOMPARE(s.logs.size(), 2u);
        QVERIFY(QString::fromStdString(s.logs[1]).endsWith("a.csv"));
        QCOMPARE(s.counted[2], 2L);
        QVERIFY(s.countsAtStop && *s.countsAtStop == s.countersExpected());
        QCOMPARE(s.bills.total().stacked, 2L);
        QCOMPARE(s.link.polls(), std::uint64_t(6));
        QVERIFY(s.anomalies.empty()); // the continuation row is no setting changed
    }

    // The replay's reader takes a compressed log as it takes the plain one:
    // the same poll rows in the same order, again after a rewind.
    void aCompressedLogIsReplayedAsThePlainOne_data()
    {
        QTest::addColumn<int>("session");
        QTest::newRow("the last session") << 0;
        QTest::newRow("the first session") << 1;
    }

    void aCompressedLogIsReplayedAsThePlainOne()
    {
        QFETCH(int, session);
        QTemporaryDir dir;
        const QString plain = dir.filePath("two.csv"), packed = dir.filePath("two.csv.2");
        std::ifstream noisy(NoisyLog, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(noisy)), {});
        std::ofstream(plain.toStdString(), std::ios::binary)
            << text << text.substr(text.find('\n') + 1);
        QProcess gzip;
        gzip.setStandardOutputFile(packed);
        gzip.start("gzip", {"-c", plain});
        QVERIFY(gzip.waitForFinished() && gzip.exitCode() == 0);
        LogSessionFile a(plain.toStdString(), session), b(packed.toStdString(), session);
        QCOMPARE(b.sessions(), 2);
        QCOMPARE(b.polls(), a.polls());
        for (int pass = 0; pass < 2; ++pass, a.rewind(), b.rewind()) {
            std::size_t rows = 0;
            for (auto x = a.next(), y = b.next(); x || y; x = a.next(), y = b.next(), ++rows) {
                QVERIFY(x && y);
                QCOMPARE(y->line, x->line);
                QCOMPARE(y->reply, x->reply);
            }
            QCOMPARE(rows, a.polls());
        }
        QCOMPARE(QString::fromStdString(b.badRowsText()), QString());
    }

    // Compressed data cut short or spoiled: the rows before the damage are
    // read, and the damage is said.
    void aDamagedCompressedLogIsReadUpToItsDamage_data()
    {
        QTest::addColumn<int>("cut");   // bytes cut off the end
        QTest::addColumn<int>("spoil"); // a byte flipped this far from the end; 0: none
        QTest::newRow("cut short") << 20 << 0;
        QTest::newRow("its checksum spoiled") << 0 << 6;
    }

    void aDamagedCompressedLogIsReadUpToItsDamage()
    {
        QFETCH(int, cut);
        QFETCH(int, spoil);
        QTemporaryDir dir;
        QProcess gzip;
        gzip.setStandardOutputFile(dir.filePath("noisy.gz"));
        gzip.start("gzip", {"-c", QString::fromLatin1(NoisyLog)});
        QVERIFY(gzip.waitForFinished() && gzip.exitCode() == 0);
        QFile file(dir.filePath("noisy.gz"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        file.close();
        bytes.chop(cut);
        if (spoil)
            bytes[bytes.size() - spoil] = char(bytes[bytes.size() - spoil] ^ 0xFF);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        std::size_t sessions = 0;
        const LogsRead read = AnalyseLogs({dir.filePath("noisy.gz").toStdString()},
                                          [&](const SessionSummary&) { ++sessions; });
        QCOMPARE(sessions, 1u);
        QCOMPARE(read.damaged.size(), 1u);
        QVERIFY2(read.damaged[0].find("the compressed data is damaged") != std::string::npos,
                 read.damaged[0].c_str());
    }
};

QTEST_APPLESS_MAIN(SessionAnalysisTest)
#include "tst_sessionanalysis.moc"
