// Each bill followed from the first frame that shows it to the frame that
// ends it, from reply sequences alone, and the acceptance figures.
#include "hexbytes.h"
#include "protocol/billcycles.h"
#include "replyframes.h"

#include <QStringList>
#include <QTest>

using namespace kora;
using namespace std::chrono_literals;

namespace {

// "E:3" escrowed with credit 3; "KJ:3" stacking and jammed. States: I A E K S
// R T (idling ... returned); events: J jam, X rejected, C cheat, F stacker
// full; P power-up, Z failure.
ReplyFrame frame(const QString& code, int ack)
{
    static const QString states = QStringLiteral("IAEKSRT");
    const QString letters = code.section(u':', 0, 0);
    const int credit = code.section(u':', 1, 1).toInt();
    Byte state = 0, events = 0x10, health = 0;
    for (const QChar c : letters) {
        if (const auto bit = states.indexOf(c); bit >= 0)
            state |= Byte(1u << bit);
        events |= c == u'C' ? 0x01 : c == u'X' ? 0x02 : c == u'J' ? 0x04 : c == u'F' ? 0x08 : 0;
        health |= c == u'P' ? 0x01 : c == u'Z' ? 0x04 : 0;
    }
    ReplyFrame f;
    setBytes(f, replyHex(ack, state, credit, events, health));
    return f;
}

// The cycles a sequence of fresh replies ends, a second apart, escrow mode on,
// with their text's notes ("stacked 3 5s, after a jam"), then the acceptor's
// events that came ("jams 2").
QStringList cyclesOf(const QString& sequence, bool stopAtEnd = false)
{
    RunState s;
    BillCycles cycles;
    QStringList ended;
    BillClock::time_point at{};
    int ack = 0;
    const auto note = [&](const std::optional<BillCycle>& c) {
        if (!c)
            return;
        const QString text = QString::fromStdString(c->text());
        const qsizetype notes = text.indexOf(QLatin1String(" s, "));
        ended << QStringLiteral("%1 %2 %3s%4")
                     .arg(QLatin1String(OutcomeWord(c->outcome)))
                     .arg(c->bill)
                     .arg(c->duration.count() / 1000)
                     .arg(notes < 0 ? QString() : text.mid(notes + 2));
    };
    s.HaveLastFrame = 1; // a frame came before this sequence
    for (const QString& code : sequence.split(u' ')) {
        const ReplyFrame f = frame(code, ack ^= 1);
        note(cycles.read(f, CountFrame(s, f, 1), at));
        at += 1s;
    }
    if (stopAtEnd)
        note(cycles.stop(at));
    const AcceptorEvents& e = cycles.events();
    for (const auto& [name, n] : {std::pair{"jams", e.jams},
                                  {"stacker full", e.stackerFull},
                                  {"failures", e.failures},
                                  {"power-ups", e.powerUps}})
        if (n)
            ended << QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(n);
    return ended;
}

} // namespace

class BillCyclesTest : public QObject
{
    Q_OBJECT

private slots:
    void eachBillsCycleEndsOnceWithItsOutcome_data()
    {
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QStringList>("cycles");
        QTest::newRow("stacked") << "I A E:3 K:3 S:3 I" << QStringList{"stacked 3 3s"};
        QTest::newRow("returned") << "I A E:3 R:3 T:3 I" << QStringList{"returned 3 3s"};
        QTest::newRow("rejected") << "I A IX I" << QStringList{"rejected 0 1s"};
        QTest::newRow("refused at once")
            << "I IX I" << QStringList{"rejected 0 0s, under one poll"};
        QTest::newRow("in and out between two polls")
            << "I S:3 I" << QStringList{"stacked 3 0s, under one poll"};
        QTest::newRow("a stacked report staying up")
            << "A E:3 S:3 S:3 S:3 I" << QStringList{"stacked 3 2s"};
        QTest::newRow("stacked and returned in one report")
            << "A E:3 R:3 ST:3 I" << QStringList{"returned 3 3s"};
        QTest::newRow("a bill goes on through a jam and ends as it ends")
            << "A E:3 KJ:3 KJ:3 KJ:3 K:3 S:3 I"
            << QStringList{"stacked 3 6s, after a jam", "jams 1"};
        QTest::newRow("jams while idling are the acceptor's, not bills")
            << "I IJ IJ I IJ I" << QStringList{"jams 2"};
        QTest::newRow("each flag's rise is one event")
            << "IP IP I IF IF IFZ IZ I"
            << QStringList{"stacker full 1", "failures 1", "power-ups 1"};
        QTest::newRow("in escrow when the jam rises, then stacked")
            << "I A E:3 EJ:3 EJ:3 E:3 K:3 S:3 I"
            << QStringList{"stacked 3 6s, after a jam", "jams 1"};
        QTest::newRow("stacked with the jam flag up")
            << "I A E:3 K:3 ISJ:3 IJ I" << QStringList{"stacked 3 3s, after a jam", "jams 1"};
        QTest::newRow("accepted during a jam, stacked once it cleared")
            << "I IJ AJ EJ:3 KJ:3 S:3 I" << QStringList{"stacked 3 3s, after a jam", "jams 1"};
        QTest::newRow("a jam that clears to idling with no report")
            << "I A E:3 EJ:3 IJ I" << QStringList{"jammed 3 4s", "jams 1"};
        QTest::newRow("a cheat on its own")
            << "I IC I" << QStringList{"cheated 0 0s, under one poll"};
        QTest::newRow("a cheat ends the bill under way")
            << "A:0 E:4 EC:4 I" << QStringList{"cheated 4 2s"};
        QTest::newRow("back to idling") << "A E:3 I" << QStringList{"gone 3 2s"};
        QTest::newRow("two bills")
            << "A E:2 K:2 S:2 A E:7 S:7 I" << QStringList{"stacked 2 3s", "stacked 7 2s"};
    }
    void eachBillsCycleEndsOnceWithItsOutcome()
    {
        QFETCH(QString, replies);
        QFETCH(QStringList, cycles);
        QCOMPARE(cyclesOf(replies), cycles);
    }

