#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kora {

using Deadline = std::chrono::steady_clock::time_point;

// What the poll transaction needs of the serial line. The real port object
// implements it over Qt SerialPort; any operation may throw on a port error,
// and the poll transaction steps over such failures.
class AcceptorLink
{
public:
    virtual ~AcceptorLink() = default;

    virtual bool isOpen() const = 0;
    // Each character code goes out as one byte, in order.
    virtual void write(std::string_view text) = 0;
    // Received bytes not yet read.
    virtual int waitingCount() = 0;
    // Every waiting byte, in arrival order.
    virtual std::vector<std::uint8_t> readAll() = 0;
    virtual void discardInput() = 0;
    // Sleeps until more input is waiting or the deadline passes. Returns at
    // once when the port is closed or its device is gone. bytesWanted says
    // how many more bytes the caller needs: once input starts, the link may
    // sleep through the time those take on the line instead of waking for
    // every byte.
    virtual void waitForInput(Deadline deadline, int bytesWanted) = 0;
};

} // namespace kora
