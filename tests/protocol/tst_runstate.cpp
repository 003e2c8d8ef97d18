#include "protocol/runstate.h"

#include <QTest>

using namespace kora;

class RunStateTest : public QObject
{
    Q_OBJECT

private slots:
    void aNewRecordIsAllZeroOrEmpty()
    {
        const RunState s;
        QCOMPARE(s.PortSelect, Byte{0});
        QCOMPARE(s.PollRate, std::int16_t{0});
        QCOMPARE(s.NRFlag, 0);
        QVERIFY(s.Sendit.empty());
        QVERIFY(s.RxData.empty());
        for (Byte b : s.HostMsg.raw())
            QCOMPARE(b, Byte{0});
        for (Byte b : s.AcceptorMsg.raw())
            QCOMPARE(b, Byte{0});
        for (Byte b : s.BillEnable.raw())
            QCOMPARE(b, Byte{0});
    }

    void arraysAreNumberedFromOneAndChecked()
    {
        RunState s;
        s.HostMsg(1) = 0x02;
        s.HostMsg(8) = 0x77;
        QCOMPARE(s.HostMsg.raw().front(), Byte{0x02});
        QCOMPARE(s.HostMsg.raw().back(), Byte{0x77});
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, s.HostMsg(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, s.HostMsg(9));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, s.AcceptorMsg(12));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, s.BillEnable(0));
        QCOMPARE(s.AcceptorMsg.size, std::size_t{11});
        QCOMPARE(s.BillEnable.size, std::size_t{7});
    }

    void clearStatusZeroesExactlyTheDecodedStatus()
    {
        RunState s;
        for (Byte* f : {&s.Idling, &s.Accepting, &s.Escrowed, &s.Stacking, &s.Stacked, &s.Returning,
                        &s.Returned, &s.Cheated, &s.Rejected, &s.Jammed, &s.Full, &s.Cassette,
                        &s.Power, &s.Invalid, &s.Failure})
            *f = 1;
        s.Credit = 3;
        s.LastCredit = 5;
        s.Toggle = 1;
        s.NRFlag = 2;
        s.Delay = 17;
        s.BillEnable.fill(1);
        s.BillEnable(4) = 0;
        s.HostMsg.fill(0x11);
        s.AcceptorMsg.fill(0x22);
        s.PortSelect = 4;
        s.StartStop = 1;

        RunState expected = s;
        s.ClearStatus();
        for (Byte* f : {&s.Idling, &s.Accepting, &s.Escrowed, &s.Stacking, &s.Stacked, &s.Returning,
                        &s.Returned, &s.Cheated, &s.Rejected, &s.Jammed, &s.Full, &s.Cassette,
                        &s.Power, &s.Invalid, &s.Failure})
            QCOMPARE(*f, Byte{0});
        QCOMPARE(s.Credit, Byte{0});
        QCOMPARE(s.LastCredit, Byte{0});
        QCOMPARE(s.Toggle, Byte{1});
        QCOMPARE(s.NRFlag, 2);
        QCOMPARE(s.Delay, Byte{17});
        QVERIFY(s.BillEnable == expected.BillEnable);
        QVERIFY(s.HostMsg == expected.HostMsg);
        QVERIFY(s.AcceptorMsg == expected.AcceptorMsg);
        QCOMPARE(s.PortSelect, Byte{4});
        QCOMPARE(s.StartStop, Byte{1});
    }
};

QTEST_APPLESS_MAIN(RunStateTest)
#include "tst_runstate.moc"
