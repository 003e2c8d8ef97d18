#include "protocol/reply.h"

#include "protocol/statusflags.h"

namespace kora {

namespace {
constexpr Byte STX = 0x02, ETX = 0x03, FrameLength = 0x0B;
Byte bit(Byte value, int n)
{
    return static_cast<Byte>((value >> n) & 1u);
}
} // namespace

bool ReplyChecksumMatches(RunState& s)
{
    const auto& r = s.AcceptorMsg;
    s.Chk = r(2) ^ r(3);
    for (int i = 4; i <= 9; ++i)
        s.Chk ^= r(i);
    return s.Chk == r(11);
}

bool ReplyFramed(const RunState& s)
{
    const auto& r = s.AcceptorMsg;
    return r(1) == STX && r(2) == FrameLength && r(10) == ETX;
}

void DecodeReply(RunState& s)
{
    for (const StatusFlag& flag : StatusFlags)
        s.*flag.member = bit(s.AcceptorMsg(flag.replyByte), flag.bit);

    s.Credit = static_cast<Byte>((s.AcceptorMsg(6) & 0x38) >> 3);
    if (s.Credit != 0)
        s.LastCredit = s.Credit;
}

} // namespace kora
