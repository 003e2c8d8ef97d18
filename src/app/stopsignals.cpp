#include "app/stopsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kora {

#ifdef Q_OS_UNIX

namespace {

int wakePipe[2] = {-1, -1};
constexpr int StopSignalList[] = {SIGTERM, SIGINT, SIGHUP};
// Signals this soon after the first are the same request again: a kill(1)
// repeated, Ctrl-C pressed twice, the hang-up and the SIGTERM of a session
// that ends. Only one that comes later ends the program at once, as the way
// out of a program that does not end.
constexpr time_t RepeatSeconds = 3;

volatile sig_atomic_t requested = 0;
timespec firstRequest = {};

bool withinRepeat(const timespec& now)
{
    const time_t seconds = now.tv_sec - firstRequest.tv_sec;
    return seconds < RepeatSeconds ||
           (seconds == RepeatSeconds && now.tv_nsec < firstRequest.tv_nsec);
}

void endAtOnce(int sig)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
    ::raise(sig); // delivered once this handler returns, unblocking it
}

void onStopSignal(int sig)
{
    const int saved = errno;
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    if (!requested) {
        requested = 1;
        firstRequest = now;
        [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], "s", 1);
    } else if (!withinRepeat(now)) {
        endAtOnce(sig);
    }
    errno = saved;
}

// The stop signals are held off while one is handled, so that the handler
// never runs inside itself.
void handle(void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (const int sig : StopSignalList)
        sigaddset(&action.sa_mask, sig);
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
    requested = 0;
    handle(onStopSignal, SA_RESTART);
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
