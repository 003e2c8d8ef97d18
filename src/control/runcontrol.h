#pragma once

#include "protocol/sessionrecord.h"
#include "serial/linkkeeper.h"

#include <QObject>
#include <QString>
#include <array>

namespace kora {

class Kora232;

// The window's event layer: the poll and delay timers and the operator's
// controls. It only reads and writes the run state and calls the protocol
// and monitor routines; handlers never call one another.
class RunControl : public QObject
{
    Q_OBJECT

public:
    // Runs start-up on the window and wires every handler; the window is the
    // parent, so this lives exactly as long as the window.
    explicit RunControl(Kora232& window);

    void PollTick();
    void DelayTick();
    void StartStopClick();
    void PortChoice(int n);
    void BillEnableClick(int index);
    void PollRateChange();

    // The run's statistics and log, for the monitor's context menu.
    SessionRecord& record() { return session; }

private:
    bool openPort();
    void refusedToOpen(const QString& reason);
    void endRun(const std::string& why);
    void loggingFailed(const QString& reason);
    void connectControls();
    void recordPoll(const PollTiming& timing, int counted);
    std::array<long, 7> countsOnScreen() const;

    Kora232& w;
    LinkKeeper keeper;
    SessionRecord session;
};

} // namespace kora
