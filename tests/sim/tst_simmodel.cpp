#include "acceptormodel.h"
#include "simtestkit.h"

#include <QTest>

using namespace kora::sim;
using namespace simtest;

namespace {

// Reply byte 4 and the credit in words, decoded here rather than by the
// simulator: "idling", "escrowed 3", "idling rejected".
QString seen(const Bytes& r)
{
    static const char* const kStates[] = {"idling",  "accepting", "escrowed", "stacking",
                                          "stacked", "returning", "returned"};
    QStringList parts;
    for (int bit = 0; bit < 7; ++bit)
        if (r.at(3) & (1 << bit))
            parts << kStates[bit];
    if (creditOf(r) != 0)
        parts << QString::number(creditOf(r));
    if (r.at(4) & 0x02)
        parts << "rejected";
    return parts.join(' ');
}

} // namespace

namespace kora::sim {

char* toString(const Outcomes& o)
{
    return QTest::toString(QString("stacked=%1 returned=%2 rejected=%3 jammed=%4 cheated=%5")
                               .arg(o.stacked)
                               .arg(o.returned)
                               .arg(o.rejected)
                               .arg(o.jammed)
                               .arg(o.cheated));
}

} // namespace kora::sim

namespace {

// A host polling the model with good replies, its acknowledgement bit
// flipping after each.
struct Host
{
    AcceptorModel model{Ms{100}};
    HostMessageReader reader;
    int ack = 0;
    std::uint8_t enables = 0x7F;
    bool escrowMode = true;

    AcceptorModel::Answer send(int withAck, std::uint8_t orders)
    {
        const auto orderByte = static_cast<std::uint8_t>((escrowMode ? EscrowMode : 0) | orders);
        const auto messages = reader.feed(hostMessage(withAck, enables, orderByte));
        if (messages.size() != 1)
            throw std::logic_error("the reader did not take a good host message");
        return model.answer(messages.front());
    }
    Bytes poll(std::uint8_t orders = 0)
    {
        const auto a = send(ack, orders);
        ack ^= 1;
        return {a.reply.begin(), a.reply.end()};
    }
    // The previous message again, as after a lost reply.
    AcceptorModel::Answer repeat(std::uint8_t orders = 0) { return send(ack ^ 1, orders); }
    QString pollSeen(std::uint8_t orders = 0) { return seen(poll(orders)); }
    void step() { model.advance(model.stepTime()); }
    void pastPowerUp()
    {
        for (int i = 0; i < kPowerUpReplies; ++i)
            poll();
    }
};

} // namespace

class SimModelTest : public QObject
{
    Q_OBJECT

private slots:
    void firstRepliesCarryThePowerUpBitAndTheCassette()
    {
        Host host;
        for (int i = 0; i < kPowerUpReplies; ++i) {
            const Bytes r = host.poll();
            QCOMPARE(r.at(3), std::uint8_t{0x01});
            QCOMPARE(r.at(4), std::uint8_t{0x10});
            QCOMPARE(r.at(5), std::uint8_t{0x01});
        }
        QCOMPARE(host.poll().at(5), std::uint8_t{0x00});
    }

    void repliesHaveTheLayoutAndChecksumOfAnAcceptor()
    {
        Host host;
        for (int i = 0; i < 4; ++i) {
            const int ack = host.ack;
            const Bytes r = host.poll();
            QCOMPARE(r.size(), std::size_t{11});
            QCOMPARE(r[0], std::uint8_t{0x02});
            QCOMPARE(r[1], std::uint8_t{0x0B});
            QCOMPARE(r[2], std::uint8_t(0x20 | ack));
            QCOMPARE(r[9], std::uint8_t{0x03});
            QCOMPARE(r[10], replyChecksum(r));
            for (std::uint8_t b : r)
                QVERIFY(b < 0x80);
        }
    }

    void knownRepliesMatchByteForByte()
    {
        // Worked out by hand: idling, cassette, power-up, model 4B 01 03.
        const ReplyContent powerUp{0x01, 0x10, 0x01, 0};
        const ReplyBytes a = buildReply(0, powerUp);
        QCOMPARE(Bytes(a.begin(), a.end()),
                 (Bytes{0x02, 0x0B, 0x20, 0x01, 0x10, 0x01, 0x4B, 0x01, 0x03, 0x03, 0x72}));
        // Stacked, cassette, credit 7 in bits 3-5 of byte 6.
        const ReplyBytes b = buildReply(1, {0x10, 0x10, 0x00, 7});
        QCOMPARE(Bytes(b.begin(), b.end()),
                 (Bytes{0x02, 0x0B, 0x21, 0x10, 0x10, 0x38, 0x4B, 0x01, 0x03, 0x03, 0x5B}));
    }

