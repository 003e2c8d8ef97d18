#pragma once

#include "app/headlessoptions.h"
#include "app/jsonlines.h"
#include "protocol/runstate.h"
#include "protocol/sessionrecord.h"
#include "serial/linkkeeper.h"
#include "serial/mscomm.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// The window's poll and delay timers without the window: the same poll
// transaction, counting rule, self-healing link, port lock and session
// record, with each event told as a JSON line instead of shown. Ends the
// event loop when the plan's duration or bill count is reached or nobody
// reads the lines any more.
class HeadlessRun : public QObject
{
    Q_OBJECT

public:
    HeadlessRun(PortMap ports, HeadlessPlan plan, int outputFd);

    // Opens the log and the port and starts polling. Gives the exit status
    // when the run ends here: 2 when the log cannot be opened, 3 when the
    // port cannot, as end() when the output ends at once; the reason is on
    // stderr.
    std::optional<int> begin();
    // Writes the stop line, closes the port and gives the output a last
    // moment to get out (see FinishOutput). Once the event loop is over.
    // Gives the exit status.
    int end();

private:
    void pollTick();
    bool openPort();
    void countBill(int bill);
    void reportOutcome();
    void reportFlags();
    void emitEvent(JsonObject line);
    bool outputEnded();
    JsonObject event(const char* name) const;
    void stopPolling();
    void stopTimers();

    HeadlessPlan plan_;
    MSComm port_;
    LinkKeeper keeper_;
    SessionRecord session_;
    RunState s_;
    JsonLines out_;
    QTimer pollTimer_;
    QTimer delayTimer_;
    QTimer durationTimer_;
    std::array<long, 7> counts_{};
    long total_ = 0;
    int outcome_ = -1; // NRFlag of the polls since the last link line; -1 before the first
    long outcomePolls_ = 0;
    std::vector<const char*> flags_; // set flags as last reported
    QString refusal_;                // the last reopen refused, said once
    bool running_ = false;
    bool ended_ = false;
};

} // namespace kora
