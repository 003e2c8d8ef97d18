#pragma once

#include "engine/planlog.h"
#include "engine/testplan.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace kora {

class PortMap;

// What a headless run polls, how, and when it ends.
struct HeadlessPlan
{
    int portNumber = 1;
    int pollRateMs = 100;
    std::array<bool, 7> bills{true, true, true, true, true, true, true}; // bills 1-7 enabled
    bool escrow = true;
    bool stackEscrowed = true;        // else an escrowed bill is ordered returned
    std::optional<int> durationMs;    // ends the run after this long
    std::optional<long> untilBills;   // ends the run once this many bills are counted
    QString logPath;                  // the CSV session log; empty for none
    QString metricsPath;              // the Prometheus metrics file; empty for none
    int metricsIntervalS = 10;        // how often the metrics file is rewritten
    std::optional<TestPlan> testPlan; // --plan: a bench test, its settings above
    PlanPeople planPeople;            // the unit tested and the operator, for the plan
};

// Reads the command line (program name first) into the port map and the
// plan, with or without an application. Gives the exit status when the
// program ends here: 0 after --help or --version (--help-all ends the
// program itself), 2 after a bad command line, with its message and the
// usage on stderr.
std::optional<int> ReadHeadlessOptions(const QStringList& arguments, PortMap& ports,
                                       HeadlessPlan& plan);

// Bills 1-7 as "1,3-5": numbers and ranges, comma between. False, and why,
// on anything else.
bool ParseBillList(const QString& text, std::array<bool, 7>& bills, QString* why);

} // namespace kora
