#include "faults.h"
#include "framing.h"
#include "simtestkit.h"

#include <QTest>

using namespace kora::sim;
using namespace simtest;

namespace {

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<Bytes> messagesIn(HostMessageReader& reader, const Bytes& stream, bool byteByByte)
{
    std::vector<Bytes> got;
    auto take = [&got](const std::vector<HostMessage>& ms) {
        for (const HostMessage& m : ms)
            got.emplace_back(m.bytes.begin(), m.bytes.end());
    };
    if (byteByByte)
        for (std::uint8_t b : stream)
            take(reader.feed(std::span<const std::uint8_t>(&b, 1)));
    else
        take(reader.feed(stream));
    return got;
}

} // namespace

class SimFramingTest : public QObject
{
    Q_OBJECT

private slots:
    void readsTheHostMessagesAHostSends_data()
    {
        QTest::addColumn<int>("ack");
        QTest::addColumn<int>("enables");
        QTest::addColumn<int>("orders");
        QTest::newRow("worked frame 02 08 10 7F 10 00 03 77") << 0 << 0x7F << 0x10;
        QTest::newRow("stack order") << 0 << 0x7F << 0x30;
        QTest::newRow("no bills, no escrow") << 1 << 0x00 << 0x00;
        QTest::newRow("bills 1 and 3") << 1 << 0x05 << 0x00;
    }
    void readsTheHostMessagesAHostSends()
    {
        QFETCH(int, ack);
        QFETCH(int, enables);
        QFETCH(int, orders);
        HostMessageReader reader;
        const Bytes sent = hostMessage(ack, std::uint8_t(enables), std::uint8_t(orders));
        const auto got = reader.feed(sent);
        QCOMPARE(got.size(), std::size_t{1});
        QCOMPARE(Bytes(got[0].bytes.begin(), got[0].bytes.end()), sent);
        QCOMPARE(int(got[0].ack()), ack);
        QCOMPARE(int(got[0].enables()), enables);
        QCOMPARE(got[0].escrowMode(), bool(orders & 0x10));
        QCOMPARE(got[0].stackOrder(), bool(orders & 0x20));
        QVERIFY(!got[0].asksTheImpossible());
    }

    void theWorkedFrameIsAccepted()
    {
        HostMessageReader reader;
        QCOMPARE(reader.feed(Bytes{0x02, 0x08, 0x10, 0x7F, 0x10, 0x00, 0x03, 0x77}).size(),
                 std::size_t{1});
    }

