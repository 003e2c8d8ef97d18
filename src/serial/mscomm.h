#pragma once

#include "serial/linesettings.h"
#include "serial/portmap.h"
#include "serial/serialerror.h"
#include "serial/serialport.h"
#include "serial/ttyline.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

namespace kora {

// The serial communications object through which every byte to and from the
// acceptor passes. Settings are kept and applied at each open; all input is
// polled by the caller, no receive notifications are used.
class MSComm : public QObject, public SerialPort
{
    Q_OBJECT

public:
    explicit MSComm(PortMap ports = {}, QObject* parent = nullptr);
    ~MSComm() override;

    // Settings are kept and applied at each open; line settings, DTR and RTS
    // given while open also apply at once. Unusable values throw SerialError
    // (InvalidPropertyValue) and leave the setting as it was.
    void setPortNumber(int n) override; // 1-8; takes effect at the next open
    int portNumber() const override;
    void
    setSettings(const QString& text) override; // "9600, E, 7, 1"; throws SerialError if unusable
    void setReadLength(int length) override;   // 0: a read returns every waiting byte; n: at most n
    void setDtr(bool on) override;             // asserted while open
    void setRts(bool on) override;
    void setBinaryInput(bool binary) override;
    void lookAgain() override;
    QString device() const; // the device the port number resolves to
    QString deviceFor(int n) const override;
    QString describe(int n) const override;
    QString identityFor(int n) const override;

    // Operations other than open throw SerialError (PortNotOpen) on a closed
    // port, except isOpen, close and waitForInput, which return at once.
    bool isOpen() const override;
    // Opens the device the port number leads to, and takes the device
    // for this program alone before Qt opens it. Throws SerialError, see
    // serialerror.h.
    void open() override;
    // Opens again the device opened last, under the number it had then,
    // whatever the port number and the port list say now: after a device
    // went away, only that device is the acceptor. Before any open, as open().
    void reopen() override;
    void close() override;
    void write(std::string_view text) override;
    int waitingCount() override;
    std::vector<std::uint8_t> readAll() override;
    void discardInput() override;
    void waitForInput(Deadline deadline, int bytesWanted) override;

    void onDeviceLost(DeviceLost handler) override;

signals:
    // The device went away while open (adapter pulled, far end closed); the
    // port has closed itself by the time this is emitted.
    void deviceLost(const QString& reason);

private:
    void openDevice(int n, const QString& path);
    [[noreturn]] void refuseOpen(ttyline::Refusal refusal, const QString& reason);
    [[noreturn]] void refuseQtOpen();
    QString portText() const;
    [[noreturn]] void refuse(int errorNumber, const QString& what) const;
    void applyLine();
    void assertModemLines();
    void requireClosed() const;
    void requireOpen(const char* operation) const;
    void takeInHeldBytes();
    void takeInBuffered();
    void takeInHeldNow();
    void sleepThroughRest(int missing, Deadline deadline);
    void onPortError(QSerialPort::SerialPortError error);
    void loseDevice(const QString& why);

    PortMap ports;
    PortLook look = ports.look();
    DeviceLost lostHandler;
    QSerialPort* port = nullptr;
    ttyline::DeviceClaim claim; // held while the port is open
    int number = 1;
    int openedNumber = 1; // the port number and device opened last
    QString openedDevice;
    LineSettings line;
    int readLength = 0;
    bool dtr = false;
    bool rts = false;
    bool onPseudoTerminal = false;   // of the device opened last
    std::vector<std::uint8_t> inbox; // taken from the system, not yet read
};

} // namespace kora
