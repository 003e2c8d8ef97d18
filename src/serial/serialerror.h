#pragma once

#include <QString>
#include <stdexcept>

namespace kora {

// The numbers a SerialError carries. They follow the numbering operators know
// from the Windows communications control, so a message box reads as it did
// there.
enum SerialErrorNumber : int {
    InvalidPropertyValue = 380, // port number outside 1-8, line settings or read length unusable
    InvalidPortNumber = 8002,   // the port number leads to no device on this system
    PortAlreadyOpen = 8005,     // open while the port is open
    NotASerialPort = 8006,      // the device is no terminal: a file, a FIFO, /dev/null
    DeviceUnavailable = 8010,   // the device cannot be opened: missing, busy, no permission
    CommStateFailed = 8015,     // a serial port refused the line settings, DTR or RTS
    PortNotOpen = 8018,         // an operation that needs the port open
    DeviceIoFailed = 8020,      // a read or write failed, or the device went away
};

// A port error the operator sees: a number and a description that names the
// port number, the device and the system's reason.
class SerialError : public std::runtime_error
{
public:
    SerialError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number)
    {}
    int number() const { return number_; }
    // What the operator reads: "Error 8010: Port 1 (/dev/ttyUSB0) is in use
    // by another program".
    QString describe() const
    {
        return QStringLiteral("Error %1: %2").arg(number_).arg(QString::fromStdString(what()));
    }

private:
    int number_ = 0;
};

} // namespace kora
