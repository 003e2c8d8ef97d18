#include "serial/linesettings.h"

#include "serial/serialerror.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace kora {

namespace {

// Rates the communications control offered that this system's serial driver
// sets directly; the others would need a custom divisor many adapters lack.
bool baudRateHonoured(qint32 baud)
{
    static constexpr std::array rates{110,   300,   600,   1200,   2400,   4800, 9600, 19200,
#ifdef Q_OS_WIN
                                      14400, 28800, 56000, 128000, 256000,
#endif
                                      38400, 57600, 115200};
    return std::find(rates.begin(), rates.end(), baud) != rates.end();
}

[[noreturn]] void refuse(const QString& text, const QString& why)
{
    throw SerialError(
        InvalidPropertyValue,
        QStringLiteral("Invalid property value: line settings \"%1\": %2").arg(text, why));
}

qint32 baudFrom(const QString& text, const QString& field)
{
    bool ok = false;
    const int baud = field.toInt(&ok);
    if (!ok || !baudRateHonoured(baud))
        refuse(text, QStringLiteral("\"%1\" is not a baud rate this system can set").arg(field));
    return baud;
}

QSerialPort::Parity parityFrom(const QString& text, const QString& field)
{
    const QString p = field.toUpper();
    if (p == QLatin1String("N"))
        return QSerialPort::NoParity;
    if (p == QLatin1String("E"))
        return QSerialPort::EvenParity;
    if (p == QLatin1String("O"))
        return QSerialPort::OddParity;
    if (p == QLatin1String("M"))
        return QSerialPort::MarkParity;
    if (p == QLatin1String("S"))
        return QSerialPort::SpaceParity;
    refuse(text, QStringLiteral("parity \"%1\" is not one of N, E, O, M, S").arg(field));
}

QSerialPort::DataBits dataBitsFrom(const QString& text, const QString& field)
{
    bool ok = false;
    const int bits = field.toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        refuse(text, QStringLiteral("data bits \"%1\" are not 5, 6, 7 or 8").arg(field));
    return static_cast<QSerialPort::DataBits>(bits);
}

QSerialPort::StopBits stopBitsFrom(const QString& text, const QString& field)
{
    if (field == QLatin1String("1"))
        return QSerialPort::OneStop;
    if (field == QLatin1String("2"))
        return QSerialPort::TwoStop;
    if (field == QLatin1String("1.5")) {
#ifdef Q_OS_WIN
        return QSerialPort::OneAndHalfStop;
#else
        refuse(text, QStringLiteral("1.5 stop bits cannot be set on this system"));
#endif
    }
    refuse(text, QStringLiteral("stop bits \"%1\" are not 1, 1.5 or 2").arg(field));
}

} // namespace

LineSettings LineSettings::fromText(const QString& text)
{
    QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(text, QStringLiteral("expected baud, parity, data bits, stop bits"));
    for (QString& f : fields)
        f = f.trimmed();
    LineSettings s;
    s.baudRate = baudFrom(text, fields[0]);
    s.parity = parityFrom(text, fields[1]);
    s.dataBits = dataBitsFrom(text, fields[2]);
    s.stopBits = stopBitsFrom(text, fields[3]);
    return s;
}

std::chrono::microseconds LineSettings::characterTime() const
{
    const double stop = stopBits == QSerialPort::OneStop   ? 1.0
                        : stopBits == QSerialPort::TwoStop ? 2.0
                                                           : 1.5;
    const double bits =
        1.0 + static_cast<int>(dataBits) + (parity == QSerialPort::NoParity ? 0.0 : 1.0) + stop;
    return std::chrono::microseconds(static_cast<long long>(bits * 1e6 / baudRate));
}

} // namespace kora
