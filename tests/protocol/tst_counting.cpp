// The counting rule and the delay timer that opens its gate, which the
// window and kora232-headless both call.
#include "protocol/counting.h"

#include <QTest>

using namespace kora;

class CountingTest : public QObject
{
    Q_OBJECT

private slots:
    void aBillCountsOnceFromAGoodStackedReplyWithTheGateOpen_data()
    {
        QTest::addColumn<int>("nrFlag");
        QTest::addColumn<int>("stacked");
        QTest::addColumn<int>("credit");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("counted");
        QTest::addColumn<int>("delayAfter");
        QTest::newRow("counted, gate closes") << 0 << 1 << 3 << 5 << 3 << 0;
        QTest::newRow("gate still closed") << 0 << 1 << 3 << 4 << 0 << 4;
        QTest::newRow("no reply") << 1 << 1 << 3 << 9 << 0 << 9;
        QTest::newRow("checksum error") << 2 << 1 << 3 << 9 << 0 << 9;
        QTest::newRow("not stacked") << 0 << 0 << 3 << 9 << 0 << 9;
        QTest::newRow("no credit") << 0 << 1 << 0 << 9 << 0 << 9;
    }
    void aBillCountsOnceFromAGoodStackedReplyWithTheGateOpen()
    {
        QFETCH(int, nrFlag);
        QFETCH(int, stacked);
        QFETCH(int, credit);
        QFETCH(int, delay);
        QFETCH(int, counted);
        QFETCH(int, delayAfter);
        RunState s;
        s.NRFlag = nrFlag;
        s.Stacked = Byte(stacked);
        s.Credit = Byte(credit);
        s.Delay = Byte(delay);
        QCOMPARE(BillToCount(s), counted);
        QCOMPARE(int(s.Delay), delayAfter);
    }

    void theDelayTimerCountsUpAndWrapsPastFiftyToTen_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("from start-up") << 0 << 1;
        QTest::newRow("opening the gate") << 4 << 5;
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
};

QTEST_APPLESS_MAIN(CountingTest)
#include "tst_counting.moc"
