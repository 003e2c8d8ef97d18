#include "hexbytes.h"
#include "protocol/reply.h"

#include <QTest>

using namespace kora;

namespace {

RunState withReply(const QString& hex)
{
    RunState s;
    const auto bytes = hexBytes(hex);
    std::copy(bytes.begin(), bytes.end(), s.AcceptorMsg.raw().begin());
    return s;
}

// A good reply with the given state, event and byte-6 values.
RunState goodReply(Byte state, Byte events, Byte byte6)
{
    RunState s;
    auto& r = s.AcceptorMsg;
    r(1) = 0x02, r(2) = 0x0B, r(3) = 0x20, r(4) = state, r(5) = events, r(6) = byte6;
    r(7) = 0x41, r(8) = 0x01, r(9) = 0x03, r(10) = 0x03;
    r(11) = r(2) ^ r(3) ^ r(4) ^ r(5) ^ r(6) ^ r(7) ^ r(8) ^ r(9);
    return s;
}

std::vector<Byte> flags(const RunState& s)
{
    return {s.Idling,  s.Accepting, s.Escrowed, s.Stacking, s.Stacked,
            s.Returning, s.Returned, s.Cheated,  s.Rejected, s.Jammed,
            s.Full,    s.Cassette,  s.Power,    s.Invalid,  s.Failure};
}

} // namespace

class ReplyTest : public QObject
{
    Q_OBJECT

private slots:
    void checksumAndFrameTests_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("checksum");
        QTest::addColumn<bool>("framed");
        QTest::newRow("stacked bill 3") << "02 0B 20 10 10 18 41 01 03 03 70" << true << true;
        QTest::newRow("all zero: sums, no frame") << "00 00 00 00 00 00 00 00 00 00 00" << true << false;
        QTest::newRow("wrong last byte") << "02 0B 20 10 10 18 41 01 03 03 71" << false << true;
        QTest::newRow("odd start byte") << "FF 0B 20 10 10 18 41 01 03 03 70" << true << false;
        QTest::newRow("odd end byte") << "02 0B 20 10 10 18 41 01 03 77 70" << true << false;
        QTest::newRow("wrong length byte, sum fixed") << "02 0C 20 10 10 18 41 01 03 03 77" << true << false;
        QTest::newRow("byte 2 counts") << "02 0C 20 10 10 18 41 01 03 03 70" << false << false;
        QTest::newRow("byte 9 counts") << "02 0B 20 10 10 18 41 01 04 03 70" << false << true;
    }
    void checksumAndFrameTests()
    {
        QFETCH(QString, reply);
        QFETCH(bool, checksum);
        QFETCH(bool, framed);
        RunState s = withReply(reply);
        QCOMPARE(ReplyChecksumMatches(s), checksum);
        QCOMPARE(ReplyFramed(s), framed);
        const auto& r = s.AcceptorMsg;
        QCOMPARE(s.Chk, Byte(r(2) ^ r(3) ^ r(4) ^ r(5) ^ r(6) ^ r(7) ^ r(8) ^ r(9)));
    }

    void decodesTheWorkedExample()
    {
        RunState s = withReply("02 0B 20 10 10 18 41 01 03 03 70");
        QVERIFY(ReplyChecksumMatches(s));
        DecodeReply(s);
        std::vector<Byte> expected(15, 0);
        expected[4] = 1;  // Stacked
        expected[11] = 1; // Cassette
        QCOMPARE(flags(s), expected);
        QCOMPARE(s.Credit, Byte{3});
        QCOMPARE(s.LastCredit, Byte{3});
    }

    void eachBitSetsItsOwnFlag()
    {
        const struct { int byte; int bit; int flag; } map[] = {
            {4, 0, 0}, {4, 1, 1}, {4, 2, 2}, {4, 3, 3}, {4, 4, 4}, {4, 5, 5}, {4, 6, 6},
            {5, 0, 7}, {5, 1, 8}, {5, 2, 9}, {5, 3, 10}, {5, 4, 11},
            {6, 0, 12}, {6, 1, 13}, {6, 2, 14}};
        for (const auto& m : map) {
            RunState s = goodReply(0, 0, 0);
            s.AcceptorMsg(m.byte) = static_cast<Byte>(1u << m.bit);
            DecodeReply(s);
            std::vector<Byte> expected(15, 0);
            expected[static_cast<std::size_t>(m.flag)] = 1;
            QCOMPARE(flags(s), expected);
        }
    }

    void ignoredBitsChangeNothing()
    {
        RunState s = goodReply(0x80, 0xE0, 0xC0);
        DecodeReply(s);
        QCOMPARE(flags(s), std::vector<Byte>(15, 0));
        QCOMPARE(s.Credit, Byte{0});
    }

    void creditComesFromBitsThreeToFive_data()
    {
        QTest::addColumn<int>("byte6");
        QTest::addColumn<int>("credit");
        for (int c = 0; c <= 7; ++c)
            for (int high : {0x00, 0x40, 0x80, 0xC0})
                QTest::addRow("credit %d, high bits %02X", c, high) << (c << 3 | high | 0x07) << c;
    }
    void creditComesFromBitsThreeToFive()
    {
        QFETCH(int, byte6);
        QFETCH(int, credit);
        RunState s = goodReply(0, 0, static_cast<Byte>(byte6));
        DecodeReply(s);
        QCOMPARE(int(s.Credit), credit);
    }

    void lastCreditSurvivesAZeroCredit()
    {
        RunState s = goodReply(0x10, 0x10, 0x28);
        DecodeReply(s);
        QCOMPARE(s.LastCredit, Byte{5});
        s = [&] { RunState next = goodReply(0x01, 0x10, 0x00); next.LastCredit = s.LastCredit; return next; }();
        DecodeReply(s);
        QCOMPARE(s.Credit, Byte{0});
        QCOMPARE(s.LastCredit, Byte{5});
        QCOMPARE(s.Idling, Byte{1});
        QCOMPARE(s.Stacked, Byte{0});
    }

    void aNewCreditReplacesTheLastOne()
    {
        RunState s = goodReply(0x10, 0x10, 0x08);
        s.LastCredit = 6;
        DecodeReply(s);
        QCOMPARE(s.LastCredit, Byte{1});
    }
};

QTEST_APPLESS_MAIN(ReplyTest)
#include "tst_reply.moc"
