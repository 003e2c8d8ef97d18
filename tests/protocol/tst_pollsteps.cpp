// The poll transaction's own decisions, over a scripted link whose far end
// is a list of arrivals. Timing and the real line are covered by the tests
// that run against the simulator on a pseudo-terminal.
#include "hexbytes.h"
#include "protocol/poll.h"
#include "startedstate.h"
#include "streamlink.h"

#include <QTest>

using namespace kora;

namespace {

const QString StackedBill3 = "02 0B 20 10 10 18 41 01 03 03 70";
const QString Idling = "02 0B 21 01 10 00 41 01 03 03 78";

std::vector<Byte> acceptorMsg(const RunState& s)
{
    return {s.AcceptorMsg.raw().begin(), s.AcceptorMsg.raw().end()};
}

// Reads hand back fewer bytes than the count promised, as a failing port may.
class ShortReadLink : public StreamLink
{
public:
    std::vector<std::uint8_t> readAll() override
    {
        auto all = StreamLink::readAll();
        all.resize(std::min<std::size_t>(all.size(), 7));
        return all;
    }
};

} // namespace

class PollStepsTest : public QObject
{
    Q_OBJECT

private slots:
    void aGoodReplyIsDecodedAndFlipsToggleOnce()
    {
        RunState s = startedState();
        StreamLink link;
        link.schedule({hexBytes(StackedBill3)}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(s.Toggle, Byte{1});
        QCOMPARE(s.Stacked, Byte{1});
        QCOMPARE(s.Credit, Byte{3});
        QCOMPARE(link.sent, std::size_t{8});
    }

    void aReplyArrivingByteByByteIsTakenInAtEleven()
    {
        RunState s = startedState();
        StreamLink link;
        std::vector<std::vector<Byte>> bytes;
        for (Byte b : hexBytes(Idling))
            bytes.push_back({b});
        link.schedule(bytes, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(acceptorMsg(s), hexBytes(Idling));
    }

    void aBurstPastElevenTakesTheFirstElevenAndDropsTheRest()
    {
        RunState s = startedState();
        StreamLink link;
        auto burst = hexBytes(Idling);
        burst.insert(burst.end(), {0x55, 0x66, 0x77});
        link.schedule({burst}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(acceptorMsg(s), hexBytes(Idling));
        QCOMPARE(link.waitingCount(), 0);
    }

    void aShortReadIsNoReplyAndKeepsTheLastReply()
    {
        RunState s = startedState();
        StreamLink good;
        good.schedule({hexBytes(StackedBill3)}, false);
        PollAcceptor(s, good, 1);
        const Byte toggle = s.Toggle;

        ShortReadLink link;
        link.schedule({hexBytes(Idling)}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 1);
        QCOMPARE(acceptorMsg(s), hexBytes(StackedBill3));
        QCOMPARE(s.Toggle, toggle);
        QCOMPARE(s.Stacked, Byte{1});
    }

    void aPortThatRefusesEverythingEndsTheTransactionNormally()
    {
        RunState s = startedState();
        StreamLink link;
        link.schedule({hexBytes(Idling)}, true);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 1);
        QCOMPARE(s.Toggle, Byte{0});
        QCOMPARE(s.HostMsg(3), Byte{0x10});
    }

    void elevenBytesThatAreNoGoodReplyAreAChecksumError_data()
    {
        QTest::addColumn<QString>("bytes");
        QTest::newRow("wrong last byte") << "02 0B 20 10 10 18 41 01 03 03 71";
        QTest::newRow("eleven zero bytes") << "00 00 00 00 00 00 00 00 00 00 00";
        QTest::newRow("noise that sums") << "5A 0B 20 10 10 18 41 01 03 03 70";
        QTest::newRow("no end byte") << "02 0B 20 10 10 18 41 01 03 00 70";
    }
    void elevenBytesThatAreNoGoodReplyAreAChecksumError()
    {
        QFETCH(QString, bytes);
        RunState s = startedState();
        s.Toggle = 1;
        StreamLink link;
        link.schedule({hexBytes(bytes)}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 2);
        QCOMPARE(s.Toggle, Byte{1});
        QCOMPARE(s.Stacked, Byte{0});
        QCOMPARE(s.Credit, Byte{0});
        QCOMPARE(acceptorMsg(s), hexBytes(bytes));
    }

    void aPollThatTakesNothingInIsNoReplyWhateverCameBefore_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("outcomeBefore");
        QTest::newRow("after a checksum error") << "02 0B 20 10 10 18 41 01 03 03 00" << 2;
        QTest::newRow("after a good reply") << StackedBill3 << 0;
    }
    void aPollThatTakesNothingInIsNoReplyWhateverCameBefore()
    {
        QFETCH(QString, before);
        QFETCH(int, outcomeBefore);
        RunState s = startedState();
        StreamLink link;
        link.schedule({hexBytes(before)}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, outcomeBefore);
        link.schedule({}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 1);
    }

    void bytesWaitingBeforeTheHostMessageAreDropped()
    {
        RunState s = startedState();
        StreamLink link;
        link.schedule({hexBytes(StackedBill3), hexBytes(Idling)}, false);
        link.waitForInput({}, 11); // a late reply, waiting when the poll begins
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(acceptorMsg(s), hexBytes(Idling));
        QCOMPARE(s.Stacked, Byte{0});
    }

    void toggleAckLeavesOddValuesAlone()
    {
        RunState s;
        ToggleAck(s);
        QCOMPARE(s.Toggle, Byte{1});
        ToggleAck(s);
        QCOMPARE(s.Toggle, Byte{0});
        s.Toggle = 5;
        ToggleAck(s);
        QCOMPARE(s.Toggle, Byte{5});
    }
};

QTEST_APPLESS_MAIN(PollStepsTest)
#include "tst_pollsteps.moc"
