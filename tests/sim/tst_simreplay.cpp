// A recorded session played back: what each poll row sends, which rows are
// passed over, where the session ends, and logs that are refused before the
// line is served.
#include "acceptorserver.h"
#include "hostilelogs.h"
#include "replay.h"
#include "simtestkit.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace simtest;
using kora::sim::Replay;
using kora::sim::ReplayOptions;
using kora::sim::ReplayStep;

namespace {

const QString Header = QStringLiteral("time,kind,poll,outcome,host,reply,reply_ms,flags,events");
const QString Start = QStringLiteral(
    "2026-12-07T16:30:00.000+01:00,start,0,,,,,,\"port 1 (/dev/pts/9), 9600, E, 7, 1\"");
const QString Stop = QStringLiteral("2026-12-07T16:31:00.000+01:00,stop,9,,,,,,\"bill 1=0 bill 2=0 "
                                    "bill 3=0 bill 4=0 bill 5=0 bill 6=0 bill 7=0 total=0; ...\"");

// Replies as the log writes them: idle, and stacked bill 3, for bits 0 and 1.
const QString Idle0 = QStringLiteral("02 0B 20 01 10 00 4B 01 03 03 73");
const QString Idle1 = QStringLiteral("02 0B 21 01 10 00 4B 01 03 03 72");
const QString Stacked0 = QStringLiteral("02 0B 20 10 10 18 4B 01 03 03 7A");
const QString Stacked1 = QStringLiteral("02 0B 21 10 10 18 4B 01 03 03 7B");

// A poll row at `second` past 16:30, its host message carrying `ack`.
QString pollRow(double second, const QString& outcome, int ack, const QString& reply,
                const QString& events = {}, const QString& replyMs = QStringLiteral("11.9"))
{
    const QString host = ack ? QStringLiteral("02 08 11 7F 10 00 03 76 ")
                             : QStringLiteral("02 08 10 7F 10 00 03 77 ");
    const QString time = QStringLiteral("2026-12-07T16:30:%1+01:00")
                             .arg(QString::number(second, 'f', 3), 6, QLatin1Char('0'));
    return QStringList{time,
                       "poll",
                       "1",
                       outcome,
                       host,
                       reply.isEmpty() ? QString() : reply + ' ',
                       outcome == "good" ? replyMs : QString(),
                       "Idling Cassette",
                       events.contains(',') ? '"' + events + '"' : events}
        .join(',');
}

QString writeLog(const QTemporaryDir& dir, const QStringList& lines)
{
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    return path;
}

QString session(const QTemporaryDir& dir, const QStringList& rows)
{
    return writeLog(dir, QStringList{Header, Start} + rows + QStringList{Stop});
}

kora::sim::HostMessage message(int ack)
{
    const Bytes bytes = hostMessage(ack, 0x7F);
    kora::sim::HostMessage m;
    std::copy(bytes.begin(), bytes.end(), m.bytes.begin());
    return m;
}

QString hex(std::span<const std::uint8_t> bytes)
{
    return QString::fromStdString(kora::sim::hexText(bytes));
}

// What went on the line for one host message, in words.
QString sent(const ReplayStep& step)
{
    if (step.unplug)
        return QStringLiteral("unplugged %1ms").arg(step.unplug->count());
    QStringList parts;
    if (!step.ahead.empty())
        parts << "ahead " + hex(step.ahead);
    if (step.answer)
        parts << "reply " + hex(*step.answer);
    if (!step.behind.empty())
        parts << "behind " + hex(step.behind);
    return parts.isEmpty() ? QStringLiteral("silence") : parts.join(QStringLiteral(" | "));
}

ReplayOptions options(const QString& path, int session = 0)
{
    ReplayOptions o;
    o.path = path.toStdString();
    o.session = session;
    return o;
}

} // namespace

class SimReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void eachRowSendsWhatItRecordedForThisMessage_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QList<int>>("acks"); // of the host messages that come
        QTest::addColumn<QStringList>("sent");

        QTest::newRow("a good row answers this message's bit, its checksum made again")
            << QStringList{pollRow(1, "good", 0, Stacked0)} << QList<int>{1}
            << QStringList{"reply " + Stacked1};
        QTest::newRow("a good row for a message with its bit goes as recorded")
            << QStringList{pollRow(1, "good", 1, Idle1)} << QList<int>{1}
            << QStringList{"reply " + Idle1};
        QTest::newRow("a no-reply row is silence") << QStringList{pollRow(1, "no-reply", 0, {})}
                                                   << QList<int>{0} << QStringList{"silence"};
        QTest::newRow("a checksum row sends the bytes it recorded")
            << QStringList{pollRow(1, "checksum", 1, "02 0B 21 01 10 00 4B 01 03 03 70")}
            << QList<int>{0} << QStringList{"reply 02 0B 21 01 10 00 4B 01 03 03 70"};
        QTest::newRow("a checksum row without its bytes sends a spoiled reply")
            << QStringList{pollRow(1, "checksum", 0, {})} << QList<int>{0}
            << QStringList{"reply 02 0B 20 01 10 00 4B 01 03 03 72"};
        QTest::newRow("frames with the other bit go ahead of the answer, the other bit still")
            << QStringList{pollRow(1, "good", 1, Idle1,
                                   "frame with the other bit " + Idle0 + ": repeat")}
            << QList<int>{0} << QStringList{"ahead " + Idle1 + " | reply " + Idle0};
        QTest::newRow("a frame waiting before a message goes behind the answer before it")
            << QStringList{pollRow(1, "good", 0, Idle0),
                           pollRow(2, "good", 1, Idle1,
                                   "frame before the host message " + Idle0 + ": repeat")}
            << QList<int>{0, 1}
            << QStringList{"reply " + Idle0 + " | behind " + Idle0, "reply " + Idle1};
        QTest::newRow("a frame waiting after silence goes ahead of the next answer")
            << QStringList{pollRow(1, "no-reply", 0, {}),
                           pollRow(2, "good", 0, Idle0,
                                   "frame before the host message " + Stacked0 +
                                       ": bill 3 stacked, counted, count 1, total 1")}
            << QList<int>{0, 0}
            << QStringList{"silence", "ahead " + Stacked0 + " | reply " + Idle0};
        QTest::newRow("a lost device takes the line away until the row that says it is back")
            << QStringList{pollRow(1, "good", 0, Idle0),
                           pollRow(2, "no-reply", 1, {}, "device lost: Port 1 (/dev/pts/9): gone"),
                           pollRow(2.4, "no-reply", 1, {}),
                           pollRow(4.5, "good", 1, Idle1, "reconnected"),
                           pollRow(4.6, "good", 0, Idle0)}
            << QList<int>{0, 1, 1, 0}
            << QStringList{"reply " + Idle0, "unplugged 2500ms", "reply " + Idle1,
                           "reply " + Idle0};
        QTest::newRow("a change of escrow action mid-run goes on with the same session")
            << QStringList{pollRow(1, "good", 0, Idle0),
                           "2026-12-07T16:30:01.500+01:00,start,1,,,,,,escrowed bills now returned",
                           pollRow(2, "good", 1, Idle1)}
            << QList<int>{0, 1} << QStringList{"reply " + Idle0, "reply " + Idle1};
    }

    void eachRowSendsWhatItRecordedForThisMessage()
    {
        QFETCH(QStringList, rows);
        QFETCH(QList<int>, acks);
        QTemporaryDir dir;
        Replay replay(options(session(dir, rows)));
        QStringList got;
        for (const int ack : acks)
            got << sent(replay.next(message(ack)));
        QFETCH(QStringList, sent);
        QCOMPARE(got, sent);
        QVERIFY(!replay.next(message(1)).played);
    }

    void tornAndMalformedRowsArePassedOverAndNamedInOneMessage()
    {
        QTemporaryDir dir;
        const QString good = pollRow(1, "good", 0, Idle0);
        Replay replay(options(session(dir, {good,
                                            good.left(good.size() - 20) + "\"bill 3 sta", // line 4
                                            QString(good).replace("good", "fine"),        // line 5
                                            "2026-12-07T16:30:02.000+01:00,poll,3",       // line 6
                                            good + QString(70000, 'x'),                   // line 7
                                            pollRow(3, "good", 1, Idle1)})));
        QCOMPARE(QString::fromStdString(replay.badRows()),
                 "session 1: 4 torn or malformed rows skipped: lines 4, 5, 6, 7");
        QCOMPARE(sent(replay.next(message(0))), "reply " + Idle0);
        QCOMPARE(sent(replay.next(message(1))), "reply " + Idle1);
        QVERIFY(QString::fromStdString(replay.progress()).contains("line 8"));
    }

    void columnsAreFoundByTheirNames()
    {
        QTemporaryDir dir;
        const QString path =
            writeLog(dir, {"events,extra,reply,outcome,host,kind,poll,reply_ms,flags,time",
                           ",x,,,,start,0,,,2026-12-07T16:30:00.000+01:00",
                           ",x," + Stacked0 +
                               ",good,02 08 10 7F 10 00 03 77,poll,1,11.9,Stacked,"
                               "2026-12-07T16:30:01.000+01:00"});
        Replay replay(options(path));
        QCOMPARE(sent(replay.next(message(1))), "reply " + Stacked1);
    }

    void theLastSessionIsPlayedUnlessAnotherIsNamed_data()
    {
        QTest::addColumn<int>("session");
        QTest::addColumn<QString>("reply");
        QTest::newRow("the default") << 0 << Stacked0;
        QTest::newRow("session 1") << 1 << Idle0;
        QTest::newRow("session 2") << 2 << Stacked0;
    }

    void theLastSessionIsPlayedUnlessAnotherIsNamed()
    {
        QTemporaryDir dir;
        const QString path = writeLog(dir, {Header, Start, pollRow(1, "good", 0, Idle0), Stop,
                                            Start, pollRow(1, "good", 0, Stacked0), Stop});
        QFETCH(int, session);
        Replay replay(options(path, session));
        QFETCH(QString, reply);
        QCOMPARE(sent(replay.next(message(0))), "reply " + reply);
    }

    void theEndLeavesTheAcceptorIdleOrStartsAgain()
    {
        QTemporaryDir dir;
        ReplayOptions o = options(session(dir, {pollRow(1, "good", 0, Stacked0)}));
        Replay once(o);
        QCOMPARE(QString::fromStdString(once.progress()), "session 1, 1 of 1 rows left");
        QVERIFY(once.next(message(0)).played);
        QCOMPARE(QString::fromStdString(once.progress()),
                 "session 1, line 3 (poll 1, good), 0 of 1 rows left");
        const ReplayStep end = once.next(message(1));
        QVERIFY(!end.played);
        QCOMPARE(QString::fromStdString(end.notice),
                 "replay: session 1 played to its end; the acceptor idles");
        QVERIFY(!once.next(message(1)).played);

        o.loop = true;
        Replay looped(o);
        looped.next(message(0));
        const ReplayStep again = looped.next(message(1));
        QCOMPARE(sent(again), "reply " + Stacked1);
        QVERIFY(QString::fromStdString(again.notice).contains("again from its start (pass 2)"));
    }

    void timingKeepsTheDelayEachReplyHad()
    {
        QTemporaryDir dir;
        ReplayOptions o = options(session(dir, {pollRow(1, "good", 0, Idle0, {}, "211.5")}));
        QVERIFY(!Replay(o).next(message(0)).replyTime);
        o.timing = true;
        QCOMPARE(Replay(o).next(message(0)).replyTime, std::chrono::microseconds(211500));
    }

    // The recorded noisy session, played to its end: bills counted in
    // answers, around a jam and through an unplug, each tallied once, so that
    // the tally equals the counts of the stop row.
    void aReplayTalliesTheBillsTheRecordingCounted()
    {
        const QString path = QStringLiteral(KORA_TEST_DATA "/noisy-session.csv");
        Replay replay(options(path));
        int ack = 0;
        for (int messages = 0; replay.next(message(ack)).played; ++messages, ack ^= 1)
            QVERIFY(messages < 10'000);
        QFile log(path);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        const qsizetype stop = text.lastIndexOf(QLatin1String(",stop,"));
        QVERIFY(stop > 0);
        QString counts = text.mid(text.indexOf(u'"', stop) + 1);
        counts = counts.left(counts.indexOf(u';')).replace(QLatin1String("bill "), "bill");
        QCOMPARE(QString::fromStdString(replay.stacked().text()), counts);
        QCOMPARE(replay.stacked().outcomes().stacked, replay.stacked().total());
        QVERIFY(replay.stacked().total() > 0);
    }

    // Through a pseudo-terminal, as a host sees it; a stacked report the
    // recording counted is in the acceptor's tally.
    void theServerAnswersFromTheLogAndSaysWhichRow()
    {
        QTemporaryDir dir;
        kora::sim::ServerOptions o;
        o.replay = std::make_shared<Replay>(options(session(
            dir, {pollRow(1, "good", 0, Stacked0, "bill 3 stacked, counted, count 1, total 1"),
                  pollRow(2, "good", 1, Idle1)})));
        QStringList logged;
        o.log = [&logged](const std::string& line) { logged << QString::fromStdString(line); };
        kora::sim::AcceptorServer server(o);
        PtyClient host(server.devicePath());
        const Bytes reply = host.exchange(hostMessage(1));
        QCOMPARE(hex(reply), Stacked1);
        const QString status = QString::fromStdString(server.status());
        QVERIFY2(status.endsWith("| replay session 1, line 3 (poll 1, good), 1 of 2 rows left"),
                 qPrintable(status));
        QTRY_VERIFY(!logged.filter("replay session 1, line 3").isEmpty());
        QCOMPARE(server.tally().of(3), 1);
        QCOMPARE(server.outcomes().stacked, 1);
    }

    // The program refuses a bad log before it serves a line: nothing on
    // standard output, one message, status 2.
    void aBadLogOrSessionEndsTheProgramBeforeItServes_data()
    {
        QTest::addColumn<QStringList>("lines"); // of the log; none: no file at all
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QStringList log{Header, Start, pollRow(1, "good", 0, Idle0), Stop};
        QTest::newRow("a file that is no session log")
            << QStringList{"tally,bill", "3,1"} << QStringList{}
            << "is not a session log: its first row has no time column";
        QTest::newRow("a first row that is neither the header nor a row of the log")
            << QStringList{"2026-12-07 16:30 start", Header} << QStringList{}
            << "is not a session log";
        QTest::newRow("a session it does not hold")
            << log << QStringList{"--session", "2"} << "has no session 2: it holds 1";
        QTest::newRow("a log with no session")
            << QStringList{Header} << QStringList{} << "holds no session";
        QTest::newRow("no file") << QStringList{} << QStringList{} << "cannot read";
    }

    void aBadLogOrSessionEndsTheProgramBeforeItServes()
    {
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        const QString path =
            lines.isEmpty() ? dir.filePath(QStringLiteral("none.csv")) : writeLog(dir, lines);
        QProcess sim;
        QFETCH(QStringList, arguments);
        sim.start(ACCEPTOR_SIM, QStringList{"--replay", path} + arguments);
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 2);
        QCOMPARE(sim.readAllStandardOutput(), QByteArray());
        const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
        QFETCH(QString, message);
        QVERIFY2(err.contains(message) && err.count('\n') == 1, qPrintable(err));
    }

    // Each is refused with status 2, or served with the rows skipped and the
    // waits cut named on standard error before the line is.
    void aHostileLogIsServedWithTheRowsItSkipped_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QString>("also");
        for (const HostileLog& log : hostile::logs())
            QTest::newRow(qPrintable(log.name)) << log.text << log.skipped << log.replayAlso;
    }

    void aHostileLogIsServedWithTheRowsItSkipped()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hostile.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--replay", path, "--replay-timing"});
        const bool served = sim.waitForReadyRead(10000); // the line it serves, or its end
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
        QFETCH(QString, skipped);
        QFETCH(QString, also);
        QVERIFY2(served ? sim.exitCode() == 0 : sim.exitCode() == 2 && !err.isEmpty(),
                 qPrintable(err));
        if (!skipped.isEmpty())
            QVERIFY2(err.contains("session 1: " + skipped), qPrintable(err));
        QVERIFY2(err.contains(also), qPrintable(err));
        QCOMPARE(err.contains(QStringLiteral("skipped")), !skipped.isEmpty());
    }
};

QTEST_GUILESS_MAIN(SimReplayTest)
#include "tst_simreplay.moc"
