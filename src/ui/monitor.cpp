#include "ui/monitor.h"

#include "protocol/statusflags.h"
#include "record/pollreport.h"
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/rownotes.h"

#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <limits>

namespace kora {

namespace {

constexpr int HistoryRows = 6;
constexpr int BillCount = 7;

// Each reply byte's flags light one column of indicators, in bit order.
QLabel* indicatorOf(const StatusFlag& flag, const Kora232& w)
{
    switch (flag.replyByte) {
    case 4:
        return w.lb0(flag.bit);
    case 5:
        return w.lb1(flag.bit);
    default:
        return w.lb2(flag.bit);
    }
}

void ageHistories(Kora232& w)
{
    for (int i = HistoryRows - 2; i >= 0; --i) {
        w.lbOUT(i + 1)->setText(w.lbOUT(i)->text());
        w.lbIN(i + 1)->setText(w.lbIN(i)->text());
        MoveRowNote(w.lbOUT(i), w.lbOUT(i + 1));
        MoveRowNote(w.lbIN(i), w.lbIN(i + 1));
    }
    ClearRowNote(w.lbOUT(0));
    ClearRowNote(w.lbIN(0));
}

void showReply(const RunState& s, Kora232& w)
{
    w.lbIN(0)->setText(HexRow(s.AcceptorMsg.raw()));
    if (s.NRFlag == 1)
        w.lbIN(0)->setText(QStringLiteral("Acceptor Busy / Not Connected"));
    if (s.NRFlag == 2)
        w.lbIN(0)->setText(QStringLiteral("Checksum Error"));
}

void showLastCredit(const RunState& s, Kora232& w)
{
    for (int n = 1; n <= BillCount; ++n)
        w.lbD(n)->setVisible(n == s.LastCredit);
    if (s.LastCredit != 0)
        SetForeColor(w.lbD(s.LastCredit), QColor(colour::LastCredit));
}

void showCountedBills(const RunState& s, Kora232& w, std::span<const int> counted,
                      const std::array<long, 7>& counts)
{
    if (s.Stacked == 1 && s.Credit != 0)
        SetForeColor(w.lbD(s.Credit), QColor(colour::PalePink));
    for (const int bill : counted) {
        SetForeColor(w.lbD(bill), QColor(colour::PalePink));
        ShowCount(w, bill, counts[static_cast<std::size_t>(bill - 1)]);
    }
}

void showIndicators(const RunState& s, Kora232& w)
{
    for (const StatusFlag& flag : StatusFlags)
        indicatorOf(flag, w)->setVisible(s.*flag.member == 1);
}

} // namespace

QString HexRow(std::span<const Byte> bytes)
{
    return QString::fromLatin1(HexText(bytes));
}

std::int64_t ReadCount(const QString& text)
{
    constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Least = std::numeric_limits<std::int64_t>::min();
    const QString t = text.trimmed();
    qsizetype at = 0;
    const bool negative = at < t.size() && t[at] == u'-';
    if (at < t.size() && (t[at] == u'-' || t[at] == u'+'))
        ++at;
    std::int64_t value = 0;
    for (; at < t.size() && t[at] >= u'0' && t[at] <= u'9'; ++at) {
        const int digit = t[at].unicode() - u'0';
        // Accumulate towards the sign so that the lowest count fits too.
        if (negative) {
            if (value < (Least + digit) / 10)
                return Least;
            value = value * 10 - digit;
        } else {
            if (value > (Most - digit) / 10)
                return Most;
            value = value * 10 + digit;
        }
    }
    return value;
}

long TypedCount(const QString& text)
{
    return static_cast<long>(std::clamp<std::int64_t>(ReadCount(text), 0, MostTypedCount));
}

// Typing under way in the box is replaced: the count shown is the one on
// record.
void ShowCount(Kora232& w, int bill, long count)
{
    w.txBillCount(bill)->setText(QString::number(count));
}

void UpdateMonitor(const RunState& s, Kora232& w, std::span<const int> counted,
                   const std::array<long, 7>& counts)
{
    ageHistories(w);
    w.lbOUT(0)->setText(HexRow(s.HostMsg.raw()));
    showReply(s, w);
    showLastCredit(s, w);
    showCountedBills(s, w, counted, counts);
    showIndicators(s, w);
}

void ClearTraffic(Kora232& w)
{
    for (int i = 0; i < HistoryRows; ++i) {
        w.lbIN(i)->setText(QString());
        w.lbOUT(i)->setText(QString());
        ClearRowNote(w.lbIN(i));
        ClearRowNote(w.lbOUT(i));
    }
}

void ResetMonitor(Kora232& w)
{
    for (int n = 1; n <= BillCount; ++n) {
        w.lbD(n)->hide();
        w.txBillCount(n)->setText(QString());
    }
    for (const StatusFlag& flag : StatusFlags)
        indicatorOf(flag, w)->hide();
}

} // namespace kora
