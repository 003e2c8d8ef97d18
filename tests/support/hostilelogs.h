#pragma once

// Session logs no Kora232 writes, for every program that reads logs: each
// must survive them and name the rows it skips, in the same words.
#include "replyframes.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct HostileLog
{
    QString name;
    QByteArray text;
    QString skipped;    // the rows skipped, as the readers name them; empty for none
    QString replayAlso; // more that the replay says on standard error
};

namespace hostile {

inline QByteArray pollRow(const QString& time, int ack, const QString& reply,
                          const QByteArray& events = {}, const QByteArray& replyMs = "12.0",
                          const QByteArray& flags = "Idling Cassette")
{
    const QByteArray host = ack ? "02 08 11 7F 10 00 03 76 " : "02 08 10 7F 10 00 03 77 ";
    return time.toLatin1() + ",poll,1,good," + host + ',' + reply.toLatin1() + " ," + replyMs +
           ',' + flags + ",\"" + events + "\"\r\n";
}

inline QByteArray at(int second)
{
    return QStringLiteral("2026-12-07T16:30:%1.000+01:00")
        .arg(second, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

// Header, start row, a good poll, `row` on line 4, a good poll, a stop row.
inline QByteArray around(const QByteArray& row, const QByteArray& device = "/dev/pts/9")
{
    return "time,kind,poll,outcome,host,reply,reply_ms,flags,events\r\n" + at(0) +
           ",start,0,,,,,,\"port 1 (" + device +
           "), 9600, E, 7, 1, poll every 250 ms, escrow mode on, bills 1 2 3 4 5 6 7 enabled, "
           "escrowed bills stacked, kora232 1.4.0\"\r\n" +
           pollRow(at(1), 0, replyHex(0, 0x01)) + row + pollRow(at(3), 1, replyHex(1, 0x01)) +
           at(4) +
           ",stop,3,,,,,,\"bill 1=0 bill 2=0 bill 3=0 bill 4=0 bill 5=0 bill 6=0 "
           "bill 7=0 total=0; polls 3\"\r\n";
}

inline QList<HostileLog> logs()
{
    const QString line4 = QStringLiteral("1 torn or malformed row skipped: line 4");
    const QString stacked3 = replyHex(0, 0x10, 3), noCredit = replyHex(0, 0x10, 0);
    const auto verdict = [&](const QString& reply, const QByteArray& words) {
        return around(pollRow(at(2), 0, reply, words));
    };
    const auto replyMs = [&](const QByteArray& ms) {
        return around(pollRow(at(2), 0, replyHex(0, 0x01), {}, ms));
    };
    QByteArray columns = pollRow(at(2), 0, replyHex(0, 0x01));
    columns.insert(columns.size() - 2, QByteArray(10000, ','));
    QByteArray nul = pollRow(at(2), 0, replyHex(0, 0x01));
    nul.replace("Idling", QByteArray("Idl\0ing", 7));
    const QByteArray twice =
        pollRow(at(2), 0, noCredit, "stacked with no credit, not counted: no-credit");
    const QByteArray lost =
        "2026-12-07T16:30:02.000+01:00,poll,2,no-reply,02 08 10 7F 10 00 03 77 ,,,Idling,"
        "\"device lost: Port 1 (/dev/pts/9): gone\"\r\n"
        "2100-12-07T16:30:02.000+01:00,poll,2,no-reply,02 08 10 7F 10 00 03 77 ,,,Idling,"
        "reconnected\r\n";
    return {
        {"a counted verdict that names no bill",
         verdict(noCredit, "stacked with no credit, counted, count 1, total 1"),
         line4,
         {}},
        {"a counted verdict for bill 0",
         verdict(noCredit, "bill 0 stacked, counted, count 1, total 1"),
         line4,
         {}},
        {"a counted verdict for bill 8",
         verdict(stacked3, "bill 8 stacked, counted, count 1, total 1"),
         line4,
         {}},
        {"a count past what a session holds",
         verdict(stacked3, "bill 3 stacked, counted, count 10000000000000, total 10000000000000"),
         line4,
         {}},
        {"a reply time that is not a number", replyMs("nan"), line4, {}},
        {"a reply time that is infinite", replyMs("inf"), line4, {}},
        {"a reply time of -1 ms", replyMs("-1"), line4, {}},
        {"a row 500 years on",
         around(pollRow("2526-12-07T16:30:02.000+01:00", 0, replyHex(0, 0x01))),
         line4,
         {}},
        {"a NUL byte", around(nul), line4, {}},
        {"10,000 columns", around(columns), line4, {}},
        {"a start row of 60 KB", around({}, "/dev/" + QByteArray(60000, 'x')), {}, {}},
        {"invalid UTF-8",
         around(pollRow(at(2), 0, replyHex(0, 0x01), "\xff\xfe", "12.0", "\xc3\x28"),
                "/dev/\xff\xfe"),
         {},
         {}},
        {"a stacked report with no credit twice byte for byte", around(twice + twice), {}, {}},
        {"the device lost in 2026 and back in 2100",
         around(lost),
         {},
         "1 wait from the log (the longest 2335219200.0 s, from line 4) cut to 60 s"},
        {"a row timed an hour before the one before",
         around(pollRow("2026-12-07T15:30:02.000+01:00", 0, replyHex(0, 0x01))),
         {},
         "1 row timed earlier than the one before (from line 4): the wall clock was set back"},
    };
}

} // namespace hostile
