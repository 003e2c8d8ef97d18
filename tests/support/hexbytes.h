#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// "02 08 10 7F" -> the bytes it names; keeps test tables readable as they
// appear on the wire.
inline std::vector<std::uint8_t> hexBytes(const QString& text)
{
    const QByteArray raw = QByteArray::fromHex(text.toLatin1());
    return {raw.begin(), raw.end()};
}
