#pragma once

#include "protocol/acceptorlink.h"

#include <QString>
#include <functional>
#include <string>

namespace kora {

// The acceptor's line: 9600 baud, even parity, 7 data bits, 1 stop bit.
inline constexpr char AcceptorLineSettings[] = "9600, E, 7, 1";

// What start-up and the poll timer need of the serial port: its settings,
// open and close, the line itself, and word of a device that went away. The
// window holds one; the program hands it the real port over Qt SerialPort.
// open and reopen throw SerialError (serialerror.h) when the port cannot be
// had; settings it cannot use throw SerialError too.
class SerialPort : public AcceptorLink
{
public:
    virtual void setPortNumber(int n) = 0; // 1-8; takes effect at the next open
    virtual int portNumber() const = 0;
    virtual void setSettings(const QString& text) = 0; // "9600, E, 7, 1"
    virtual void setReadLength(int length) = 0;        // 0: a read returns every waiting byte
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    virtual void setBinaryInput(bool binary) = 0;
    // Reads the system's port list afresh at the next need; until the next
    // call, every port number resolves against that one reading.
    virtual void lookAgain() {}
    // The device port number n leads to; empty for none.
    virtual QString deviceFor(int n) const = 0;
    // What tells the adapter on port n from any other (PortLook::identityFor);
    // a port that knows no more gives its device.
    virtual QString identityFor(int n) const { return deviceFor(n); }
    // The same device with what the system says of it, or "no device".
    virtual QString describe(int n) const
    {
        const QString device = deviceFor(n);
        return device.isEmpty() ? QStringLiteral("no device") : device;
    }

    // Opens the device the port number leads to.
    virtual void open() = 0;
    // Opens again the device opened last, whatever the number leads to now.
    virtual void reopen() = 0;
    virtual void close() = 0;

    // Called when the device goes away while open (adapter pulled, far end
    // closed), once the port has closed itself.
    using DeviceLost = std::function<void(const QString& reason)>;
    virtual void onDeviceLost(DeviceLost handler) = 0;
};

// What a run on port n polls, for its log and its messages:
// "port 1 (/dev/ttyUSB0), 9600, E, 7, 1".
inline std::string RunDescription(const SerialPort& port, int n)
{
    return QStringLiteral("port %1 (%2), %3")
        .arg(n)
        .arg(port.deviceFor(n), QLatin1String(AcceptorLineSettings))
        .toStdString();
}

// The line start-up gives a port for the acceptor, in the order the serial
// object takes them: line settings, read length 0, DTR and RTS on, binary
// input. The port stays as it is, open or closed.
inline void ConfigureAcceptorLine(SerialPort& port)
{
    port.setSettings(QString::fromLatin1(AcceptorLineSettings));
    port.setReadLength(0);
    port.setDtr(true);
    port.setRts(true);
    port.setBinaryInput(true);
}

} // namespace kora