    void aStackedBillGoesThroughEveryStateAndIsCreditedOnce()
    {
        Host host;
        host.pastPowerUp();
        host.model.insert(3);
        QStringList steps;
        steps << host.pollSeen();
        host.step();
        steps << host.pollSeen() << host.pollSeen(); // held in escrow while no order comes
        steps << host.pollSeen(StackOrder);          // ordered stacked
        steps << host.pollSeen();
        host.step();
        steps << host.pollSeen() << host.pollSeen() << host.pollSeen();
        QCOMPARE(steps, (QStringList{"accepting", "escrowed 3", "escrowed 3", "stacking",
                                     "stacking", "stacked 3", "idling", "idling"}));
        QCOMPARE(host.model.tally().of(3), 1);
        QCOMPARE(host.model.tally().total(), 1);
    }

    void aStackedBillWaitsForTheHostHoweverLongItTakes()
    {
        Host host;
        host.escrowMode = false; // the acceptor learns it from the host's messages
        host.pastPowerUp();
        host.model.insert(6);
        host.model.advance(Ms{60'000});
        QCOMPARE(host.pollSeen(), QString("stacked 6"));
        QCOMPARE(host.pollSeen(), QString("idling"));
    }

    void aReturnedBillGoesBackAndIsNeverCredited()
    {
        Host host;
        host.pastPowerUp();
        host.model.insert(5);
        QStringList steps;
        steps << host.pollSeen();
        host.step();
        steps << host.pollSeen() << host.pollSeen(ReturnOrder) << host.pollSeen();
        host.step();
        steps << host.pollSeen() << host.pollSeen();
        QCOMPARE(steps, (QStringList{"accepting", "escrowed 5", "returning", "returning",
                                     "returned", "idling"}));
        QCOMPARE(host.model.tally().total(), 0);
    }

    void aDisabledBillIsRejectedOnceAndTheAcceptorIdles()
    {
        Host host;
        host.enables = 0x7F & ~(1 << (4 - 1));
        host.pastPowerUp();
        host.model.insert(4);
        QCOMPARE(host.pollSeen(), QString("accepting"));
        host.step();
        QCOMPARE(host.pollSeen(), QString("idling rejected"));
        QCOMPARE(host.pollSeen(), QString("idling"));
        QCOMPARE(host.model.tally().total(), 0);
    }

    void withReturnStackedAReturnedBillShowsBothBitsAndIsTalliedReturned()
    {
        Host host;
        host.pastPowerUp();
        host.model.setReturnStacked(true);
        host.model.insert(5);
        host.step();
        QCOMPARE(host.pollSeen(), QString("escrowed 5"));
        QCOMPARE(host.pollSeen(ReturnOrder), QString("returning"));
        host.step();
        QCOMPARE(host.pollSeen(), QString("stacked returned"));
        QCOMPARE(host.pollSeen(), QString("idling"));
        QCOMPARE(host.model.tally().total(), 0);
        QCOMPARE(host.model.tally().outcomes(), (Outcomes{.returned = 1}));
    }

    void aRejectedDenominationIsRefusedAloneUntilAnotherOrNoneIsNamed()
    {
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        // Replies that carried the rejected bit while the bills went through.
        const auto feed = [&host](std::initializer_list<int> bills) {
            int rejected = 0;
            for (int bill : bills)
                host.model.insert(bill);
            for (std::size_t i = 0; i < 3 * bills.size(); ++i) {
                host.step();
                rejected += (host.poll().at(4) & 0x02) != 0;
            }
            return rejected;
        };
        host.model.setReject(4);
        QCOMPARE(feed({4, 3, 4}), 2);
        host.model.setReject(3);
        QCOMPARE(feed({4, 3}), 1);
        host.model.setReject(0);
        QCOMPARE(feed({3}), 0);
        QCOMPARE(host.model.tally().text(),
                 std::string("bill1=0 bill2=0 bill3=2 bill4=1 bill5=0 bill6=0 bill7=0 total=3"));
        QCOMPARE(host.model.tally().outcomes(), (Outcomes{.stacked = 3, .rejected = 3}));
    }

    void withoutEscrowModeABillGoesStraightOnToStacking()
    {
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        host.model.insert(2);
        QStringList steps;
        steps << host.pollSeen();
        host.step();
        steps << host.pollSeen();
        host.step();
        steps << host.pollSeen() << host.pollSeen();
        QCOMPARE(steps, (QStringList{"accepting", "stacking", "stacked 2", "idling"}));
        QCOMPARE(host.model.tally().of(2), 1);
    }

    void aRepeatedAckBitGetsTheLastReplyAgainSoNoCreditIsLostOrDoubled()
    {
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        host.model.insert(7);
        host.step();
        host.step();
        const Bytes stacked = host.poll();
        QCOMPARE(seen(stacked), QString("stacked 7"));
        host.model.advance(Ms{1000});
        for (int i = 0; i < 3; ++i) {
            const auto again = host.repeat();
            QVERIFY(again.repeated);
            QCOMPARE(Bytes(again.reply.begin(), again.reply.end()), stacked);
        }
        QCOMPARE(host.pollSeen(), QString("idling"));
        QCOMPARE(host.model.tally().of(7), 1);
    }

    void aRepeatedStackOrderIsNotTakenTwice()
    {
        Host host;
        host.pastPowerUp();
        host.model.insert(1);
        host.step();
        QCOMPARE(host.pollSeen(), QString("escrowed 1"));
        QCOMPARE(host.pollSeen(StackOrder), QString("stacking"));
        host.step();
        // The host lost the "stacking" reply and sends its stack order again.
        const auto again = host.repeat(StackOrder);
        QVERIFY(again.repeated);
        QCOMPARE(seen({again.reply.begin(), again.reply.end()}), QString("stacking"));
        QCOMPARE(host.pollSeen(), QString("stacked 1"));
        QCOMPARE(host.model.tally().of(1), 1);
    }

    void billsInsertedWhileBusyWaitTheirTurnAndAreTallied()
    {
        Host host;
        host.escrowMode = false;
        host.enables = 0x7F & ~(1 << (5 - 1));
        host.pastPowerUp();
        for (int bill : {1, 5, 1, 7})
            host.model.insert(bill);
        for (int i = 0; i < 12; ++i) {
            host.step();
            host.poll();
        }
        QCOMPARE(host.model.tally().of(1), 2);
        QCOMPARE(host.model.tally().of(5), 0);
        QCOMPARE(host.model.tally().of(7), 1);
        QCOMPARE(host.model.tally().total(), 3);
        QCOMPARE(host.model.tally().text(),
                 std::string("bill1=2 bill2=0 bill3=0 bill4=0 bill5=0 bill6=0 bill7=1 total=3"));
    }

    void aStickyStackedReportStaysUpForNMoreFreshRepliesAndIsTalliedOnce_data()
    {
        QTest::addColumn<int>("more");
        QTest::newRow("not sticky") << 0;
        QTest::newRow("sticky 1") << 1;
        QTest::newRow("sticky 3") << 3;
    }
    void aStickyStackedReportStaysUpForNMoreFreshRepliesAndIsTalliedOnce()
    {
        QFETCH(int, more);
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        host.model.setSticky(more);
        for (int bill : {6, 2}) // only the next report stays up
            host.model.insert(bill);
        host.step();
        host.step();
        QStringList steps;
        for (int i = 0; i < more + 2; ++i)
            steps << host.pollSeen();
        host.step();
        host.step();
        steps << host.pollSeen() << host.pollSeen();
        QStringList expected;
        for (int i = 0; i <= more; ++i)
            expected << "stacked 6";
        expected << "accepting"
                 << "stacked 2"
                 << "idling";
        QCOMPARE(steps, expected);
        QCOMPARE(host.model.tally().of(6), 1);
        QCOMPARE(host.model.tally().total(), 2);
    }

    void stickyOffEndsAStackedReportHeldUp()
    {
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        host.model.setSticky(5);
        host.model.insert(4);
        host.step();
        host.step();
        QCOMPARE(host.pollSeen(), QString("stacked 4"));
        host.model.setSticky(0);
        QCOMPARE(host.pollSeen(), QString("idling"));
        QCOMPARE(host.model.tally().of(4), 1);
    }

    void inQueueModeARepeatedAckBitIsActedOnAndAnsweredAfresh_data()
    {
        QTest::addColumn<bool>("queue");
        QTest::newRow("usual: the last reply again") << false;
        QTest::newRow("queue: a fresh reply") << true;
    }
    void inQueueModeARepeatedAckBitIsActedOnAndAnsweredAfresh()
    {
        QFETCH(bool, queue);
        Host host;
        host.model.setQueue(queue);
        host.pastPowerUp();
        host.model.insert(1);
        host.step();
        QCOMPARE(host.pollSeen(), QString("escrowed 1"));
        const auto again = host.repeat(StackOrder);
        QCOMPARE(again.repeated, !queue);
        // Queueing, it tells what the order found, then acts on it.
        QCOMPARE(seen({again.reply.begin(), again.reply.end()}), QString("escrowed 1"));
        QCOMPARE(host.pollSeen(), QString(queue ? "stacking" : "escrowed 1"));
    }

    void aResumedAcceptorRepeatsTheGivenReplyToTheGivenBitAndTalliesNothing()
    {
        // Stacked with credit 3, and a checksum no acceptor would send.
        const ReplyBytes given{0x02, 0x0B, 0x21, 0x10, 0x10, 0x18, 0x4B, 0x01, 0x03, 0x03, 0x00};
        Host host;
        host.model.resume({1, given});
        const auto a = host.send(1, 0);
        QVERIFY(a.repeated);
        QCOMPARE(a.reply, given);
        QCOMPARE(host.pollSeen(), QString("idling"));
        QCOMPARE(host.model.tally().total(), 0);
    }

    void aBillOutsideOneToSevenIsRefused()
    {
        AcceptorModel model;
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, model.insert(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, model.insert(8));
    }

    void aJammedBillIsHeldUntilClearedAndThenTakenOutNotStacked()
    {
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        host.model.insert(3);
        host.model.insert(5); // waits behind it, untouched by the jam
        host.model.jam();
        host.model.advance(Ms{5000});
        const Bytes jammed = host.poll();
        QCOMPARE(seen(jammed), QString("accepting"));
        QVERIFY(jammed.at(4) & 0x04);
        QVERIFY(host.poll().at(4) & 0x04); // until cleared, not once
        host.model.clear();
        QStringList steps;
        for (int i = 0; i < 3; ++i) {
            steps << host.pollSeen();
            host.step();
        }
        QCOMPARE(steps, (QStringList{"accepting", "stacking", "stacked 5"}));
        QCOMPARE(host.model.tally().of(3), 0);
        QCOMPARE(host.model.tally().outcomes(), (Outcomes{.stacked = 1, .jammed = 1}));
    }

    void eventsOnCommandShowInTheirBits_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("byte"); // 4 or 5, counted from 0 as in the test's Bytes
        QTest::addColumn<int>("bit");
        QTest::addColumn<bool>("once"); // reported in one reply only
        QTest::newRow("cheat") << "cheat" << 4 << 0x01 << true;
        QTest::newRow("stacker full") << "full" << 4 << 0x08 << false;
        QTest::newRow("invalid command") << "invalid" << 5 << 0x02 << true;
        QTest::newRow("failure") << "failure" << 5 << 0x04 << false;
    }
    void eventsOnCommandShowInTheirBits()
    {
        QFETCH(QString, what);
        QFETCH(int, byte);
        QFETCH(int, bit);
        QFETCH(bool, once);
        Host host;
        host.pastPowerUp();
        QVERIFY(!(host.poll().at(byte) & bit));
        if (what == "cheat")
            host.model.cheat();
        else if (what == "full")
            host.model.setStackerFull(true);
        else if (what == "invalid")
            host.model.invalidCommand();
        else
            host.model.fail();
        QVERIFY(host.poll().at(byte) & bit);
        QCOMPARE(!(host.poll().at(byte) & bit), once);
        host.model.clear();
        QVERIFY(!(host.poll().at(byte) & bit));
    }

    void aRemovedCassetteClearsItsBitAndBillsAreRejected()
    {
        Host host;
        host.pastPowerUp();
        host.model.setCassette(false);
        QCOMPARE(host.poll().at(4) & 0x10, 0);
        host.model.insert(2);
        host.step();
        QCOMPARE(host.pollSeen(), QString("idling rejected"));
        host.model.setCassette(true);
        QCOMPARE(host.poll().at(4) & 0x10, 0x10);
    }

    void aStackAndReturnOrderTogetherIsAnInvalidCommand()
    {
        Host host;
        host.pastPowerUp();
        host.model.insert(2);
        host.step();
        host.poll();
        const Bytes r = host.poll(StackOrder | ReturnOrder);
        QCOMPARE(seen(r), QString("escrowed 2"));
        QCOMPARE(r.at(5) & 0x02, 0x02);
    }

    void powerCyclingForgetsTheBillButNotTheTally()
    {
        Host host;
        host.escrowMode = false;
        host.pastPowerUp();
        host.model.insert(4);
        host.step();
        host.step();
        host.poll();
        host.model.insert(5);
        host.model.powerUp();
        const Bytes r = host.poll();
        QCOMPARE(seen(r), QString("idling"));
        QCOMPARE(r.at(5) & 0x01, 0x01);
        QCOMPARE(host.model.tally().of(4), 1);
    }
};

QTEST_APPLESS_MAIN(SimModelTest)
#include "tst_simmodel.moc"
