// The poll transaction's own decisions, over a scripted link whose far end
// is a list of arrivals. Timing and the real line are covered by the tests
// that run against the simulator on a pseudo-terminal.
#include "hexbytes.h"
#include "protocol/poll.h"
#include "replyframes.h"
#include "startedstate.h"
#include "streamlink.h"

#include <QTest>

using namespace kora;

namespace {

const QString StackedBill3 = "02 0B 20 10 10 18 41 01 03 03 70";
const QString Idling = "02 0B 21 01 10 00 41 01 03 03 78";
// Answers to a host message with bit 0 (own), and frames with the other bit.
const QString Own = replyHex(0, 0x04, 3);
const QString Other = replyHex(1, 0x01);

QString roles(const kora::RunState& s)
{
    QStringList out;
    for (const kora::FrameRead& f : s.FramesRead)
        out << (f.role == kora::FrameRole::Answer     ? "A"
                : f.role == kora::FrameRole::OtherBit ? "O"
                                                      : "E");
    return out.join(u' ');
}

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
        s.Toggle = 1;
        StreamLink link;
        std::vector<std::vector<Byte>> bytes;
        for (Byte b : hexBytes(Idling))
            bytes.push_back({b});
        link.schedule(bytes, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 0);
        QCOMPARE(acceptorMsg(s), hexBytes(Idling));
    }

    void theAnswerIsTheFirstGoodFrameThatEchoesThisPollsBit_data()
    {
        QTest::addColumn<QString>("arrivals");
        QTest::addColumn<int>("nrFlag");
        QTest::addColumn<QString>("roles");
        QTest::addColumn<int>("bytesKept");
        QTest::newRow("its own frame") << Own << 0 << "A" << 0;
        QTest::newRow("the other bit alone answers nothing") << Other << 1 << "O" << 0;
        QTest::newRow("the other bit, then its own") << Other + " " + Own << 0 << "O A" << 0;
        QTest::newRow("what follows the answer waits for the next poll")
            << Own + " " + Other << 0 << "A" << 11;
        QTest::newRow("a false start slides by one byte") << "02 " + Own << 0 << "A" << 0;
        QTest::newRow("02 0B that starts no frame") << "02 0B " + Own << 0 << "A" << 0;
        QTest::newRow("noise ahead") << "55 66 03 " + Own << 0 << "A" << 0;
        QTest::newRow("half a frame is kept") << Own.left(17) << 1 << "" << 6;
        QTest::newRow("eleven bytes of noise")
            << "55 0B 20 10 10 18 41 01 03 03 70" << 2 << "" << 0;
    }
    void theAnswerIsTheFirstGoodFrameThatEchoesThisPollsBit()
    {
        QFETCH(QString, arrivals);
        QFETCH(int, nrFlag);
        QFETCH(QString, roles);
        QFETCH(int, bytesKept);
        RunState s = startedState();
        StreamLink link;
        link.schedule({hexBytes(arrivals)}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, nrFlag);
        QCOMPARE(::roles(s), roles);
        QCOMPARE(int(s.LineBytes.size()), bytesKept);
        QCOMPARE(s.Toggle, Byte(nrFlag == 0 ? 1 : 0));
        if (nrFlag == 0)
            QCOMPARE(acceptorMsg(s), hexBytes(Own));
    }

    void aWaitEndsOnceItsReplyCameSpoiled_data()
    {
        QTest::addColumn<QStringList>("arrivals");
        QTest::addColumn<int>("nrFlag");
        QTest::addColumn<QString>("roles");
        QTest::addColumn<int>("arrivalsLeft");
        const QString noise = "55 0B 20 10 10 18 41 01 03 03 70";
        QTest::newRow("eleven bytes passed over and nothing left ends it")
            << QStringList{"02 0B 20 10 10 18 41 01 03 03 71", Own} << 2 << "" << 1;
        QTest::newRow("eleven bytes of noise leave the reply to the next poll")
            << QStringList{noise, Own} << 2 << "" << 1;
        QTest::newRow("02 and fewer than eleven bytes left wait on")
            << QStringList{noise + " 02 0B 20", Own.mid(9)} << 0 << "A" << 0;
        QTest::newRow("a frame with the other bit waits on")
            << QStringList{Other, Own} << 0 << "O A" << 0;
        QTest::newRow("ten bytes of noise, then the reply, answer")
            << QStringList{noise.left(29), Own} << 0 << "A" << 0;
    }
    void aWaitEndsOnceItsReplyCameSpoiled()
    {
        QFETCH(QStringList, arrivals);
        QFETCH(int, nrFlag);
        QFETCH(QString, roles);
        QFETCH(int, arrivalsLeft);
        RunState s = startedState();
        StreamLink link;
        std::vector<std::vector<Byte>> chunks;
        for (const QString& hex : arrivals)
            chunks.push_back(hexBytes(hex));
        link.schedule(chunks, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, nrFlag);
        QCOMPARE(::roles(s), roles);
        QCOMPARE(int(link.arrivalsLeft()), arrivalsLeft);
    }

    void framesLeftWaitingAreReadBeforeTheNextHostMessageIsBuilt()
    {
        RunState s = startedState();
        StreamLink link;
        link.schedule({hexBytes(Own + " " + replyHex(1, 0x04, 2))}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(::roles(s), QStringLiteral("A"));
        link.schedule({hexBytes(replyHex(1, 0x01))}, false);
        PollAcceptor(s, link, 1);
        // The escrowed report read first orders the bill stacked.
        QCOMPARE(::roles(s), QStringLiteral("E A"));
        QCOMPARE(s.HostMsg(5), Byte{0x30});
        QCOMPARE(s.Idling, Byte{1});
        QCOMPARE(s.LastCredit, Byte{2});
    }

    void aFrameSplitAcrossPollsIsReadOn()
    {
        RunState s = startedState();
        StreamLink link;
        const auto frame = hexBytes(Own);
        link.schedule({{frame.begin(), frame.begin() + 4}}, false);
        PollAcceptor(s, link, 1);
        QCOMPARE(s.NRFlag, 1);
        link.schedule({{frame.begin() + 4, frame.end()}}, false);
        link.waitForInput({}, 7); // the rest arrives between the polls
        PollAcceptor(s, link, 1);
        QCOMPARE(::roles(s), QStringLiteral("E"));
        QCOMPARE(s.Escrowed, Byte{1});
    }

    void anAcceptorThatNeverEchoesTheBitIsAnsweredAfterFivePolls()
    {
        RunState s = startedState();
        s.Toggle = 1;
        StreamLink link;
        for (int poll = 1; poll <= BitEchoLimit + 1; ++poll) {
            link.schedule({hexBytes(Own)}, false);
            PollAcceptor(s, link, 1);
            QCOMPARE(s.NRFlag, poll <= BitEchoLimit ? 1 : 0);
            QCOMPARE(s.IgnoreBit, Byte(poll >= BitEchoLimit ? 1 : 0));
        }
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
