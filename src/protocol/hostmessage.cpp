#include "protocol/hostmessage.h"

namespace kora {

namespace {
constexpr Byte STX = 0x02, ETX = 0x03, FrameLength = 0x08;
constexpr Byte EscrowMode = 0x10, StackOrder = 0x20, ReturnOrder = 0x40;
} // namespace

void BuildHostMessage(RunState& s, int escrowRequest)
{
    auto& m = s.HostMsg;
    m(1) = STX;
    m(2) = FrameLength;
    m(3) = static_cast<Byte>(0x10 | s.Toggle);
    m(4) = 0x00;
    for (int n = 1; n <= 7; ++n)
        if (s.BillEnable(n) == 1)
            m(4) |= static_cast<Byte>(1u << (n - 1));

    m(5) = escrowRequest == 1 ? EscrowMode : 0x00;
    if (s.Escrowed == 1) {
        // Two separate tests: Allow outside 0 and 1 orders nothing at all.
        if (s.Allow == 0)
            m(5) |= ReturnOrder;
        if (s.Allow == 1)
            m(5) |= StackOrder;
    }
    m(6) = 0x00;
    m(7) = ETX;

    s.Chk = m(2) ^ m(3);
    s.Chk ^= m(4);
    s.Chk ^= m(5);
    m(8) = s.Chk ^ m(6);

    s.Sendit.clear();
    for (int i = 1; i <= 8; ++i)
        s.Sendit.push_back(static_cast<char>(m(i)));
}

} // namespace kora