    void spoiledMessagesAreDropped_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("value");
        QTest::newRow("wrong checksum") << 7 << 0x76;
        QTest::newRow("wrong end byte") << 6 << 0x04;
        QTest::newRow("wrong length byte") << 1 << 0x09;
        QTest::newRow("byte 3 neither 10 nor 11") << 2 << 0x12;
    }
    void spoiledMessagesAreDropped()
    {
        QFETCH(int, index);
        QFETCH(int, value);
        Bytes m = hostMessage(0);
        m[std::size_t(index)] = std::uint8_t(value);
        HostMessageReader reader;
        QVERIFY(reader.feed(m).empty());
    }

    void resynchronisesOnTheNextStartAfterGarbage_data()
    {
        QTest::addColumn<bool>("byteByByte");
        QTest::newRow("all at once") << false;
        QTest::newRow("a byte at a time") << true;
    }
    void resynchronisesOnTheNextStartAfterGarbage()
    {
        QFETCH(bool, byteByByte);
        const Bytes first = hostMessage(0);
        const Bytes second = hostMessage(1, 0x05, 0x30);
        Bytes halfSent(first.begin(), first.begin() + 4);
        Bytes badChecksum = hostMessage(1);
        badChecksum[7] ^= 0x40;
        const Bytes stream = join({{0x55, 0x02, 0x02, 0x03, 0x7F},
                                   first,
                                   halfSent,
                                   badChecksum,
                                   {0x08, 0x02},
                                   second,
                                   {0x02}});
        HostMessageReader reader;
        const auto got = messagesIn(reader, stream, byteByByte);
        QCOMPARE(got.size(), std::size_t{2});
        QCOMPARE(got[0], first);
        QCOMPARE(got[1], second);
        QVERIFY(reader.discardedBytes() >= 5);
        // The trailing 02 may start a message, and here it does.
        QCOMPARE(reader.feed(Bytes(first.begin() + 1, first.end())).size(), std::size_t{1});
    }

    void unknownBitsOrContradictoryOrdersAskTheImpossible_data()
    {
        QTest::addColumn<int>("enables");
        QTest::addColumn<int>("orders");
        QTest::newRow("stack and return") << 0x7F << 0x70;
        QTest::newRow("bill 8") << 0xFF << 0x10;
        QTest::newRow("low order bits") << 0x7F << 0x11;
    }
    void unknownBitsOrContradictoryOrdersAskTheImpossible()
    {
        QFETCH(int, enables);
        QFETCH(int, orders);
        HostMessageReader reader;
        const auto got = reader.feed(hostMessage(0, std::uint8_t(enables), std::uint8_t(orders)));
        QCOMPARE(got.size(), std::size_t{1});
        QVERIFY(got[0].asksTheImpossible());
    }

    void readsAReplyGivenInHexAsGiven_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::newRow("as logged") << "02 0B 20 10 10 18 4B 01 03 03 7A" << true;
        QTest::newRow("any blanks between bytes") << " 020B2010\t10184B01 0303 7a " << true;
        QTest::newRow("a wrong checksum is still taken")
            << "02 0B 20 10 10 18 4B 01 03 03 00" << true;
        QTest::newRow("ten bytes") << "02 0B 20 10 10 18 4B 01 03 03" << false;
        QTest::newRow("twelve bytes") << "02 0B 20 10 10 18 4B 01 03 03 7A 00" << false;
        QTest::newRow("a blank inside a byte") << "0 2 0B 20 10 10 18 4B 01 03 03 7A" << false;
        QTest::newRow("not hex") << "02 0B 20 10 10 18 4B 01 03 03 7G" << false;
        QTest::newRow("a prefix") << "0x02 0B 20 10 10 18 4B 01 03 03 7A" << false;
    }
    void readsAReplyGivenInHexAsGiven()
    {
        QFETCH(QString, text);
        QFETCH(bool, taken);
        const auto reply = parseReplyHex(text.toStdString());
        QCOMPARE(reply.has_value(), taken);
        if (taken)
            QCOMPARE(Bytes(reply->begin(), reply->begin() + 10),
                     (Bytes{0x02, 0x0B, 0x20, 0x10, 0x10, 0x18, 0x4B, 0x01, 0x03, 0x03}));
    }

    void faultsShapeTheBytesOnTheLine()
    {
        const ReplyBytes reply = buildReply(1, {0x01, 0x10, 0x00, 0});
        const Bytes whole(reply.begin(), reply.end());
        std::minstd_rand noise;
        Faults f;
        QCOMPARE(shapeReply(reply, f, noise), whole);

        f.truncate = 4;
        QCOMPARE(shapeReply(reply, f, noise), Bytes(whole.begin(), whole.begin() + 4));
        f.truncate = 0;

        f.garbage = 3;
        const Bytes noisy = shapeReply(reply, f, noise);
        QCOMPARE(noisy.size(), std::size_t{14});
        QCOMPARE(Bytes(noisy.begin() + 3, noisy.end()), whole);
        for (std::uint8_t b : noisy)
            QVERIFY(b < 0x80);
        f.garbage = 0;

        f.corruptNext = 2;
        for (int i = 0; i < 2; ++i) {
            const Bytes bad = shapeReply(reply, f, noise);
            QVERIFY(bad[10] != replyChecksum(bad));
            QCOMPARE(Bytes(bad.begin(), bad.begin() + 10),
                     Bytes(whole.begin(), whole.begin() + 10));
        }
        QCOMPARE(shapeReply(reply, f, noise), whole);
    }

    void faultsDescribeThemselves()
    {
        Faults f;
        const auto now = Faults::Clock::now();
        QCOMPARE(f.text(now), std::string("paced"));
        f.late = Ms{600};
        f.garbage = 3;
        f.paced = false;
        f.silentUntil = now + Ms{2000};
        QCOMPARE(f.text(now), std::string("silent for 2000ms, late 600ms, garbage 3, unpaced"));
        QVERIFY(f.silentAt(now));
        QVERIFY(!f.silentAt(now + Ms{2000}));
    }
};

QTEST_APPLESS_MAIN(SimFramingTest)
#include "tst_simframing.moc"
