#include "protocol/reply.h"

#include "protocol/statusflags.h"

#include <algorithm>

namespace kora {

namespace {
constexpr Byte STX = 0x02, ETX = 0x03, FrameLength = 0x0B;
constexpr std::size_t ReplyBytes = ReplyFrame::size;

Byte bit(Byte value, int n)
{
    return static_cast<Byte>((value >> n) & 1u);
}

Byte checksumOf(const ReplyFrame& f)
{
    Byte chk = f(2) ^ f(3);
    for (int i = 4; i <= 9; ++i)
        chk ^= f(i);
    return chk;
}

// The bytes from `at` on agree with a frame's fixed first ones, as far as
// they go: a frame may begin there.
bool mayBeginFrameAt(const std::vector<Byte>& line, std::size_t at)
{
    return line[at] == STX && (at + 1 >= line.size() || line[at + 1] == FrameLength);
}

ReplyFrame frameAt(const std::vector<Byte>& line, std::size_t at)
{
    ReplyFrame f;
    std::copy_n(line.begin() + static_cast<std::ptrdiff_t>(at), ReplyBytes, f.raw().begin());
    return f;
}
} // namespace

bool ReplyChecksumMatches(RunState& s)
{
    s.Chk = checksumOf(s.AcceptorMsg);
    return s.Chk == s.AcceptorMsg(11);
}

bool ReplyFramed(const RunState& s)
{
    return FrameFramed(s.AcceptorMsg);
}

bool FrameChecksumMatches(const ReplyFrame& f)
{
    return checksumOf(f) == f(11);
}

bool FrameFramed(const ReplyFrame& f)
{
    return f(1) == STX && f(2) == FrameLength && f(10) == ETX;
}

bool GoodFrame(const ReplyFrame& f)
{
    return FrameFramed(f) && FrameChecksumMatches(f);
}

std::optional<ReplyFrame> NextFrame(std::vector<Byte>& line, std::size_t& passedOver)
{
    std::optional<ReplyFrame> found;
    std::size_t at = 0;
    for (; at < line.size(); ++at) {
        if (!mayBeginFrameAt(line, at))
            continue;
        if (line.size() - at < ReplyBytes)
            break; // a frame may still be on its way
        if (const ReplyFrame f = frameAt(line, at); GoodFrame(f)) {
            found = f;
            break;
        }
    }
    passedOver += at;
    line.erase(line.begin(),
               line.begin() + static_cast<std::ptrdiff_t>(found ? at + ReplyBytes : at));
    return found;
}

void DecodeFrame(RunState& s, const ReplyFrame& f)
{
    for (const StatusFlag& flag : StatusFlags)
        s.*flag.member = bit(f(flag.replyByte), flag.bit);

    s.Credit = static_cast<Byte>(FrameCredit(f));
    if (s.Credit != 0)
        s.LastCredit = s.Credit;
}

void DecodeReply(RunState& s)
{
    DecodeFrame(s, s.AcceptorMsg);
}

} // namespace kora
