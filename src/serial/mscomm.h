#pragma once

#include "acceptorlink.h"
#include "portmap.h"

#include <QObject>
#include <QString>

#include <stdexcept>

class QSerialPort;

namespace kora {

// A port error the operator sees: a number and a description that names the
// port number, the device and the system's reason.
class SerialError : public std::runtime_error
{
public:
    SerialError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number)
    {
    }
    int number() const { return number_; }

private:
    int number_ = 0;
};

// The serial communications object through which every byte to and from the
// acceptor passes. Settings are kept and applied at each open; all input is
// polled by the caller, no receive notifications are used.
class MSComm : public QObject, public AcceptorLink
{
    Q_OBJECT

public:
    explicit MSComm(PortMap ports = {}, QObject* parent = nullptr);
    ~MSComm() override;

    void setPortNumber(int n);               // 1-8; takes effect at the next open
    int portNumber() const;
    void setSettings(const QString& text);   // "9600, E, 7, 1"; throws SerialError if unusable
    void setReadLength(int length);          // 0: a read returns every waiting byte
    void setDtr(bool on);                    // asserted while open
    void setRts(bool on);
    void setBinaryInput(bool binary);
    QString device() const;                  // the device the port number resolves to now

    bool isOpen() const override;
    void open();                             // throws SerialError
    void close();
    void write(std::string_view text) override;
    int waitingCount() override;
    std::vector<std::uint8_t> readAll() override;
    void discardInput() override;
    void waitForInput(Deadline deadline) override;

signals:
    // The device went away while open (adapter pulled, far end closed); the
    // port has closed itself by the time this is emitted.
    void deviceLost(const QString& reason);
};

} // namespace kora
