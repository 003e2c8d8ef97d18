// The end of a session log read by a poller that restarts on the same
// adapter: the last good frame, the bit to send next, whether the acceptor
// echoes it and the escrow mode its last stacked report came under; refused
// for a log another adapter wrote.
#include "record/logrows.h"
#include "record/logtail.h"
#include "replyframes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kora;

namespace {

const QString Header = "time,kind,poll,outcome,host,reply,reply_ms,flags,events";

QString startEvents(const QString& device, const QString& escrow = "on", const QString& more = {})
{
    return "port 1 (" + device + "), 9600, E, 7, 1, poll every 250 ms, escrow mode " + escrow +
           ", bills 1 2 3 4 5 6 7 enabled, escrowed bills stacked, kora232 1.4.0" + more;
}

QString start(const QString& device, const QString& escrow = "on", const QString& more = {})
{
    return "2026-12-08T10:00:00.000+01:00,start,0,,,,,,\"" + startEvents(device, escrow, more) +
           '"';
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
const QString Dev = "/dev/ttyUSB0";
const LogOwner Owner{Dev.toStdString(), "usb 0403:6001 serial A10K2"};
const QString OwnAdapter = "; adapter usb 0403:6001 serial A10K2";

// The file's rows, CRLF ended; a last row that does not end with a quote is
// left torn, with no line end.
void writeRows(const QString& path, const QStringList& lines)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QString last = lines.last();
    file.write((lines.mid(0, lines.size() - 1).join("\r\n") + (lines.size() > 1 ? "\r\n" : "") +
                last + (last.endsWith('"') || last == Header ? "\r\n" : ""))
                   .toUtf8());
}
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
        QTest::newRow("failed starts after the last run are passed over")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, Idle1),
                           "2026-12-08T10:00:09.000+01:00,failed,0,,,,,,\"port 1 (" + dev +
                               "): cannot be opened: Error 8010: Port 1 (" + dev +
                               ") is in use by another program\""}
            << 0 << "frame " + Idle1 + ", bit 0" << 1 << "";
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
        QTest::newRow("a file with no start row at all is not continued")
            << QStringList{poll(0, Idle0), poll(1, Idle1)} << 0 << "" << -1 << "no start row";
        QTest::newRow("another device named by the last start row")
            << QStringList{Header, start(dev), poll(0, Idle0), start("/dev/ttyUSB1"),
                           poll(1, Idle1)}
            << 0 << "" << -1 << "another device, /dev/ttyUSB1";
        QTest::newRow("the same adapter under another device name")
            << QStringList{Header, start("/dev/ttyUSB1", "on", OwnAdapter), poll(0, Idle0)} << 0
            << "frame " + Idle0 + ", bit 1" << 1 << "";
        QTest::newRow("another adapter under the same device name: swapped")
            << QStringList{Header, start(dev, "on", "; adapter usb 0403:6001 serial B77Q1"),
                           poll(0, Idle0)}
            << 0 << "" << -1 << "another adapter, usb 0403:6001 serial B77Q1";
        QTest::newRow("no start row in the tail: the one further back names another device")
            << QStringList{Header, start("/dev/ttyUSB1"), poll(0, Idle0), poll(1, Idle1)} << 1 << ""
            << -1 << "another device, /dev/ttyUSB1";
        QTest::newRow("no start row in the tail: the one further back is of this adapter")
            << QStringList{Header, start(dev, "on", OwnAdapter), poll(0, Idle0), poll(1, Idle1)}
            << 1 << "frame " + Idle1 + ", bit 0" << 1 << "";
        QTest::newRow("no start row in the tail: the mode set after the one further back")
            << QStringList{Header, start(dev, "on", OwnAdapter), setting("escrow mode now off"),
                           poll(0, Idle0), poll(1, Idle1)}
            << 2 << "frame " + Idle1 + ", bit 0" << 0 << "";
        QTest::newRow("no good frame in the tail")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, {}), poll(1, {})} << 2 << ""
            << -1 << "holds no good frame";
        // A counting row that did not read back once: "after -3597.9 s".
        const QString unreadable =
            poll(0, Stacked0, Counted + ", bill 3 stacked and counted after -3597.9 s");
        QTest::newRow("a row after the last good frame that does not read back")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, Idle1), unreadable} << 0
            << "" << -1 << "after the last good frame does not read back";
        QTest::newRow("a row that does not read back, torn at the end with no line end")
            << QStringList{Header, start(dev), poll(0, Idle0), unreadable.chopped(2)} << 0
            << "frame " + Idle0 + ", bit 1" << 1 << "";
        QTest::newRow("a row torn by an earlier crash, a later process's start row after it")
            << QStringList{Header, start(dev), poll(0, Idle0), poll(1, Idle1).chopped(9),
                           start(dev)}
            << 0 << "frame " + Idle0 + ", bit 1" << 1 << "";
        QTest::newRow("a row that does not read back before a good frame")
            << QStringList{Header, start(dev), poll(0, Idle0), unreadable, poll(1, Idle1)} << 0
            << "frame " + Idle1 + ", bit 0" << 1 << "";
        QTest::newRow("no file") << QStringList{} << 0 << "" << -1 << "cannot read";
    }

    void theTailGivesWhatAPollerNeedsToCarryOn()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, tailLines);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        if (!lines.isEmpty())
            writeRows(path, lines);
        std::size_t bound = LogTailBytes;
        if (tailLines > 0)
            bound = static_cast<std::size_t>(
                lines.mid(lines.size() - tailLines).join("\r\n").size() + 2);
        std::string reason;
        const auto c = ContinuationFromLog(path.toStdString(), Owner, &reason, bound);
        QFETCH(QString, text);
        QFETCH(int, escrow);
        QFETCH(QString, why);
        QCOMPARE(c ? QString::fromStdString(c->text) : QString(), text);
        QCOMPARE(c ? c->escrowAtReport : -1, escrow);
        QVERIFY2(QString::fromStdString(reason).contains(why), reason.c_str());
        if (c)
            QCOMPARE(c->ignoresBit, text.endsWith("does not echo the bit"));
    }

    // logrotate renamed the log while no poller ran (nocreate): the file at
    // the path is new, and the frames are in the one beside it.
    void aRestartAfterARotationContinuesFromTheRotatedFile_data()
    {
        QTest::addColumn<QString>("folder"); // where both files are
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("rotated"); // none: no such file
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fromRotated");

        const QStringList full{Header, start(Dev, "on", OwnAdapter), poll(0, Stacked0, Counted)};
        const QString plain = "kora232";
        QTest::newRow("a new file at the path: the rotated one's last frame")
            << plain << QStringList{Header} << full << "frame " + Stacked0 + ", bit 1" << true;
        QTest::newRow("a path with commas, parentheses and semicolons reads back")
            << "k, (1); 2%41" << QStringList{Header} << full << "frame " + Stacked0 + ", bit 1"
            << true;
        QTest::newRow("a file at the path with a frame of its own is continued itself")
            << plain << QStringList{Header, start(Dev, "on", OwnAdapter), poll(1, Idle1)} << full
            << "frame " + Idle1 + ", bit 0" << false;
        QTest::newRow("a rotated file another adapter wrote is not continued")
            << plain << QStringList{Header}
            << QStringList{Header, start(Dev, "on", "; adapter usb 0403:6001 serial B77Q1"),
                           poll(0, Stacked0, Counted)}
            << "" << false;
        QTest::newRow("no rotated file")
            << plain << QStringList{Header} << QStringList{} << "" << false;
    }

    void aRestartAfterARotationContinuesFromTheRotatedFile()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, log);
        QFETCH(QStringList, rotated);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(folder));
        const QString path = dir.filePath(folder + "/ttyUSB0.csv");
        writeRows(path, log);
        if (!rotated.isEmpty())
            writeRows(path + ".1", rotated);
        std::string why, readFrom;
        const auto c = ContinuationForRestart(path.toStdString(), Owner, &why, &readFrom);
        QFETCH(QString, text);
        QFETCH(bool, fromRotated);
        QCOMPARE(c ? QString::fromStdString(c->text) : QString(), text);
        QCOMPARE(QString::fromStdString(readFrom), fromRotated ? path + ".1" : QString());
        if (!c)
            return;
        // The start row names the file, and a reader gets its name back.
        const auto row = ReadStartText(
            startEvents(Dev, "on", OwnAdapter + ", continues from the log: " + text).toStdString() +
            (fromRotated ? ReadFromClause(readFrom) : std::string()));
        QVERIFY(row);
        QCOMPARE(QString::fromStdString(row->readFrom), QString::fromStdString(readFrom));
        QCOMPARE(row->adapter, Owner.identity);
        QCOMPARE(QString::fromStdString(row->continuesFrom), "frame " + text.mid(6));
    }
};

QTEST_APPLESS_MAIN(LogTailTest)
#include "tst_logtail.moc"
