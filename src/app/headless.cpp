// kora232-headless: the window's poller for test rigs and scripts, on Qt Core
// alone, so it runs where there is no display.
#include "app/headlessoptions.h"
#include "app/headlessrun.h"
#include "app/sayline.h"
#include "app/stopsignals.h"
#include "serial/mscomm.h"
#include "serial/portmap.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <optional>
#include <unistd.h>

int main(int argc, char** argv)
{
    // A reader that goes away must not kill the program: the failed write
    // says so, and the run ends as any other, port closed.
    std::signal(SIGPIPE, SIG_IGN);
    // Started with standard output closed, the next file opened would take
    // its number and receive the lines: nobody reads them, so the run is over.
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0) {
        kora::Say(kora::Priority::Info, "standard output is closed; nothing to do");
        return 0;
    }
    // Each poll takes the serial port's read buffer and gives it back; with
    // the heap's top at the trim threshold, every poll would grow the heap
    // and shrink it again, two system calls and fresh pages each time.
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
    // Qt's own Unix event loop rather than GLib's: no toolkit shares the loop
    // here, and each wake-up costs a little less.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication::setApplicationName(QStringLiteral("kora232-headless"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORA_VERSION));
    // Read before the application exists, as kora232 reads its own.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    kora::PortMap ports;
    kora::HeadlessPlan plan;
    if (const std::optional<int> status = kora::ReadHeadlessOptions(arguments, ports, plan))
        return *status;

    QCoreApplication app(argc, argv);
    new kora::StopSignals(&app);
    kora::HeadlessRun run(std::make_unique<kora::MSComm>(std::move(ports)), std::move(plan),
                          STDOUT_FILENO);
    if (const std::optional<int> status = run.begin())
        return *status;
    QCoreApplication::exec();
    return run.end();
}
