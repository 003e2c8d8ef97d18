#include "app/stopsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kora {

#ifdef Q_OS_UNIX

namespace {

int wakePipe[2] = {-1, -1};
constexpr int StopSignalList[] = {SIGTERM, SIGINT, SIGHUP};

void onStopSignal(int)
{
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], "s", 1);
    errno = saved;
}

void handle(void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (const int sig : StopSignalList)
        ::sigaction(sig, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without the pipe the signals keep their default effect
    notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::onSignal);
    // A second signal, should the first quit hang, ends the process as usual.
    handle(onStopSignal, SA_RESTART | SA_RESETHAND);
}

StopSignals::~StopSignals()
{
    if (!notifier)
        return;
    handle(SIG_DFL, 0);
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

void StopSignals::onSignal()
{
    char drain[16];
    while (::read(wakePipe[0], drain, sizeof drain) > 0) {
    }
    QCoreApplication::quit();
}

#else // Windows ends a console program on its own terms; nothing to catch here.

StopSignals::StopSignals(QObject* parent) : QObject(parent) {}
StopSignals::~StopSignals() = default;
void StopSignals::onSignal() {}

#endif

} // namespace kora
