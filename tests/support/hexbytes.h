#pragma once

#include <QByteArray>
#include <QString>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <vector>

// "02 08 10 7F" -> the bytes it names; keeps test tables readable as they
// appear on the wire.
inline std::vector<std::uint8_t> hexBytes(const QString& text)
{
    const QByteArray raw = QByteArray::fromHex(text.toLatin1());
    return {raw.begin(), raw.end()};
}

// Fills a fixed frame buffer (HostMsg, AcceptorMsg) from its hex text; the
// text must name exactly as many bytes as the buffer holds.
template <typename Buffer> void setBytes(Buffer& buffer, const QString& hex)
{
    const std::vector<std::uint8_t> bytes = hexBytes(hex);
    QCOMPARE(bytes.size(), buffer.raw().size());
    std::copy(bytes.begin(), bytes.end(), buffer.raw().begin());
}
