#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace kora {

// Resolves port numbers 1-8 to devices. Pinned numbers (--port N=DEVICE)
// win; otherwise port n is COMn on Windows, and elsewhere the n-th serial
// port the system lists, USB adapters first, each group in name order. The
// listing is read at each resolution, so a port plugged in later is found.
class PortMap
{
public:
    void pin(int n, const QString& device);
    QString deviceFor(int n) const;

    // Port n's device with what the system says of it, "/dev/ttyUSB0: FT232R
    // USB UART, FTDI, serial A10K2", or "no device".
    QString describe(int n) const;
    // Ports 1 to 8, a line each, for --list-ports.
    QString table() const;

    // "N=DEVICE" as given to --port; returns false and says why on a bad text.
    bool pinFromArgument(const QString& text, QString* error = nullptr);

    // Orders system port names as the numbering above uses them.
    static QStringList orderedSystemPorts(QStringList names);

    // A few lines for --help on how port numbers reach devices.
    static QString numberingHelp();

private:
    QMap<int, QString> pinned;
};

} // namespace kora
