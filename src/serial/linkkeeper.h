#pragma once

#include "serial/serialport.h"

#include "serial/serialerror.h"

#include <QString>
#include <functional>
#include <optional>

namespace kora {

// Keeps the port open for a run. The first open of a run uses the port
// number of the moment; once the device has gone away while running, only
// that same device is tried again, quietly, until the run ends: by then the
// number may lead to another adapter, or another button may be chosen.
class LinkKeeper
{
public:
    enum class Result { Open, Reconnected, StillLost };

    // Takes over the port's lost-device callback.
    explicit LinkKeeper(SerialPort& port);

    void beginRun();
    void endRun();
    bool lost() const { return lost_; }

    // Opens the port if it is closed. A first open that fails throws the
    // port's SerialError; a lost device that is still away is StillLost.
    Result ensureOpen(int portNumber);

    // Why the lost device was refused at the last try; unset once it is back.
    const std::optional<SerialError>& lastRefusal() const { return refusal_; }

    // Told of a device that went away while running, after the port closed.
    std::function<void(const QString& reason)> onLost;

private:
    SerialPort& port_;
    bool running_ = false;
    bool lost_ = false;
    std::optional<SerialError> refusal_;
};

} // namespace kora
