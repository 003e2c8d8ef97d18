#pragma once

#include "protocol/pollnotes.h"
#include "record/sessionrecord.h"

#include <QObject>
#include <QString>

namespace kora {

class Kora232;

// The window's event layer: turns the operator's controls into calls on the
// session engine, and what the engine tells into the screen. Handlers never
// call one another.
class RunControl : public QObject
{
    Q_OBJECT

public:
    // Runs start-up on the window and wires every handler; the window is the
    // parent, so this lives exactly as long as the window.
    explicit RunControl(Kora232& window);

    void StartStopClick();
    void PortChoice(int n);
    void BillEnableClick(int index);
    void PollRateChange();
    void CounterEdited(int bill); // 1-7

    // The run's statistics and log, for the monitor's context menu.
    SessionRecord& record();

private:
    void connectControls();
    void connectEngine();
    void showPoll(const PollNotes& notes);
    void showPortDevices();
    void showPortDevice(int n);
    void showPortDevicesOnceShown();
    bool eventFilter(QObject* watched, QEvent* event) override;

    Kora232& w;
};

} // namespace kora
