#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kora {

// What the system lists of one serial port.
struct ListedPort
{
    QString name;     // "ttyUSB0"
    QString location; // "/dev/ttyUSB0"
    QString description;
    QString manufacturer;
    QString serialNumber;
};

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
    // Ports 1 to 8, a line each, for --list-ports.
    QString table() const;

private:
    friend class PortMap;
    PortLook(QMap<int, QString> pinned, PortLister lister);
    const QList<ListedPort>& listed() const; // in the numbering's order

    QMap<int, QString> pinned;
    PortLister lister;
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
    explicit PortMap(PortLister lister);

    void pin(int n, const QString& device);
    PortLook look() const;

    // Each of these takes a look of its own.
    QString deviceFor(int n) const { return look().deviceFor(n); }
    QString describe(int n) const { return look().describe(n); }
    QString table() const { return look().table(); }

    // "N=DEVICE" as given to --port; returns false and says why on a bad text.
    bool pinFromArgument(const QString& text, QString* error = nullptr);

    // Orders system port names as the numbering above uses them.
    static QStringList orderedSystemPorts(QStringList names);

    // A few lines for --help on how port numbers reach devices.
    static QString numberingHelp();

private:
    QMap<int, QString> pinned;
    PortLister lister = ListSystemPorts;
};

} // namespace kora
