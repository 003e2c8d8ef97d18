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
// R T (idling ... returned); events: J jam, X rejected, C cheat.
ReplyFrame frame(const QString& code, int ack)
{
    static const QString states = QStringLiteral("IAEKSRT");
    const QString letters = code.section(u':', 0, 0);
    const int credit = code.section(u':', 1, 1).toInt();
    Byte state = 0, events = 0x10;
    for (const QChar c : letters) {
        if (const auto bit = states.indexOf(c); bit >= 0)
            state |= Byte(1u << bit);
        events |= c == u'C' ? 0x01 : c == u'X' ? 0x02 : c == u'J' ? 0x04 : 0;
    }
    ReplyFrame f;
    setBytes(f, replyHex(ack, state, credit, events));
    return f;
}

// The cycles a sequence of fresh replies ends, a second apart, escrow mode on.
QStringList cyclesOf(const QString& sequence, bool stopAtEnd = false)
{
    RunState s;
    BillCycles cycles;
    QStringList ended;
    BillClock::time_point at{};
    int ack = 0;
    const auto note = [&](const std::optional<BillCycle>& c) {
        if (c)
            ended << QStringLiteral("%1 %2 %3s")
                         .arg(QLatin1String(OutcomeWord(c->outcome)))
                         .arg(c->bill)
                         .arg(c->duration.count() / 1000);
    };
    s.HaveLastFrame = 1; // a frame came before this sequence
    for (const QString& code : sequence.split(u' ')) {
        const ReplyFrame f = frame(code, ack ^= 1);
        note(cycles.read(f, CountFrame(s, f, 1), at));
        at += 1s;
    }
    if (stopAtEnd)
        note(cycles.stop(at));
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
        QTest::newRow("refused at once") << "I IX I" << QStringList{"rejected 0 0s"};
        QTest::newRow("already stacked at the first frame") << "I S:3 I"
                                                            << QStringList{"stacked 3 0s"};
        QTest::newRow("a stacked report staying up") << "A E:3 S:3 S:3 S:3 I"
                                                     << QStringList{"stacked 3 2s"};
        QTest::newRow("stacked and returned in one report")
            << "A E:3 R:3 ST:3 I" << QStringList{"returned 3 3s"};
        QTest::newRow("a jam ends its bill; after clear the bill moves on anew")
            << "A E:3 KJ:3 KJ:3 KJ:3 K:3 S:3 I" << QStringList{"jammed 3 2s", "stacked 3 1s"};
        QTest::newRow("a cheat on its own") << "I IC I" << QStringList{"cheated 0 0s"};
        QTest::newRow("a cheat ends the bill under way") << "A:0 E:4 EC:4 I"
                                                         << QStringList{"cheated 4 2s"};
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
        QCOMPARE(figures.of(3).stacked, 2L);
        QCOMPARE(figures.of(5).returned, 1L);
        QCOMPARE(QString::fromStdString(figures.text()),
                 QStringLiteral("bills: inserted 5, stacked 2, returned 1, rejected 1, other 1, "
                                "acceptance_percent 40.0, cycle_median_ms 2000.0, "
                                "cycle_max_ms 4000.0"));
    }
};

QTEST_APPLESS_MAIN(BillCyclesTest)
#include "tst_billcycles.moc"
