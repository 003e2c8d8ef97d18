#pragma once

// What a host looks like to the simulated acceptor, written out by hand here
// so that the simulator's own framing is checked, not trusted.

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr std::uint8_t EscrowMode = 0x10;
constexpr std::uint8_t StackOrder = 0x20;
constexpr std::uint8_t ReturnOrder = 0x40;

// 02 08 (10|ack) enables orders 00 03 checksum-of-bytes-2-to-6.
inline Bytes hostMessage(int ack, std::uint8_t enables = 0x7F, std::uint8_t orders = EscrowMode)
{
    Bytes m{0x02, 0x08, static_cast<std::uint8_t>(0x10 | ack), enables, orders, 0x00, 0x03};
    m.push_back(static_cast<std::uint8_t>(m[1] ^ m[2] ^ m[3] ^ m[4] ^ m[5]));
    return m;
}

// XOR of bytes 2 to 9, what byte 11 of a good reply holds.
inline std::uint8_t replyChecksum(const Bytes& reply)
{
    std::uint8_t x = 0;
    for (std::size_t i = 1; i <= 8 && i < reply.size(); ++i)
        x ^= reply[i];
    return x;
}

inline int creditOf(const Bytes& reply)
{
    return (reply.at(5) >> 3) & 0x07;
}

// A host's end of a pseudo-terminal: the slave, opened as a host would.
class PtyClient
{
public:
    explicit PtyClient(const std::string& path, bool configureRaw = true)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0 && configureRaw) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~PtyClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    bool send(const Bytes& bytes)
    {
        sentAt_ = Clock::now();
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    Clock::time_point sentAt() const { return sentAt_; }

    // Reads until `count` bytes have come or `timeout` has passed; notes when
    // the first and the last byte came.
    Bytes read(std::size_t count, Ms timeout)
    {
        Bytes got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::ceil<Ms>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            if (!(p.revents & POLLIN)) {
                hungUp_ = true;
                break;
            }
            std::uint8_t buf[64];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) {
                hungUp_ = true;
                break;
            }
            if (got.empty())
                firstByteAt_ = Clock::now();
            got.insert(got.end(), buf, buf + n);
            lastByteAt_ = Clock::now();
        }
        return got;
    }
    // Every byte arriving within `window`.
    Bytes readFor(Ms window) { return read(SIZE_MAX, window); }

    Bytes exchange(const Bytes& message, Ms timeout = Ms{1000})
    {
        send(message);
        return read(11, timeout);
    }

    Clock::time_point firstByteAt() const { return firstByteAt_; }
    Clock::time_point lastByteAt() const { return lastByteAt_; }
    bool hungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    bool hungUp_ = false;
    Clock::time_point sentAt_{};
    Clock::time_point firstByteAt_{};
    Clock::time_point lastByteAt_{};
};

} // namespace simtest
