#include "ui/rownotes.h"

#include "record/pollreport.h"
#include "protocol/statusflags.h"
#include "ui/kora232.h"

#include <QLabel>
#include <QStringList>
#include <QTime>

namespace kora {

namespace {

const char* const MadeAt = "madeAt";

QString milliseconds(PollTiming::Clock::duration d)
{
    return QString::number(std::chrono::duration<double, std::milli>(d).count(), 'f', 1) +
           QStringLiteral(" ms");
}

QString flagsInWords(const RunState& s)
{
    QStringList words;
    for (const StatusFlag& flag : StatusFlags)
        if (s.*flag.member == 1)
            words << QString::fromLatin1(flag.caption).toLower();
    return words.isEmpty() ? QStringLiteral("no flag set") : words.join(QStringLiteral(", "));
}

void setNote(QLabel* row, const QString& note, const QString& time)
{
    row->setToolTip(note);
    row->setAccessibleDescription(note);
    row->setProperty(MadeAt, time);
}

} // namespace

QString HostRowNote(const RunState& s, const QString& time)
{
    QStringList bills;
    for (int n = 1; n <= 7; ++n)
        if (s.HostMsg(4) & (1u << (n - 1)))
            bills << QString::number(n);
    const Byte orders = s.HostMsg(5);
    QStringList asks;
    if (orders & 0x10)
        asks << QStringLiteral("escrow mode");
    if (orders & 0x20)
        asks << QStringLiteral("stack the bill in escrow");
    if (orders & 0x40)
        asks << QStringLiteral("return the bill in escrow");
    return QStringLiteral("%1, PC to acceptor\nacknowledgement bit %2\nbills enabled: %3\nasks: %4")
        .arg(time)
        .arg(s.HostMsg(3) & 1)
        .arg(bills.isEmpty() ? QStringLiteral("none") : bills.join(QStringLiteral(", ")),
             asks.isEmpty() ? QStringLiteral("nothing") : asks.join(QStringLiteral(", ")));
}

QString ReplyRowNote(const RunState& s, const PollTiming& t, const QString& time)
{
    const QString waited = milliseconds((t.replied ? *t.replied : t.ended) - t.sent);
    if (s.NRFlag == 1)
        return QStringLiteral("%1, no reply: waited %2").arg(time, waited);
    if (s.NRFlag == 2)
        return QStringLiteral("%1, checksum error %2 after sending; the bytes that failed:\n%3")
            .arg(time, waited, QString::fromLatin1(HexText(s.AcceptorMsg.raw())));
    return QStringLiteral("%1, good reply %2 after sending\n%3\ncredit: %4")
        .arg(time, waited, flagsInWords(s),
             s.Credit ? QStringLiteral("bill %1").arg(s.Credit) : QStringLiteral("none"));
}

void NoteNewestRows(const RunState& s, const PollTiming& t, Kora232& w)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    setNote(w.lbOUT(0), HostRowNote(s, time), time);
    setNote(w.lbIN(0), ReplyRowNote(s, t, time), time);
}

void MoveRowNote(const QLabel* from, QLabel* to)
{
    setNote(to, from->toolTip(), from->property(MadeAt).toString());
}

void ClearRowNote(QLabel* row)
{
    setNote(row, QString(), QString());
}

QString RowTime(const QLabel* row)
{
    return row->property(MadeAt).toString();
}

} // namespace kora
