#pragma once

#include <QObject>
#include <QString>

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

private:
    bool openPort();
    void refusedToOpen(const QString& reason);
    void connectControls();

    Kora232& w;
    // Set when the device went away while polling: reopening then goes on
    // quietly at every tick instead of stopping the run with a dialog.
    bool linkLost = false;
};

} // namespace kora
