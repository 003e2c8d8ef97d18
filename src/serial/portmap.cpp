#include "serial/portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

namespace kora {

namespace {

bool isUsbAdapter(const QString& name)
{
    static const char* const prefixes[] = {"ttyUSB", "ttyACM", "cu.usb", "tty.usb"};
    return std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&](const char* p) { return name.startsWith(QLatin1String(p)); });
}

qsizetype endOfDigits(const QString& s, qsizetype k)
{
    while (k < s.size() && s[k].isDigit())
        ++k;
    return k;
}

QStringView withoutLeadingZeros(QStringView digits)
{
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    return digits;
}

// Compares names with runs of digits taken as numbers, so ttyS2 < ttyS10.
bool naturallyBefore(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype ei = endOfDigits(a, i), ej = endOfDigits(b, j);
            const QStringView x = withoutLeadingZeros(QStringView(a).mid(i, ei - i));
            const QStringView y = withoutLeadingZeros(QStringView(b).mid(j, ej - j));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (const int c = x.compare(y); c != 0)
                return c < 0;
            i = ei, j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i, ++j;
    }
    return a.size() - i < b.size() - j;
}

// USB adapters first, then the rest, each group in natural name order.
bool numberedBefore(const QString& a, const QString& b)
{
    if (isUsbAdapter(a) != isUsbAdapter(b))
        return isUsbAdapter(a);
    return naturallyBefore(a, b);
}

// A pinned path is taken as given and may name nothing, a typing mistake or
// a simulator's link left behind: said before START fails on it. A COM name
// on Windows is no path to look for.
QString missingMark(const QString& device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return {};
#else
    return QFileInfo::exists(device) ? QString() : QStringLiteral("; no such file");
#endif
}

} // namespace

QList<ListedPort> ListSystemPorts()
{
    QList<ListedPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        ListedPort port{info.portName(), info.systemLocation(), info.description(),
                        info.manufacturer(), info.serialNumber()};
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            port.usbIds = std::pair(info.vendorIdentifier(), info.productIdentifier());
        ports.append(port);
    }
    return ports;
}

PortLook::PortLook(QMap<int, QString> pinnedPorts, PortLister portLister, QString linksDir)
    : pinned(std::move(pinnedPorts)), lister(std::move(portLister)), links(std::move(linksDir))
{}

const QList<ListedPort>& PortLook::listed() const
{
    if (!ports) {
        ports = lister ? lister() : QList<ListedPort>();
        std::stable_sort(ports->begin(), ports->end(),
                         [](const ListedPort& a, const ListedPort& b) {
                             return numberedBefore(a.name, b.name);
                         });
    }
    return *ports;
}

QString PortLook::deviceFor(int n) const
{
    if (n < 1 || n > 8)
        return {};
    if (pinned.contains(n))
        return pinned.value(n);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return n <= listed().size() ? listed()[n - 1].location : QString();
#endif
}

QString PortLook::describe(int n) const
{
    const QString device = deviceFor(n);
    if (device.isEmpty())
        return QStringLiteral("no device");
    QStringList known;
    const auto port = std::find_if(listed().begin(), listed().end(), [&](const ListedPort& p) {
        return p.location == device || p.name == device;
    });
    if (port != listed().end()) {
        for (const QString& part : {port->description, port->manufacturer})
            if (!part.isEmpty())
                known << part;
        if (!port->serialNumber.isEmpty())
            known << QStringLiteral("serial ") + port->serialNumber;
    }
    if (pinned.contains(n))
        known << QStringLiteral("pinned with --port") + missingMark(device);
    return known.isEmpty() ? device
                           : device + QStringLiteral(": ") + known.join(QStringLiteral(", "));
}

QString PortLook::table() const
{
    QString text;
    for (int n = 1; n <= 8; ++n) {
        const QString byId = linkTo(QStringLiteral("by-id"), deviceFor(n));
        text += QStringLiteral("port %1  %2%3\n")
                    .arg(n)
                    .arg(describe(n), byId.isEmpty() ? QString() : QStringLiteral(", ") + byId);
    }
    return text;
}

