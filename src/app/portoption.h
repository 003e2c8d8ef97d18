#pragma once

#include <QCommandLineOption>

namespace kora {

// --port N=DEVICE, the same in the window and the headless poller, so that
// both read and explain it alike (see PortMap::pinFromArgument).
inline QCommandLineOption PortPinOption()
{
    return {QStringLiteral("port"), QStringLiteral("Pins port number N (1-8) to DEVICE."),
            QStringLiteral("N=DEVICE")};
}

} // namespace kora
