// The counting rule, which both faces reach through the session engine, and
// the delay timer.
#include "hexbytes.h"
#include "protocol/counting.h"
#include "replyframes.h"

#include <QFile>
#include <QTest>

using namespace kora;

namespace {
constexpr int Idling = 0x01, Escrowed = 0x04, Stacking = 0x08, Stacked = 0x10;
const QString None;
} // namespace

class CountingTest : public QObject
{
    Q_OBJECT

private slots:
    void aStackedReportCountsOnlyWhenItIsNews_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("escrow"); // the box now
        QTest::addColumn<int>("began");  // the box when the report before was first read
        QTest::addColumn<int>("reason");
        QTest::addColumn<int>("bill");
        const auto r = [](CountReason c) { return int(c); };
        const QString stacked3 = replyHex(1, Stacked, 3);
        QTest::newRow("stacked after escrowed")
            << replyHex(0, Escrowed, 3) << stacked3 << 1 << 1 << r(CountReason::Counted) << 3;
        QTest::newRow("the first frame a process reads")
            << None << stacked3 << 1 << 1 << r(CountReason::BeforeRun) << 3;
        QTest::newRow("the frame before again, byte for byte")
            << stacked3 << stacked3 << 0 << 0 << r(CountReason::Repeat) << 3;
        QTest::newRow("a report staying up, escrow mode")
            << replyHex(0, Stacked, 3) << stacked3 << 1 << 1 << r(CountReason::SameReport) << 3;
        QTest::newRow("a fresh report of the same bill, no escrow mode")
            << replyHex(0, Stacked, 3) << stacked3 << 0 << 0 << r(CountReason::Counted) << 3;
        QTest::newRow("the box unchecked while a report stays up")
            << replyHex(0, Stacked, 3) << stacked3 << 0 << 1 << r(CountReason::SameReport) << 3;
        QTest::newRow("the box checked while a report begun without it stays up")
            << replyHex(0, Stacked, 3) << stacked3 << 1 << 0 << r(CountReason::Counted) << 3;
        QTest::newRow("another bill right after")
            << replyHex(0, Stacked, 5) << stacked3 << 1 << 1 << r(CountReason::Counted) << 3;
        QTest::newRow("the same bill after idling")
            << replyHex(0, Idling) << stacked3 << 1 << 1 << r(CountReason::Counted) << 3;
        QTest::newRow("stacked with no credit")
            << replyHex(0, Escrowed, 3) << replyHex(1, Stacked, 0) << 1 << 1
            << r(CountReason::NoCredit) << 0;
        QTest::newRow("idling") << stacked3 << replyHex(0, Idling, 3) << 1 << 1
                                << r(CountReason::NotStacked) << 0;
    }
    void aStackedReportCountsOnlyWhenItIsNews()
    {
        QFETCH(QString, before);
        QFETCH(QString, frame);
        QFETCH(int, escrow);
        QFETCH(int, began);
        QFETCH(int, reason);
        QFETCH(int, bill);
        RunState s;
        if (!before.isEmpty()) {
            setBytes(s.LastFrame, before);
            s.HaveLastFrame = 1;
            s.LastReportEscrow = Byte(began);
        }
        s.Delay = 7;
        ReplyFrame f;
        setBytes(f, frame);
        const FrameCount c = CountFrame(s, f, escrow);
        QCOMPARE(int(c.reason), reason);
        QCOMPARE(c.bill, bill);
        QCOMPARE(c.repeat, before == frame);
        QVERIFY(s.LastFrame == f); // the frame before the next one
        QCOMPARE(int(s.Delay), c.counted() ? 0 : 7);
    }

    // A report keeps the mode it began under through every copy of it; the
    // next report takes the mode as it is then.
    void aReportIsJudgedByTheModeItBeganUnder()
    {
        RunState s;
        s.HaveLastFrame = 1;
        setBytes(s.LastFrame, replyHex(1, Escrowed, 3));
        const auto count = [&s](int ack, int state, int credit, int escrow) {
            ReplyFrame f;
            setBytes(f, replyHex(ack, state, credit));
            return int(CountFrame(s, f, escrow).reason);
        };
        QCOMPARE(count(0, Stacked, 3, 1), int(CountReason::Counted));
        QCOMPARE(count(1, Stacked, 3, 0), int(CountReason::SameReport)); // unchecked meanwhile
        QCOMPARE(count(0, Stacked, 3, 0), int(CountReason::SameReport));
        QCOMPARE(count(1, Idling, 0, 0), int(CountReason::NotStacked));
        QCOMPARE(count(0, Stacked, 3, 0), int(CountReason::Counted));
        QCOMPARE(count(1, Stacked, 3, 1), int(CountReason::Counted)); // no escrow when it began
    }

    // The frame before taken from the last process's log: judged as any
    // frame before, unless the acceptor has powered up since, and only for
    // the first frame read.
    void aFrameBeforeFromTheLogJudgesTheFirstFrameUnlessItPoweredUp_data()
    {
        QTest::addColumn<QStringList>("frames"); // read in turn after the logged one
        QTest::addColumn<QList<int>>("reasons");
        const auto r = [](CountReason c) { return int(c); };
        const QString powered3 = replyHex(0, Stacked, 3, 0x10, 0x01);
        QTest::newRow("the acceptor's next report")
            << QStringList{replyHex(0, Stacked, 3)} << QList<int>{r(CountReason::Counted)};
        QTest::newRow("the logged reply sent again")
            << QStringList{replyHex(1, Stacking, 3)} << QList<int>{r(CountReason::NotStacked)};
        QTest::newRow("a stacked report from a powered-up acceptor")
            << QStringList{powered3} << QList<int>{r(CountReason::BeforeRun)};
        QTest::newRow("powering up after the first frame: judged as ever")
            << QStringList{replyHex(0, Idling), powered3}
            << QList<int>{r(CountReason::NotStacked), r(CountReason::Counted)};
    }
    void aFrameBeforeFromTheLogJudgesTheFirstFrameUnlessItPoweredUp()
    {
        QFETCH(QStringList, frames);
        QFETCH(QList<int>, reasons);
        RunState s;
        setBytes(s.LastFrame, replyHex(1, Stacking, 3));
        s.HaveLastFrame = 1;
        s.LastFrameFromLog = 1;
        for (int i = 0; i < frames.size(); ++i) {
            ReplyFrame f;
            setBytes(f, frames[i]);
            QCOMPARE(int(CountFrame(s, f, 1).reason), reasons[i]);
        }
        QCOMPARE(int(s.LastFrameFromLog), 0);
    }

    void theDelayTimerCountsUpAndWrapsPastFiftyToTen_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("from start-up") << 0 << 1;
        QTest::newRow("at fifty") << 49 << 50;
        QTest::newRow("past fifty") << 50 << 10;
    }
    void theDelayTimerCountsUpAndWrapsPastFiftyToTen()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        RunState s;
        s.Delay = Byte(before);
        AdvanceDelay(s);
        QCOMPARE(int(s.Delay), after);
    }

    // A script reads the reasons off the poller's lines: each one the rule
    // can give is in the test rig guide's table and the manual page.
    void everyReasonTheRuleGivesIsDocumented()
    {
        QFile guide(QStringLiteral(KORA_RIG_GUIDE)), page(QStringLiteral(KORA_HEADLESS_PAGE));
        QVERIFY(guide.open(QIODevice::ReadOnly) && page.open(QIODevice::ReadOnly));
        const QByteArray table = guide.readAll(), manual = page.readAll();
        int reasons = 0;
        for (int r = 0; r < 64; ++r) {
            const QByteArray name = ReasonName(static_cast<CountReason>(r));
            if (name.isEmpty())
                continue;
            ++reasons;
            QVERIFY2(table.contains("| `" + name + "` |"), name.constData());
            QVERIFY2(manual.contains('"' + name + '"'), name.constData());
        }
        QCOMPARE(reasons, 5);
    }
};

QTEST_APPLESS_MAIN(CountingTest)
#include "tst_counting.moc"
