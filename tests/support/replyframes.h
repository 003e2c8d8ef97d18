#pragma once

#include "protocol/runstate.h"

#include <QString>
#include <QStringList>

// A good reply frame in hex, from what it reports: the acknowledgement bit,
// the state byte (01 idling, 04 escrowed, 10 stacked ...), the credit and
// the event byte, the power and fault bits of byte 6; model and revision
// bytes as the simulator sends them.
inline QString replyHex(int ack, int state, int credit = 0, int events = 0x10, int health = 0)
{
    const int byte6 = credit << 3 | health;
    const int bytes[] = {0x02, 0x0B, 0x20 | ack, state, events, byte6, 0x4B, 0x01, 0x03, 0x03, 0};
    int chk = 0;
    for (int i = 1; i <= 8; ++i)
        chk ^= bytes[i];
    QStringList hex;
    for (int i = 0; i < 10; ++i)
        hex << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    hex << QStringLiteral("%1").arg(chk, 2, 16, QLatin1Char('0')).toUpper();
    return hex.join(u' ');
}
