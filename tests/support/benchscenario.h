#pragma once

#include <QString>
#include <QStringList>

// Twenty bills for the bench instrument: bill 4 refused throughout, a cheat
// and a jam between bills, the rest stacked or returned as the host orders.
inline QStringList benchScenario()
{
    return QString("step 100ms; reject 4; wait 1500ms; insert 1; insert 2; insert 3; insert 4; "
                   "insert 5; wait 4s; cheat; wait 500ms; insert 6; insert 7; insert 4; insert 1; "
                   "wait 3500ms; jam; wait 1s; clear; wait 500ms; insert 2; insert 3; insert 4; "
                   "insert 5; insert 6; wait 4s; insert 7; insert 1; insert 2; insert 3; insert 5; "
                   "insert 6; wait 5s")
        .split(QStringLiteral("; "));
}

// The seconds the scenario takes, with time for its last bill to end.
constexpr int BenchScenarioSeconds = 24;
