// The poll transaction against the simulated acceptor on a pseudo-terminal,
// paced at the real line rate.
#include "linkfixture.h"
#include "protocol/poll.h"
#include "protocol/reply.h"

using namespace kora;
using namespace std::chrono_literals;

class PollLinkTest : public QObject
{
    Q_OBJECT

private:
    static qint64 timedPoll(RunState& s, SimulatedLink& link, int escrow = 1)
    {
        QElapsedTimer t;
        t.start();
        PollAcceptor(s, *link.port, escrow);
        return t.elapsed();
    }

private slots:
    void aPromptReplyIsTakenInAsSoonAsItIsComplete()
    {
        SimulatedLink link;
        RunState s = startedState();
        const qint64 ms = timedPoll(s, link);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(s.Cassette, Byte{1});
        QCOMPARE(s.AcceptorMsg(3), Byte{0x20});
        QVERIFY2(ms >= 10 && ms < 200, qPrintable(QString::number(ms))); // 11 bytes at 9600 baud
        QCOMPARE(s.Toggle, Byte{1});
    }

    void noAcceptorWaitsAboutFourTenthsAndKeepsTheLastStatus()
    {
        SimulatedLink link;
        RunState s = startedState();
        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.NRFlag, 0);
        const Byte toggle = s.Toggle;
        const auto lastGood = s.AcceptorMsg;

        link.server->setSilent(true);
        const qint64 ms = timedPoll(s, link);
        QCOMPARE(s.NRFlag, 1);
        QVERIFY2(ms >= 395 && ms < 480, qPrintable(QString::number(ms)));
        QCOMPARE(s.Toggle, toggle);
        QVERIFY(s.AcceptorMsg == lastGood);
        QCOMPARE(s.Cassette, Byte{1});
        QCOMPARE(s.HostMsg(3), Byte(0x10 | toggle));
    }

    void aShortReplyCostsOnlyItsOwnPoll_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::newRow("six bytes") << 6;
        QTest::newRow("ten bytes") << 10;
    }
    void aShortReplyCostsOnlyItsOwnPoll()
    {
        QFETCH(int, bytes);
        SimulatedLink link;
        RunState s = startedState();
        link.server->setTruncate(bytes);
        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.NRFlag, 1);
        QCOMPARE(int(s.LineBytes.size()), bytes); // kept, in case the rest comes

        link.server->setTruncate(0);
        for (int i = 0; i < 5; ++i) {
            PollAcceptor(s, *link.port, 1);
            QCOMPARE(s.NRFlag, 0);
        }
    }

    void aGarbageFloodIsDroppedAndTheNextPollIsGood()
    {
        SimulatedLink link;
        RunState s = startedState();
        link.server->setPaced(false);
        link.server->setGarbage(16 * 1024);
        PollAcceptor(s, *link.port, 1);
        // Reading slides through the flood: the reply behind it answers the
        // poll when it arrives in time, else the flood is a checksum error;
        // never is noise taken for a reply.
        QVERIFY2(s.NRFlag == 2 || (s.NRFlag == 0 && GoodFrame(s.AcceptorMsg)),
                 qPrintable(QString::number(s.NRFlag)));
        link.server->setGarbage(0);
        link.server->setPaced(true);
        QTest::qWait(50);
        PollAcceptor(s, *link.port, 1);
        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.NRFlag, 0);
    }

    void aLateReplyIsDroppedAndTheNextPollWaitsForItsOwn()
    {
        SimulatedLink link;
        RunState s = startedState();
        link.server->setLate(600ms);
        const qint64 first = timedPoll(s, link);
        QCOMPARE(s.NRFlag, 1);
        QVERIFY(first < 480);
        QVERIFY(link.waitForWaiting(11));

        link.server->setLate(0ms);
        const qint64 second = timedPoll(s, link);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(link.server->repliesSent(), std::uint64_t{2});
        // Its own reply takes eleven characters on the line after sending.
        QVERIFY2(second >= 10 && second < 100, qPrintable(QString::number(second)));
    }

    void aWrongLastByteCostsOneShortPollThatDecodesNothingAndKeepsToggle()
    {
        SimulatedLink link;
        RunState s = startedState();
        link.server->corruptNext(1);
        const qint64 spoiled = timedPoll(s, link);
        QCOMPARE(s.NRFlag, 2);
        QVERIFY2(spoiled < 250, qPrintable(QString::number(spoiled))); // not the whole 400 ms
        QCOMPARE(s.Toggle, Byte{0});
        QCOMPARE(s.Cassette, Byte{0});
        QCOMPARE(s.Idling, Byte{0});

        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(s.Cassette, Byte{1});
        QCOMPARE(link.server->repliesSent(), std::uint64_t{2});
    }

    void aTimeOutRightAfterAChecksumErrorIsNoReply()
    {
        SimulatedLink link;
        RunState s = startedState();
        link.server->setCorrupt(true);
        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.NRFlag, 2);
        link.server->setCorrupt(false);
        link.server->setSilent(true);
        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.NRFlag, 1);
    }

    void tenGoodPollsAlternateByteThree()
    {
        SimulatedLink link;
        RunState s = startedState();
        s.Toggle = 1;
        for (int i = 0; i < 10; ++i) {
            PollAcceptor(s, *link.port, 1);
            QCOMPARE(s.NRFlag, 0);
            QCOMPARE(s.HostMsg(3), Byte(i % 2 == 0 ? 0x11 : 0x10));
        }
    }

    void anEscrowedBillIsOrderedStackedForAsLongAsItIsReported()
    {
        SimulatedLink link(150ms);
        RunState s = startedState();
        PollAcceptor(s, *link.port, 1);
        QVERIFY(link.server->command("insert 3").ok);
        int stackOrders = 0;
        bool stacked = false;
        for (int i = 0; i < 60 && !stacked; ++i) {
            const Byte escrowedBefore = s.Escrowed;
            PollAcceptor(s, *link.port, 1);
            QCOMPARE(s.HostMsg(5), Byte(escrowedBefore == 1 ? 0x30 : 0x10));
            stackOrders += s.HostMsg(5) == 0x30;
            stacked = s.Stacked == 1 && s.Credit == 3;
            QTest::qWait(40);
        }
        QVERIFY(stacked);
        QVERIFY(stackOrders >= 1);
        QCOMPARE(link.server->tally().of(3), 1);
    }

    void uncheckingEscrowModeChangesByteFiveOfTheNextPoll()
    {
        SimulatedLink link;
        RunState s = startedState();
        PollAcceptor(s, *link.port, 1);
        QCOMPARE(s.HostMsg(5), Byte{0x10});
        PollAcceptor(s, *link.port, 0);
        QCOMPARE(s.HostMsg(5), Byte{0x00});
        QCOMPARE(s.HostMsg(8), Byte(0x08 ^ s.HostMsg(3) ^ 0x7F));
    }

    void aClosedPortFailsTheWaitAtOnce()
    {
        SimulatedLink link;
        RunState s = startedState();
        link.port->close();
        const qint64 ms = timedPoll(s, link);
        QCOMPARE(s.NRFlag, 1);
        QVERIFY(ms < 50);
    }
};

QTEST_GUILESS_MAIN(PollLinkTest)
#include "tst_polllink.moc"
