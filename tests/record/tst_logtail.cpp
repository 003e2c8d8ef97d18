// The end of a session log read by a poller that restarts on the same
// device: the last good frame, the bit to send next, whether the acceptor
// echoes it and the escrow mode its last stacked report came under.
#include "record/logtail.h"
#include "replyframes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kora;

namespace {

const QString Header = "time,kind,poll,outcome,host,reply,reply_ms,flags,events";

QString start(const QString& device, const QString& escrow = "on", const QString& more = {})
{
    return "2026-12-08T10:00:00.000+01:00,start,0,,,,,,\"port 1 (" + device +
           "), 9600, E, 7, 1, poll every 250 ms, escrow mode " + escrow +
           ", bills 1 2 3 4 5 6 7 enabled, escrowed bills stacked, kora232 1.4.0" + more + '"';
}

QString setting(const QString& events)
{
    return "2026-12-08T10:00:01.000+01:00,start,1,,,,,," + events;
}

// A poll whose host message carries `ack`; `reply` is empty for no reply.
QString poll(int ack, const QString& reply, const QString& events = {})
{
    const QString outcome = reply.isEmpty() ? "no-reply" : "good";
    return "2026-12-08T10:00:02.000+01:00,poll,2," + outcome + ',' +
           (ack ? "02 08 11 7F 10 00 03 76 ," : "02 08 10 7F 10 00 03 77 ,") +
           (reply.isEmpty() ? QString() : reply + ' ') + ',' + (reply.isEmpty() ? "" : "12.0") +
           ",Idling,\"" + events + '"';
}

const QString Idle0 = replyHex(0, 0x01), Idle1 = replyHex(1, 0x01);
const QString Stacked0 = replyHex(0, 0x10, 3), Stacked1 = replyHex(1, 0x10, 3);
const QString Counted = "bill 3 stacked, counted, count 1, total 1";
const QString SameReport = "bill 3 stacked, not counted: same-report";

} // namespace

class LogTailTest : public QObject
{
    Q_OBJECT

private slots:
    void theTailGivesWhatAPollerNeedsToCarryOn_data()
    {
        QTest::addColumn<QStringList>("lines"); // none: no file at all
        QTest::addColumn<int>("tailLines");     // the bound: this many last lines; 0 for all
        QTest::addColumn<QString>("text");      // empty: nothing to carry on from
        QTest::addColumn<int>("escrow");        // or, for nothing, -1
        QTest::addColumn<QString>("why");

        const QString dev = "/dev/ttyUSB0";
        QTest::newRow("the last answer, and the bit flipped after it")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, Stacked1, Counted)} << 0
            << "frame " + Stacked1 + ", bit 0" << 1 << "";
        QTest::newRow("a poll left unanswered keeps its bit")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, {})} << 0
            << "frame " + Idle0 + ", bit 1" << 1 << "";
        QTest::newRow("frames before the message and with the other bit come before the answer")
            << QStringList{Header, start(dev),
                           poll(1, Idle1,
                                "frame before the host message " + Stacked0 + ": " + Counted +
                                    ", frame with the other bit " + Idle0 + ": read")}
            << 0 << "frame " + Idle1 + ", bit 0" << 1 << "";
        QTest::newRow("a frame with the other bit in an unanswered poll is the last read")
            << QStringList{Header, start(dev), poll(0, Idle0),
                           poll(1, {}, "frame with the other bit " + Stacked0 + ": " + Counted)}
            << 0 << "frame " + Stacked0 + ", bit 1" << 1 << "";
        QTest::newRow("a torn last row is passed over")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, Idle1).chopped(2)} << 0
            << "frame " + Idle0 + ", bit 1" << 1 << "";
        QTest::newRow("a report that stays up keeps the mode it first came under")
            << QStringList{Header, start(dev), poll(0, Stacked0, Counted),
                           setting("escrow mode now off"), poll(1, Stacked1, SameReport)}
            << 0 << "frame " + Stacked1 + ", bit 0" << 1 << "";
        QTest::newRow("a fresh report comes under the mode in force")
            << QStringList{Header,
                           start(dev),
                           poll(0, Stacked0, Counted),
                           setting("escrow mode now off"),
                           poll(1, Idle1),
                           poll(0, Stacked0, Counted)}
            << 0 << "frame " + Stacked0 + ", bit 1" << 0 << "";
        QTest::newRow("any other frame, the mode when it was read")
            << QStringList{Header, start(dev, "off"), poll(0, Idle0)} << 0
            << "frame " + Idle0 + ", bit 1" << 0 << "";
        QTest::newRow("an acceptor that does not echo the bit, said in a poll")
            << QStringList{Header, start(dev),
                           poll(0, Idle1, "the acceptor does not echo the acknowledgement bit")}
            << 0 << "frame " + Idle1 + ", bit 1, the acceptor does not echo the bit" << 1 << "";
        QTest::newRow("an acceptor that does not echo the bit, said by a start row")
            << QStringList{Header,
                           start(dev, "on",
                                 ", continues from the log: frame " + Idle0 +
                                     ", bit 1, the acceptor does not echo the bit"),
                           poll(1, Idle0)}
            << 0 << "frame " + Idle0 + ", bit 0, the acceptor does not echo the bit" << 1 << "";
        QTest::newRow("a file that begins with a row, not the header")
            << QStringList{poll(0, Idle0), poll(1, Idle1)} << 0 << "frame " + Idle1 + ", bit 0" << 1
            << "";
        QTest::newRow("another device named by the last start row")
            << QStringList{Header, start(dev), poll(0, Idle0), start("/dev/ttyUSB1"),
                           poll(1, Idle1)}
            << 0 << "" << -1 << "another device, /dev/ttyUSB1";
        QTest::newRow("no start row in the tail: the device is taken to be the same")
            << QStringList{Header, start("/dev/ttyUSB1"), poll(0, Idle0), poll(1, Idle1)} << 1
            << "frame " + Idle1 + ", bit 0" << 1 << "";
        QTest::newRow("no good frame in the tail")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, {}), poll(1, {})} << 2 << ""
            << -1 << "holds no good frame";
        QTest::newRow("no file") << QStringList{} << 0 << "" << -1 << "cannot read";
    }

    void theTailGivesWhatAPollerNeedsToCarryOn()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, tailLines);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        QFile file(path);
        if (!lines.isEmpty()) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QString last = lines.takeLast(); // a row left torn has no line end
            file.write((lines.join("\r\n") + (lines.isEmpty() ? "" : "\r\n") + last +
                        (last.endsWith('"') ? "\r\n" : ""))
                           .toUtf8());
            file.close();
            lines << last;
        }
        std::size_t bound = LogTailBytes;
        if (tailLines > 0)
            bound = static_cast<std::size_t>(
                lines.mid(lines.size() - tailLines).join("\r\n").size() + 2);
        std::string reason;
        const auto c = ContinuationFromLog(path.toStdString(), "/dev/ttyUSB0", &reason, bound);
        QFETCH(QString, text);
        QFETCH(int, escrow);
        QFETCH(QString, why);
        QCOMPARE(c ? QString::fromStdString(c->text) : QString(), text);
        QCOMPARE(c ? c->escrowAtReport : -1, escrow);
        QVERIFY2(QString::fromStdString(reason).contains(why), reason.c_str());
        if (c)
            QCOMPARE(c->ignoresBit, text.endsWith("does not echo the bit"));
    }
};

QTEST_APPLESS_MAIN(LogTailTest)
#include "tst_logtail.moc"
