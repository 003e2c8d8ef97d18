#include "serial/linkkeeper.h"

#include "serial/serialerror.h"

namespace kora {

LinkKeeper::LinkKeeper(SerialPort& port) : port_(port)
{
    port_.onDeviceLost([this](const QString& reason) {
        if (!running_)
            return;
        lost_ = true;
        if (onLost)
            onLost(reason);
    });
}

void LinkKeeper::beginRun()
{
    running_ = true;
    lost_ = false;
}

void LinkKeeper::endRun()
{
    running_ = false;
    lost_ = false;
    refusal_.reset();
}

LinkKeeper::Result LinkKeeper::ensureOpen(int portNumber)
{
    if (port_.isOpen())
        return Result::Open;
    if (!lost_) {
        port_.setPortNumber(portNumber);
        port_.open();
        return Result::Open;
    }
    try {
        port_.reopen();
    } catch (const SerialError& e) {
        refusal_ = e;
        return Result::StillLost;
    }
    refusal_.reset();
    lost_ = false;
    return Result::Reconnected;
}

} // namespace kora
