#include "serial/ttyline.h"

#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

namespace kora::ttyline {

using Clock = std::chrono::steady_clock;

#ifdef Q_OS_UNIX

namespace {

constexpr short HangUp = POLLHUP | POLLERR | POLLNVAL;

// Milliseconds to the deadline, rounded up so that a timed-out sleep never
// ends before it.
int millisecondsUntil(Deadline deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

bool majorIsPtySlave(const QString& path)
{
#ifdef Q_OS_LINUX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    // 136-143: Unix98 pty slaves (/dev/pts/N); 3: the old BSD-style ttyp slaves.
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
#else
    Q_UNUSED(path);
    return false;
#endif
}

} // namespace

bool isPseudoTerminal(const QString& device)
{
    const QString real = QFileInfo(device).canonicalFilePath();
    if (real.isEmpty())
        return false;
    if (real.startsWith(QLatin1String("/dev/pts/")))
        return true;
#ifdef Q_OS_MACOS
    if (real.startsWith(QLatin1String("/dev/ttys")))
        return true;
#endif
    return majorIsPtySlave(real);
}

int heldBySystem(QSerialPort& port)
{
    int count = 0;
    if (::ioctl(int(port.handle()), FIONREAD, &count) != 0)
        return -1;
    return count;
}

int takeHeld(QSerialPort& port, std::vector<std::uint8_t>& into)
{
    const int held = heldBySystem(port);
    return held <= 0 ? held : takeHeldNow(port, into);
}

int takeHeldNow(QSerialPort& port, std::vector<std::uint8_t>& into)
{
    std::uint8_t chunk[512];
    int taken = 0;
    for (;;) {
        const ssize_t got = ::read(int(port.handle()), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno == EAGAIN ? taken : -1;
        into.insert(into.end(), chunk, chunk + got);
        taken += int(got);
        if (std::size_t(got) < sizeof chunk)
            return taken;
    }
}

qint64 writeNow(QSerialPort& port, std::string_view bytes)
{
    ssize_t sent = 0;
    while ((sent = ::write(int(port.handle()), bytes.data(), bytes.size())) < 0 && errno == EINTR) {
    }
    return sent >= 0 || errno != EAGAIN ? qint64(sent) : 0;
}

Refusal DeviceClaim::take(const QString& device, QString* reason)
{
    release();
    const QByteArray path = QFile::encodeName(device);
    struct stat st = {};
    if (::stat(path.constData(), &st) == 0 && !S_ISCHR(st.st_mode))
        return Refusal::NotSerial; // not even opened: a FIFO is somebody's
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        *reason = QString::fromLocal8Bit(std::strerror(error));
        return error == EBUSY                      ? Refusal::InUse
               : error == EACCES || error == EPERM ? Refusal::NoPermission
                                                   : Refusal::Other;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return Refusal::NotSerial;
    }
    int status = 0;
    while ((status = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    // A file system without locks cannot tell; only a lock held elsewhere
    // refuses. Closing this descriptor is never the last close of a device
    // someone else holds, so it drops nothing of theirs.
    if (status != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return Refusal::InUse;
    }
    fd_ = fd;
    return Refusal::None;
}

void DeviceClaim::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

QString owningGroup(const QString& device)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return {};
    char buffer[1024];
    group entry = {};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return {};
    return QString::fromLocal8Bit(found->gr_name);
}

bool deviceGone(QSerialPort& port)
{
    pollfd p{int(port.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & HangUp))
        return true;
    return heldBySystem(port) < 0;
}

Wake sleepUntilInput(QSerialPort& port, Deadline deadline)
{
    for (;;) {
        pollfd p{int(port.handle()), POLLIN, 0};
        const int ready = ::poll(&p, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno != EINTR)
            return Wake::Gone;
        if (ready > 0)
            return (p.revents & HangUp) ? Wake::Gone : Wake::Input;
        if (Clock::now() >= deadline)
            return Wake::Deadline;
    }
}

#else // Windows: Qt's overlapped reads fill the buffer; it only needs a chance to run.

bool isPseudoTerminal(const QString&)
{
    return false;
}

int heldBySystem(QSerialPort& port)
{
    port.waitForReadyRead(0);
    return 0;
}

int takeHeld(QSerialPort& port, std::vector<std::uint8_t>& into)
{
    port.waitForReadyRead(0);
    const QByteArray bytes = port.readAll();
    into.insert(into.end(), bytes.begin(), bytes.end());
    return int(bytes.size());
}

int takeHeldNow(QSerialPort& port, std::vector<std::uint8_t>& into)
{
    return takeHeld(port, into);
}

qint64 writeNow(QSerialPort& port, std::string_view bytes)
{
    const qint64 sent = port.write(bytes.data(), qint64(bytes.size()));
    return sent >= 0 && port.flush() ? sent : -1;
}

// Windows opens a port for one program only.
Refusal DeviceClaim::take(const QString&, QString*)
{
    return Refusal::None;
}

void DeviceClaim::release() {}

QString owningGroup(const QString&)
{
    return {};
}

bool deviceGone(QSerialPort& port)
{
    return port.error() == QSerialPort::ResourceError;
}

Wake sleepUntilInput(QSerialPort& port, Deadline deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 0 && port.waitForReadyRead(int(left.count())))
        return Wake::Input;
    return deviceGone(port) ? Wake::Gone : Wake::Deadline;
}

#endif

} // namespace kora::ttyline
