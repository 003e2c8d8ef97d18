#include "hexbytes.h"
#include "protocol/hostmessage.h"
#include "startedstate.h"

#include <QTest>

using namespace kora;

class HostMessageTest : public QObject
{
    Q_OBJECT

private:
    static std::vector<std::uint8_t> frame(const RunState& s)
    {
        return {s.HostMsg.raw().begin(), s.HostMsg.raw().end()};
    }

private slots:
    void buildsTheWorkedFrames_data()
    {
        QTest::addColumn<int>("toggle");
        QTest::addColumn<int>("enables"); // bit n-1 for bill n
        QTest::addColumn<int>("escrowBox");
        QTest::addColumn<int>("escrowed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all bills, box unchecked")
            << 0 << 0x7F << 0 << 0 << "02 08 10 7F 00 00 03 67";
        QTest::newRow("all bills, box checked") << 1 << 0x7F << 1 << 0 << "02 08 11 7F 10 00 03 76";
        QTest::newRow("bill in escrow is stacked")
            << 0 << 0x7F << 1 << 1 << "02 08 10 7F 30 00 03 57";
        QTest::newRow("bills 1 and 3 only") << 1 << 0x05 << 0 << 0 << "02 08 11 05 00 00 03 1C";
        QTest::newRow("all bills disabled") << 0 << 0x00 << 1 << 0 << "02 08 10 00 10 00 03 08";
        QTest::newRow("stack order without escrow mode")
            << 0 << 0x7F << 0 << 1 << "02 08 10 7F 20 00 03 47";
    }
    void buildsTheWorkedFrames()
    {
        QFETCH(int, toggle);
        QFETCH(int, enables);
        QFETCH(int, escrowBox);
        QFETCH(int, escrowed);
        QFETCH(QString, expected);

        RunState s = startedState();
        s.Toggle = static_cast<Byte>(toggle);
        for (int n = 1; n <= 7; ++n)
            s.BillEnable(n) = (enables >> (n - 1)) & 1;
        s.Escrowed = static_cast<Byte>(escrowed);
        BuildHostMessage(s, escrowBox);

        QCOMPARE(frame(s), hexBytes(expected));
        QCOMPARE(s.Chk, s.HostMsg(8));
    }

    void senditCarriesTheEightBytesInOrder()
    {
        RunState s = startedState();
        s.Toggle = 1;
        BuildHostMessage(s, 1);
        QCOMPARE(s.Sendit.size(), std::size_t{8});
        for (int i = 1; i <= 8; ++i)
            QCOMPARE(static_cast<Byte>(s.Sendit[static_cast<std::size_t>(i - 1)]), s.HostMsg(i));
    }

    void anEnableEntryOtherThanOneCountsAsDisabled()
    {
        RunState s = startedState();
        s.BillEnable(2) = 2;
        s.BillEnable(5) = 255;
        BuildHostMessage(s, 0);
        QCOMPARE(s.HostMsg(4), Byte{0x6D});
    }

    void allowZeroOrdersReturnAndOtherValuesOrderNothing()
    {
        RunState s = startedState();
        s.Escrowed = 1;
        s.Allow = 0;
        BuildHostMessage(s, 1);
        QCOMPARE(s.HostMsg(5), Byte{0x50});
        s.Allow = 7;
        BuildHostMessage(s, 1);
        QCOMPARE(s.HostMsg(5), Byte{0x10});
    }

    void escrowedOtherThanOneOrdersNothing()
    {
        RunState s = startedState();
        s.Escrowed = 2;
        BuildHostMessage(s, 1);
        QCOMPARE(s.HostMsg(5), Byte{0x10});
    }

    void bytesOneSevenAndEightStayOutOfTheChecksum()
    {
        // The checksum is the XOR of bytes 2-6 alone: recompute it from them.
        RunState s = startedState();
        for (int toggle = 0; toggle <= 1; ++toggle) {
            for (int enables = 0; enables < 128; enables += 9) {
                s.Toggle = static_cast<Byte>(toggle);
                for (int n = 1; n <= 7; ++n)
                    s.BillEnable(n) = (enables >> (n - 1)) & 1;
                BuildHostMessage(s, enables & 1);
                const Byte x =
                    s.HostMsg(2) ^ s.HostMsg(3) ^ s.HostMsg(4) ^ s.HostMsg(5) ^ s.HostMsg(6);
                QCOMPARE(s.HostMsg(8), x);
                QCOMPARE(s.HostMsg(1), Byte{0x02});
                QCOMPARE(s.HostMsg(7), Byte{0x03});
            }
        }
    }

    void everyByteFitsASevenBitLine()
    {
        RunState s = startedState();
        for (int escrowed = 0; escrowed <= 1; ++escrowed)
            for (int allow = 0; allow <= 1; ++allow) {
                s.Escrowed = static_cast<Byte>(escrowed);
                s.Allow = static_cast<Byte>(allow);
                BuildHostMessage(s, 1);
                for (Byte b : s.HostMsg.raw())
                    QVERIFY(b < 0x80);
            }
    }
};

QTEST_APPLESS_MAIN(HostMessageTest)
#include "tst_hostmessage.moc"