    void aBillUnderWayAtStopEndsOpen()
    {
        QCOMPARE(cyclesOf(QStringLiteral("I A E:5"), true), QStringList{"open 5 2s"});
        QCOMPARE(cyclesOf(QStringLiteral("I A E:5 EJ:5 IJ"), true),
                 (QStringList{"open 5 4s, after a jam", "jams 1"}));
    }

    // The log's reader tells a cycle's words from a frame's verdict by them,
    // old logs' included.
    void aCyclesTextSaysWhatTheBillWentThroughAndIsKnownAsOne()
    {
        const auto text = [](int bill, BillOutcome outcome, int ms, bool jam) {
            const std::chrono::milliseconds took(ms);
            return BillCycle{bill, outcome, {CountReason::Counted, bill}, {}, took, jam}.text();
        };
        const std::pair<std::string, const char*> cycles[] = {
            {text(3, BillOutcome::Stacked, 4200, true),
             "bill 3 stacked and counted after 4.2 s, after a jam"},
            {text(0, BillOutcome::Rejected, 0, false),
             "a bill rejected after 0.0 s, under one poll"},
            {text(5, BillOutcome::Jammed, 2000, true), "bill 5 jammed after 2.0 s"},
            {"a bill jammed after 0.0 s", "a bill jammed after 0.0 s"}, // an old log's
        };
        for (const auto& [words, expected] : cycles) {
            QCOMPARE(words, std::string(expected));
            QVERIFY(IsCycleText(words));
        }
        for (const char* verdict :
             {"bill 3 stacked, counted, count 2, total 5", "bill 3 stacked, not counted: repeat",
              "escrowed bills now returned after 2.0 s"})
            QVERIFY2(!IsCycleText(verdict), verdict);
    }

    void theFiguresAddUpEveryCycle()
    {
        BillFigures figures;
        QCOMPARE(figures.acceptancePercent(), std::nullopt);
        const auto add = [&](int bill, BillOutcome outcome, int ms) {
            figures.add({bill, outcome, {}, {}, std::chrono::milliseconds(ms)});
        };
        add(3, BillOutcome::Stacked, 2000);
        add(3, BillOutcome::Stacked, 3000);
        add(5, BillOutcome::Returned, 4000);
        add(0, BillOutcome::Rejected, 500);
        add(0, BillOutcome::Jammed, 1000);
        figures.setEvents({16, 0, 1, 2});
        QCOMPARE(figures.of(3).stacked, 2L);
        QCOMPARE(figures.of(5).returned, 1L);
        QCOMPARE(QString::fromStdString(figures.text()),
                 QStringLiteral("bills: inserted 5, stacked 2, returned 1, rejected 1, other 1, "
                                "acceptance_percent 40.0, cycle_median_ms 2000.0, "
                                "cycle_max_ms 4000.0, jams 16, stacker_full 0, failures 1, "
                                "power_ups 2"));
    }
};

QTEST_APPLESS_MAIN(BillCyclesTest)
#include "tst_billcycles.moc"
