#include "serial/mscomm.h"

#include "serial/ttyline.h"

#include <thread>

namespace kora {

namespace {
QString inUse()
{
    return QStringLiteral("is in use by another program");
}

// The command the operator can run as it is; a group that cannot be told
// is most often dialout.
QString noPermission(const QString& group)
{
    if (group.isEmpty())
        return QStringLiteral("cannot be opened: permission denied (the user needs to be in "
                              "the group that owns the device, usually dialout)");
    return QStringLiteral("cannot be opened: permission denied (the user needs to be in the "
                          "group %1, which owns the device: sudo usermod -aG %1 \"$USER\", "
                          "then log in again)")
        .arg(group);
}
} // namespace

MSComm::MSComm(PortMap portMap, QObject* parent)
    : QObject(parent), ports(std::move(portMap)), port(new QSerialPort(this))
{
    connect(port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
}

MSComm::~MSComm()
{
    close();
}

void MSComm::setPortNumber(int n)
{
    if (n < 1 || n > 8)
        throw SerialError(
            InvalidPropertyValue,
            QStringLiteral("Invalid property value: port number %1 is not 1 to 8").arg(n));
    number = n;
}

int MSComm::portNumber() const
{
    return number;
}

void MSComm::setSettings(const QString& text)
{
    line = LineSettings::fromText(text);
    if (port->isOpen())
        applyLine();
}

void MSComm::setReadLength(int length)
{
    if (length < 0)
        throw SerialError(InvalidPropertyValue,
                          QStringLiteral("Invalid property value: read length %1").arg(length));
    readLength = length;
}

void MSComm::setDtr(bool on)
{
    dtr = on;
    if (port->isOpen())
        assertModemLines();
}

void MSComm::setRts(bool on)
{
    rts = on;
    if (port->isOpen())
        assertModemLines();
}

// Reads hand over raw bytes whatever the mode: the poll transaction only
// ever asks for binary input, and a text mode would gain it nothing.
void MSComm::setBinaryInput(bool) {}

void MSComm::onDeviceLost(DeviceLost handler)
{
    lostHandler = std::move(handler);
}

void MSComm::lookAgain()
{
    look = ports.look();
}

QString MSComm::device() const
{
    return look.deviceFor(number);
}

QString MSComm::deviceFor(int n) const
{
    return look.deviceFor(n);
}

QString MSComm::describe(int n) const
{
    return look.describe(n);
}

QString MSComm::identityFor(int n) const
{
    return look.identityFor(n);
}

bool MSComm::isOpen() const
{
    return port->isOpen();
}

void MSComm::open()
{
    requireClosed();
    const QString path = look.deviceFor(number);
    if (path.isEmpty())
        throw SerialError(InvalidPortNumber,
                          QStringLiteral("Invalid port number: port %1 has no device on this "
                                         "system (name one with --port %1=DEVICE)")
                              .arg(number));
    openDevice(number, path);
}

void MSComm::reopen()
{
    if (openedDevice.isEmpty())
        return open();
    requireClosed();
    openDevice(openedNumber, openedDevice);
}

// The device is this program's before Qt opens it: a program refused it
// never opens it through Qt, whose close would end the holder's exclusive
// use of the device.
void MSComm::openDevice(int n, const QString& path)
{
    openedNumber = n;
    openedDevice = path;
    onPseudoTerminal = ttyline::isPseudoTerminal(path);
    QString reason;
    const ttyline::Refusal refusal = claim.take(path, &reason);
    if (refusal != ttyline::Refusal::None)
        refuseOpen(refusal, reason);
    try {
        port->setPortName(path);
        applyLine();
        if (!port->open(QIODevice::ReadWrite))
            refuseQtOpen();
        assertModemLines();
    } catch (const SerialError&) {
        close();
        throw;
    }
}

// Names the cause in words the operator can act on; the system's own reason
// is kept where there are none better.
void MSComm::refuseOpen(ttyline::Refusal refusal, const QString& reason)
{
    switch (refusal) {
    case ttyline::Refusal::InUse:
        refuse(DeviceUnavailable, inUse());
    case ttyline::Refusal::NotSerial:
        refuse(NotASerialPort, QStringLiteral("is not a serial port"));
    case ttyline::Refusal::NoPermission:
        refuse(DeviceUnavailable, noPermission(ttyline::owningGroup(openedDevice)));
    case ttyline::Refusal::None:
    case ttyline::Refusal::Other:
        break;
    }
    refuse(DeviceUnavailable, QStringLiteral("cannot be opened: %1").arg(reason));
}

// Qt's open of a device already this program's. Qt reports its own lock
// file, held by a program that locks by lock files alone, as a permission
// error: that device is in use.
void MSComm::refuseQtOpen()
{
    const QSerialPort::SerialPortError error = port->error();
    const QString reason = port->errorString();
    port->clearError();
    if (error == QSerialPort::PermissionError)
        refuse(DeviceUnavailable, inUse());
    refuse(error == QSerialPort::UnsupportedOperationError ? CommStateFailed : DeviceUnavailable,
           QStringLiteral("cannot be opened: %1").arg(reason));
}

void MSComm::close()
{
    inbox.clear();
    if (port->isOpen())
        port->close();
    port->clearError();
    claim.release();
}

// Straight to the system: the caller then waits for the reply without
// returning to the event loop. A system that takes only part (its buffer
// full) leaves the rest to the port, which sends it as the line drains.
void MSComm::write(std::string_view text)
{
    requireOpen("write");
    const qint64 sent = ttyline::writeNow(*port, text);
    if (sent == qint64(text.size()))
        return;
    QString why = sent < 0 ? qt_error_string() : QString();
    if (sent >= 0) {
        const QByteArray rest(text.data() + sent, qsizetype(text.size()) - qsizetype(sent));
        if (port->write(rest) == rest.size() && port->flush())
            return;
        why = port->errorString();
    }
    if (port->isOpen() && ttyline::deviceGone(*port))
        loseDevice(QStringLiteral("the device has gone away"));
    refuse(DeviceIoFailed,
           QStringLiteral("write failed: %1")
               .arg(port->isOpen() ? why : QStringLiteral("the device has gone away")));
}

int MSComm::waitingCount()
{
    requireOpen("waiting count");
    takeInHeldBytes();
    return int(inbox.size());
}

std::vector<std::uint8_t> MSComm::readAll()
{
    requireOpen("read");
    takeInHeldBytes();
    const std::size_t count =
        readLength > 0 ? std::min(inbox.size(), std::size_t(readLength)) : inbox.size();
    std::vector<std::uint8_t> bytes(inbox.begin(), inbox.begin() + std::ptrdiff_t(count));
    inbox.erase(inbox.begin(), inbox.begin() + std::ptrdiff_t(count));
    return bytes;
}

void MSComm::discardInput()
{
    requireOpen("discard input");
    // Drops what was taken in and what the system still holds.
    inbox.clear();
    if (!port->clear(QSerialPort::Input))
        refuse(DeviceIoFailed, QStringLiteral("discarding input failed"));
}

void MSComm::waitForInput(Deadline deadline, int bytesWanted)
{
    if (!port->isOpen())
        return;
    const std::size_t before = inbox.size();
    // What the system holds ends the sleep at once, so only the port's own
    // buffer is looked at first: no system call before the sleep.
    takeInBuffered();
    if (inbox.size() > before)
        return;
    switch (ttyline::sleepUntilInput(*port, deadline)) {
    case ttyline::Wake::Input:
        takeInHeldNow();
        sleepThroughRest(bytesWanted - int(inbox.size() - before), deadline);
        break;
    case ttyline::Wake::Gone:
        loseDevice(QStringLiteral("the device hung up"));
        break;
    case ttyline::Wake::Deadline:
        break;
    }
}

// A reply comes one character at a time at the line rate; once it has
// started, sleeping for the time the rest needs costs one wake-up where
// waking for every byte would cost one a character. The whole rest, not all
// but its last character: waking a character early costs a second wake-up
// for that one byte, which is most of a good poll's CPU, and waking late
// adds a fraction of a millisecond to a poll of 100 ms or more. A sender
// that pauses between characters is waited for as before.
void MSComm::sleepThroughRest(int missing, Deadline deadline)
{
    if (missing <= 1 || !port->isOpen())
        return;
    std::this_thread::sleep_until(
        std::min(deadline, Deadline::clock::now() + missing * line.characterTime()));
    takeInHeldNow();
}

QString MSComm::portText() const
{
    return QStringLiteral("Port %1 (%2)").arg(openedNumber).arg(openedDevice);
}

void MSComm::refuse(int errorNumber, const QString& what) const
{
    throw SerialError(errorNumber, portText() + QLatin1Char(' ') + what);
}

// A pseudo-terminal keeps its line 8N1 whatever is asked, and the C library
// reports a request whose only changes the kernel drops as "Invalid
// argument", which would refuse the open of a pty already set up that way.
// On a pty the line is therefore asked for as the kernel will keep it.
void MSComm::applyLine()
{
    const bool applied = port->setBaudRate(line.baudRate) &&
                         port->setDataBits(onPseudoTerminal ? QSerialPort::Data8 : line.dataBits) &&
                         port->setParity(onPseudoTerminal ? QSerialPort::NoParity : line.parity) &&
                         port->setStopBits(line.stopBits) &&
                         port->setFlowControl(QSerialPort::NoFlowControl);
    if (!applied)
        refuse(CommStateFailed,
               QStringLiteral("refused the line settings: %1").arg(port->errorString()));
}

// A pty has no modem lines and refuses the calls; on a serial port a refusal
// is a real fault.
void MSComm::assertModemLines()
{
    if (onPseudoTerminal)
        return;
    if (!port->setDataTerminalReady(dtr) || !port->setRequestToSend(rts))
        refuse(CommStateFailed, QStringLiteral("refused DTR or RTS: %1").arg(port->errorString()));
}

void MSComm::requireClosed() const
{
    if (port->isOpen())
        refuse(PortAlreadyOpen, QStringLiteral("is already open"));
}

void MSComm::requireOpen(const char* operation) const
{
    if (!port->isOpen())
        throw SerialError(
            PortNotOpen, QStringLiteral("Operation valid only when the port is open: %1 on port %2")
                             .arg(QLatin1String(operation))
                             .arg(number));
}

// The caller counts and reads without returning to the event loop, so bytes
// the system holds are taken in here, in one read, behind any the event loop
// gave the port's buffer meanwhile, which came first.
void MSComm::takeInHeldBytes()
{
    if (!port->isOpen())
        return;
    takeInBuffered();
    if (ttyline::takeHeld(*port, inbox) < 0)
        loseDevice(QStringLiteral("the device no longer answers"));
}

void MSComm::takeInBuffered()
{
    if (port->bytesAvailable() > 0) {
        const QByteArray buffered = port->readAll();
        inbox.insert(inbox.end(), buffered.begin(), buffered.end());
    }
}

// Right after a wake for input, or a sleep for the rest of a reply: a device
// that hung up meanwhile reads as empty here and is told apart at the next
// waiting count or wait.
void MSComm::takeInHeldNow()
{
    if (port->isOpen() && ttyline::takeHeldNow(*port, inbox) < 0)
        loseDevice(QStringLiteral("the device no longer answers"));
}

// Qt goes on reporting a hung-up device as fast as the event loop turns
// until the port is closed, so the first report of a dead device closes it.
// A failed read alone proves nothing: the event loop may find the device
// readable after the poll has taken the bytes in.
void MSComm::onPortError(QSerialPort::SerialPortError error)
{
    const bool ioError = error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
                         error == QSerialPort::ResourceError;
    if (ioError && port->isOpen() && ttyline::deviceGone(*port))
        loseDevice(QStringLiteral("the device has gone away"));
}

void MSComm::loseDevice(const QString& why)
{
    if (!port->isOpen())
        return;
    close();
    const QString reason = QStringLiteral("%1: %2").arg(portText(), why);
    emit deviceLost(reason);
    if (lostHandler)
        lostHandler(reason);
}

} // namespace kora
