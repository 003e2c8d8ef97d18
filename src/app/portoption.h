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

// --list-ports: the table of ports 1 to 8 and the devices they reach, and
// the program ends.
inline QCommandLineOption ListPortsOption()
{
    return {QStringLiteral("list-ports"),
            QStringLiteral("Lists ports 1 to 8, the device each reaches and what the system says "
                           "of it, and exits.")};
}

} // namespace kora
