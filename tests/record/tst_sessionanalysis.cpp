// A session log read back: the committed noisy session gives the figures of
// its own stop row and the anomalies it records; bad input is named.
#include "record/pollreport.h"
#include "record/sessionanalysis.h"

#include <QTest>
#include <fstream>
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
};

QTEST_APPLESS_MAIN(SessionAnalysisTest)
#include "tst_sessionanalysis.moc"
