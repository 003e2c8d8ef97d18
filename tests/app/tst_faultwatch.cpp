// What the journal hears of a run's faults: polls every 100 ms, their
// outcomes and flags, and the lines said with their priorities.
#include "app/faultwatch.h"

#include <QTest>

using kora::FaultWatch;

namespace {

enum Outcome { Good = 0, NoReply = 1, Checksum = 2 };

// Polls every 100 ms from fromMs up to toMs, all alike. Flags: J jammed,
// F stacker full, X failure, C cheated, O cassette out.
struct Polls
{
    int fromMs = 0;
    int toMs = 0;
    Outcome outcome = Good;
    const char* flags = "";
};
using Run = QList<Polls>;

kora::RunState stateOf(const Polls& p)
{
    const QByteArray flags(p.flags);
    kora::RunState s;
    s.NRFlag = p.outcome;
    s.Jammed = flags.contains('J');
    s.Full = flags.contains('F');
    s.Failure = flags.contains('X');
    s.Cheated = flags.contains('C');
    s.Cassette = !flags.contains('O');
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Run)

class FaultWatchTest : public QObject
{
    Q_OBJECT

private slots:
    void eachFaultIsSaidOnceWithItsPriority_data()
    {
        QTest::addColumn<Run>("run");
        QTest::addColumn<int>("finishMs"); // -1: the run goes on
        QTest::addColumn<QStringList>("said");
        QTest::newRow("a healthy run says nothing") << Run{{0, 60000}} << -1 << QStringList{};
        // The flags a failed poll leaves are the last good reply's.
        QTest::newRow("a silence under two seconds says nothing")
            << Run{{0, 1000}, {1000, 2900, NoReply, "JFO"}, {2900, 4000}} << -1 << QStringList{};
        QTest::newRow("a bad link after two seconds, its end once the hold is over")
            << Run{{0, 1000}, {1000, 2000, NoReply}, {2000, 3500, Checksum}, {3500, 13000}} << -1
            << QStringList{"<4>no good reply for 2.0 s: 20 polls, 10 with no reply, 10 checksum "
                           "errors",
                           "<6>replies again after 2.6 s (9 s ago)"};
        QTest::newRow("an acceptor that never answers")
            << Run{{0, 2500, NoReply}} << -1
            << QStringList{"<4>no good reply for 2.0 s: 21 polls, 21 with no reply, 0 checksum "
                           "errors"};
        QTest::newRow("a jam cleared within the hold")
            << Run{{0, 1000}, {1000, 2000, Good, "J"}, {2000, 12000}} << -1
            << QStringList{"<4>bill jammed", "<6>jam cleared (9 s ago)"};
        QTest::newRow("a jam cleared after the hold")
            << Run{{0, 1000}, {1000, 12000, Good, "J"}, {12000, 13000}} << -1
            << QStringList{"<4>bill jammed", "<6>jam cleared"};
        QTest::newRow("a stacker full coming and going, said once then summed up")
            << Run{{0, 1000, Good, "F"},    {1000, 2000}, {2000, 3000, Good, "F"}, {3000, 4000},
                   {4000, 5000, Good, "F"}, {5000, 25000}}
            << -1
            << QStringList{"<4>stacker full",
                           "<4>stacker full came and went 3 times in 10 s and is over"};
        QTest::newRow("a failure with a cheat, which ends at once")
            << Run{{0, 1000}, {1000, 1100, Good, "XC"}, {1100, 15000, Good, "X"}} << -1
            << QStringList{"<4>acceptor failure", "<4>cheat reported",
                           "<6>cheat report over (9 s ago)"};
        QTest::newRow("the cassette out and back, the end said when the run ends")
            << Run{{0, 1000}, {1000, 2000, Good, "O"}, {2000, 3000}} << 3000
            << QStringList{"<4>cassette out", "<6>cassette back in (1 s ago)"};
    }
    void eachFaultIsSaidOnceWithItsPriority()
    {
        QFETCH(Run, run);
        QFETCH(int, finishMs);
        QFETCH(QStringList, said);
        const QString who = QStringLiteral("port 1 (/dev/ttyUSB0): ");
        FaultWatch watch(who.chopped(2).toStdString());
        QStringList lines;
        const auto note = [&](const std::vector<FaultWatch::Line>& out) {
            for (const FaultWatch::Line& line : out) {
                const QString text = QString::fromStdString(line.text);
                QVERIFY2(text.startsWith(who), qPrintable(text));
                lines << QStringLiteral("<%1>%2").arg(int(line.priority)).arg(text.mid(who.size()));
            }
        };
        const auto at = [](int ms) {
            return FaultWatch::Clock::time_point{} + std::chrono::milliseconds(ms);
        };
        for (const Polls& p : run)
            for (int ms = p.fromMs; ms < p.toMs; ms += 100)
                note(watch.poll(stateOf(p), at(ms)));
        if (finishMs >= 0)
            note(watch.finish(at(finishMs)));
        QCOMPARE(lines, said);
    }
};

QTEST_GUILESS_MAIN(FaultWatchTest)
#include "tst_faultwatch.moc"
