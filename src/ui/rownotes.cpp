#include "ui/rownotes.h"

#include "protocol/statusflags.h"
#include "record/pollreport.h"
#include "ui/kora232.h"

#include <QAccessible>
#include <QLabel>
#include <QStringList>

namespace kora {

namespace {

// Every note opens with the time its row was made: "16:30:01.123, ...".
constexpr qsizetype TimeLength = 12;

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

// A screen reader takes a row's description from its tooltip. It is told of
// a change only while one listens: telling Qt looks up the row's accessible
// interface even when nobody does, twelve rows at every poll.
void setNote(QLabel* row, const QString& note)
{
    if (row->toolTip() == note)
        return;
    row->setToolTip(note);
    if (QAccessible::isActive()) {
        QAccessibleEvent changed(row, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
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

// The poll's own moment, which its log row has too, in the log's local time.
void NoteNewestRows(const RunState& s, const PollNotes& notes, Kora232& w)
{
    const QString time =
        QString::fromStdString(IsoLocalTime(notes.at.value_or(RowNow())).substr(11, TimeLength));
    setNote(w.lbOUT(0), HostRowNote(s, time));
    setNote(w.lbIN(0), ReplyRowNote(s, notes.timing, time));
}

void MoveRowNote(const QLabel* from, QLabel* to)
{
    setNote(to, from->toolTip());
}

void ClearRowNote(QLabel* row)
{
    setNote(row, QString());
}

QString RowTime(const QLabel* row)
{
    return row->toolTip().left(TimeLength);
}

} // namespace kora
