#pragma once

#include "app/session.h"
#include "serial/portmap.h"

#include <QString>
#include <optional>

namespace kora {

// What kora232's command line asks of the window's run.
struct WindowPlan
{
    PortMap ports;
    SessionPlan session;
    QString logFile; // the CSV session log; empty for none
};

// Reads kora232's command line (`argv` as main has it) before any
// application exists, so that nothing in it needs a display; the toolkit's
// own options (-platform, -style, ...) are passed over, for the application
// to take later. Gives the exit status when the program ends here, having
// said why: 0 after --help, --help-all, --version, --list-ports or a written
// report; 1 when the report cannot be written, or when the window would need
// a display and there is none; 2 after a mistake (with the usage on standard
// error) or a report refused.
std::optional<int> ReadWindowCommandLine(int argc, char** argv, WindowPlan& plan);

// Writes Qt's messages to standard error as Qt does, all but the toolkit's
// own chatter that asks nothing of the user (see windowoptions.cpp), so that
// a kiosk's journal or a rig's log carries only what matters.
void WriteToolkitMessages(QtMsgType type, const QMessageLogContext& context,
                          const QString& message);

} // namespace kora
