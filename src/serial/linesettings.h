#pragma once

#include <QSerialPort>
#include <QString>
#include <chrono>

namespace kora {

// Line settings in the "9600, E, 7, 1" form: baud, parity (N, E, O, M, S),
// data bits (5-8) and stop bits (1, 1.5, 2).
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Throws SerialError (InvalidPropertyValue) on a text this system cannot
    // honour, rather than quietly running the line some other way.
    static LineSettings fromText(const QString& text);

    // How long one character takes on the line: start bit, data bits,
    // parity bit and stop bits.
    std::chrono::microseconds characterTime() const;

    bool operator==(const LineSettings&) const = default;
};

} // namespace kora
