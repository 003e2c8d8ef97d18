#pragma once

#include <QObject>

class QSocketNotifier;

namespace kora {

// Ends the event loop with status 0 on SIGTERM, SIGINT or SIGHUP (a kill,
// Ctrl-C, the session ending), so that the window and its port close as on
// any quit: a process killed outright leaves the port's lock file behind.
// The handler only writes a byte to a pipe; the event loop does the rest.
// Any number of them within 3 s of the first make that one request; a
// signal after that ends the process at once, as it would by default.
// One at a time: it owns the process's handlers for those signals.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent);
    ~StopSignals() override;

private:
    void onSignal();

    QSocketNotifier* notifier = nullptr;
};

} // namespace kora