QString PortLook::linkTo(const QString& kind, const QString& device) const
{
    const QString real = QFileInfo(device).canonicalFilePath();
    if (real.isEmpty())
        return {};
    const QDir dir(links + u'/' + kind);
    for (const QFileInfo& link :
         dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        if (link.canonicalFilePath() == real)
            return link.absoluteFilePath();
    return {};
}

// The kernel numbers adapters in the order it finds them, and a link (a
// by-id name, a simulator's) may be pointed elsewhere: neither says which
// adapter is there. Its USB descriptors do, or the USB port it is plugged
// into; a device with neither is the one the path leads to now.
QString PortLook::identityFor(int n) const
{
    const QString device = deviceFor(n);
    if (device.isEmpty())
        return {};
    const QString real = QFileInfo(device).canonicalFilePath();
    // The system lists no pseudo-terminal: a simulator's costs no reading.
    if (real.startsWith(QLatin1String("/dev/pts/")))
        return real;
    const auto port = std::find_if(listed().begin(), listed().end(), [&](const ListedPort& p) {
        return !real.isEmpty() && QFileInfo(p.location).canonicalFilePath() == real;
    });
    if (port != listed().end() && port->usbIds) {
        const QString usb = QStringLiteral("usb %1:%2")
                                .arg(port->usbIds->first, 4, 16, QLatin1Char('0'))
                                .arg(port->usbIds->second, 4, 16, QLatin1Char('0'));
        if (!port->serialNumber.isEmpty())
            return usb + QStringLiteral(" serial ") + port->serialNumber;
        const QString byPath = linkTo(QStringLiteral("by-path"), real);
        if (!byPath.isEmpty())
            return usb + QStringLiteral(" at ") + QFileInfo(byPath).fileName();
    }
    return real.isEmpty() ? device : real;
}

PortMap::PortMap(PortLister portLister, QString linksDir)
    : lister(std::move(portLister)), links(std::move(linksDir))
{}

void PortMap::pin(int n, const QString& device)
{
    pinned.insert(n, device);
}

PortLook PortMap::look() const
{
    return PortLook(pinned, lister, links);
}

bool PortMap::pinFromArgument(const QString& text, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("--port %1: %2").arg(text, why);
        return false;
    };
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return fail(QStringLiteral("expected N=DEVICE, e.g. 1=/dev/ttyUSB0"));
    const QString numberText = text.left(eq);
    bool ok = false;
    const int n = numberText.toInt(&ok);
    const bool digitsOnly =
        std::all_of(numberText.begin(), numberText.end(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digitsOnly || n < 1 || n > 8)
        return fail(QStringLiteral("the port number must be 1 to 8, not \"%1\"").arg(numberText));
    const QString device = text.mid(eq + 1);
    if (device.isEmpty())
        return fail(QStringLiteral("no device after \"%1=\"").arg(numberText));
    pin(n, device);
    return true;
}

QStringList PortMap::orderedSystemPorts(QStringList names)
{
    std::sort(names.begin(), names.end(), numberedBefore);
    return names;
}

QString PortMap::numberingHelp()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Ports 1 to 8 are COM1 to COM8.\n"
                          "--port N=DEVICE  reach port N (1-8) through DEVICE instead, e.g. "
                          "--port 1=COM12; may be repeated.\n");
#else
    return QStringLiteral(
        "Ports 1 to 8 are the serial ports the system lists, USB adapters (ttyUSB, ttyACM,\n"
        "cu.usb...) first, then built-in ports (ttyS...), each group in name order: with one\n"
        "USB adapter plugged in, it is port 1. The list is read at each START, so an adapter\n"
        "plugged in later is found.\n"
        "--port N=DEVICE  reach port N (1-8) through DEVICE instead, e.g. --port 1=/dev/ttyUSB0\n"
        "                 or a pseudo-terminal such as the simulator's; may be repeated.\n"
        "A port that cannot be opened for lack of permission needs the user in the group that\n"
        "owns the device, usually dialout: sudo usermod -aG dialout $USER, then log in again.\n");
#endif
}

} // namespace kora
