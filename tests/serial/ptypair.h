#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A kernel pseudo-terminal. The port under test opens its slave side by path;
// the test plays the far end (the acceptor) through the master.
class PtyPair
{
public:
    PtyPair()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            device = QString::fromLocal8Bit(name);
            ::close(slave); // the port under test is to be the only slave user
        }
    }
    ~PtyPair() { closeFarEnd(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool valid() const { return master >= 0 && !device.isEmpty(); }

    void send(const QByteArray& bytes) const
    {
        [[maybe_unused]] const auto n = ::write(master, bytes.constData(), size_t(bytes.size()));
    }

    // Reads from the far end until `count` bytes came or `timeoutMs` passed.
    QByteArray receive(int count, int timeoutMs = 1000) const
    {
        QByteArray got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1 || !(p.revents & POLLIN))
                continue;
            char buf[256];
            const auto n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
        return got;
    }

    void closeFarEnd()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    int farEnd() const { return master; }

    QString device;

private:
    int master = -1;
};

inline double cpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
