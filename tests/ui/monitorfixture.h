#pragma once
// What the monitor tests share: a fresh window, the start of a run, a
// stacked report, and readers of what the operator sees.
#include "fakeport.h"
#include "hexbytes.h"
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/monitor.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace kora::test {

inline const QColor StackingColour(255, 192, 255);
inline const QColor LastCreditColour(150, 0, 150);
inline const QString NoReply = QStringLiteral("Acceptor Busy / Not Connected");
inline const QString FirstHostRow = QStringLiteral("02 08 10 7F 10 00 03 77 ");

// The fifteen flags in the indicator map's order, with their labels.
struct Flag
{
    const char* name;
    Byte RunState::*field;
    const char* label;
};
inline const Flag Flags[] = {
    {"Idling", &RunState::Idling, "lb0(0)"},     {"Accepting", &RunState::Accepting, "lb0(1)"},
    {"Escrowed", &RunState::Escrowed, "lb0(2)"}, {"Stacking", &RunState::Stacking, "lb0(3)"},
    {"Stacked", &RunState::Stacked, "lb0(4)"},   {"Returning", &RunState::Returning, "lb0(5)"},
    {"Returned", &RunState::Returned, "lb0(6)"}, {"Cheated", &RunState::Cheated, "lb1(0)"},
    {"Rejected", &RunState::Rejected, "lb1(1)"}, {"Jammed", &RunState::Jammed, "lb1(2)"},
    {"Full", &RunState::Full, "lb1(3)"},         {"Cassette", &RunState::Cassette, "lb1(4)"},
    {"Power", &RunState::Power, "lb2(0)"},       {"Invalid", &RunState::Invalid, "lb2(1)"},
    {"Failure", &RunState::Failure, "lb2(2)"},
};

inline QStringList shownIndicators(const Kora232& w)
{
    QStringList shown;
    for (const Flag& f : Flags) {
        if (!w.findChild<QLabel*>(QString::fromLatin1(f.label))->isHidden())
            shown.append(QString::fromLatin1(f.label));
    }
    return shown;
}

inline QList<int> shownBillLabels(const Kora232& w)
{
    QList<int> shown;
    for (int n = 1; n <= 7; ++n) {
        if (!w.lbD(n)->isHidden())
            shown.append(n);
    }
    return shown;
}

inline QStringList counters(const Kora232& w)
{
    QStringList texts;
    for (int n = 1; n <= 7; ++n)
        texts.append(w.txBillCount(n)->text());
    return texts;
}

inline QStringList rows(const Kora232& w, QLabel* (Kora232::*row)(int) const)
{
    QStringList texts;
    for (int r = 0; r <= 5; ++r)
        texts.append((w.*row)(r)->text());
    return texts;
}

inline bool regionHasColour(const QImage& shot, QRect region, QColor colour)
{
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            if (QColor(shot.pixel(x, y)) == colour)
                return true;
        }
    }
    return false;
}

inline QRect inWindow(const QWidget* c)
{
    return QRect(c->mapTo(c->window(), QPoint(0, 0)), c->size());
}

// A window whose run state holds the first host message after start-up.
struct MonitorFixture
{
    Kora232* w = nullptr;
    RunState* s = nullptr;
    std::array<long, 7> counts{}; // as the session engine keeps them

    void openWindow()
    {
        w = new Kora232(std::make_unique<FakePort>());
        s = &w->state();
        setBytes(s->HostMsg, QStringLiteral("02 08 10 7F 10 00 03 77"));
    }
    void closeWindow() { delete w; }

    // What START does to the monitor and the status.
    void pressStart()
    {
        ClearTraffic(*w);
        s->ClearStatus();
        ResetMonitor(*w);
        counts = {};
    }

    // An update for a poll that counted `bill`, as the session engine
    // decides and counts it.
    void updateCounting(int bill)
    {
        const int bills[] = {bill};
        ++counts[std::size_t(bill - 1)];
        UpdateMonitor(*s, *w, bills, counts);
    }

    // A good reply reporting bill `credit` stacked.
    void stackedReply(Byte credit, Byte delay)
    {
        s->NRFlag = 0;
        setBytes(s->AcceptorMsg, QStringLiteral("02 0B 20 10 10 18 41 01 03 03 70"));
        s->Stacked = 1;
        s->Credit = credit;
        s->LastCredit = credit;
        s->Delay = delay;
    }
};

} // namespace kora::test
