#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

namespace kora {

// What the system lists of one serial port.
struct ListedPort
{
    QString name;     // "ttyUSB0"
    QString location; // "/dev/ttyUSB0"
    QString description;
    QString manufacturer;
    QString serialNumber;
    // A USB adapter's vendor and product; unset for a built-in port.
    std::optional<std::pair<quint16, quint16>> usbIds = std::nullopt;
};

// Where the system keeps its stable names of serial devices: by-id (a USB
// adapter's vendor, product and serial number) and by-path (its USB port).
inline constexpr char SerialLinksDir[] = "/dev/serial";

// Reads the system's list of serial ports. Reading it opens thousands of
// files on Linux, so every reading goes through one of these.
using PortLister = std::function<QList<ListedPort>()>;

// The list as Qt SerialPort reads it.
QList<ListedPort> ListSystemPorts();

class PortMap;

// One look at the system's ports: numbers resolve against the list as it
// stood when first needed, which is read once however many ports are asked
// about. A look that needs only pinned devices reads nothing.
class PortLook
{
public:
    QString deviceFor(int n) const;
    // Port n's device with what the system says of it, "/dev/ttyUSB0: FT232R
    // USB UART, FTDI, serial A10K2", or "no device".
    QString describe(int n) const;
    // Ports 1 to 8, a line each, for --list-ports; with its by-id name, a
    // port that has one.
    QString table() const;
    // What tells port n's adapter from any other, whatever name the kernel
    // gave it this time: "usb 0403:6001 serial A10K2" for a USB adapter, or
    // "usb 0403:6001 at pci-0000:00:14.0-usb-0:2:1.0" (its USB port, by-path)
    // when it has no serial number; for any other device, the device the
    // path leads to ("/dev/ttyS0", "/dev/pts/3"). Empty for no device.
    QString identityFor(int n) const;

private:
    friend class PortMap;
    PortLook(QMap<int, QString> pinned, PortLister lister, QString links);
    const QList<ListedPort>& listed() const; // in the numbering's order
    // The link in links/`kind` that leads to `device`; empty for none.
    QString linkTo(const QString& kind, const QString& device) const;

    QMap<int, QString> pinned;
    PortLister lister;
    QString links; // SerialLinksDir, or a test's stand-in
    mutable std::optional<QList<ListedPort>> ports;
};

// Resolves port numbers 1-8 to devices. Pinned numbers (--port N=DEVICE)
// win; otherwise port n is COMn on Windows, and elsewhere the n-th serial
// port the system lists, USB adapters first, each group in name order. Each
// look reads the list afresh, so a port plugged in later is found.
class PortMap
{
public:
    PortMap() = default;
    explicit PortMap(PortLister lister, QString links = QString::fromLatin1(SerialLinksDir));

    void pin(int n, const QString& device);
    PortLook look() const;

    // Each of these takes a look of its own.
    QString deviceFor(int n) const { return look().deviceFor(n); }
    QString describe(int n) const { return look().describe(n); }
    QString table() const { return look().table(); }
    QString identityFor(int n) const { return look().identityFor(n); }

    // "N=DEVICE" as given to --port; returns false and says why on a bad text.
    bool pinFromArgument(const QString& text, QString* error = nullptr);

    // Orders system port names as the numbering above uses them.
    static QStringList orderedSystemPorts(QStringList names);

    // A few lines for --help on how port numbers reach devices.
    static QString numberingHelp();

private:
    QMap<int, QString> pinned;
    PortLister lister = ListSystemPorts;
    QString links = QString::fromLatin1(SerialLinksDir);
};

} // namespace kora
