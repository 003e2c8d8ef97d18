#include "app/session.h"
#include "app/stopsignals.h"
#include "app/toplevel.h"
#include "app/windowoptions.h"
#include "control/runcontrol.h"
#include "serial/mscomm.h"
#include "ui/kora232.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// Rows still on their way to the log, this one's and any closed before it,
// get a moment to get out; a run whose log lost rows ends with status 4.
int finishLog(kora::SessionLog& log, int status)
{
    const auto deadline = kora::OutputQueue::Clock::now() + kora::OutputQueue::Grace;
    const bool rowsOut = log.finish(deadline);
    if (!kora::OutputQueue::Settle(deadline) || !rowsOut) {
        std::fprintf(stderr, "kora232: the log is incomplete: %s\n",
                     rowsOut ? "rows were still unwritten when the program ended"
                             : log.failure().c_str());
        return status == 0 ? 4 : status;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // A log whose reader goes away fails its write, which stops logging as
    // any failed write does; the signal would end the program instead.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("kora232"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORA_VERSION));
    kora::WindowPlan plan;
    if (const std::optional<int> status = kora::ReadWindowCommandLine(argc, argv, plan))
        return *status;

    qInstallMessageHandler(kora::WriteToolkitMessages);
    kora::TopLevel app(argc, argv);
    new kora::StopSignals(&app);
    QGuiApplication::setDesktopFileName(QStringLiteral("kora232"));

    std::unique_ptr<kora::Kora232> window;
    kora::Session* session = nullptr;
    kora::RunControl* control = nullptr;
    bool refused = false; // a log that cannot be written: the window never opens
    app.guard([&] {
        window = std::make_unique<kora::Kora232>(std::make_unique<kora::MSComm>(plan.ports));
        control = new kora::RunControl(*window); // runs start-up; the window owns it
        if (std::string why; !plan.logFile.isEmpty() &&
                             !control->record().openLog(plan.logFile.toStdString(), &why)) {
            std::fprintf(stderr, "kora232: cannot log to %s\n", why.c_str());
            refused = true;
            return;
        }
        session = new kora::Session(*window, plan.session); // so does this
        window->show();
    });
    if (refused)
        return 2;
    int status = app.failed() ? 1 : app.exec();
    if (!app.failed() && session)
        status = session->finish(status);
    if (control)
        status = finishLog(control->record().log(), status);
    window.reset(); // the timers and the port go with it, before any message
    return app.finish(status);
}
