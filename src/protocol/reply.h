#pragma once

#include "protocol/runstate.h"

#include <optional>
#include <vector>

namespace kora {

// XOR of AcceptorMsg bytes 2 to 9 against byte 11; leaves the sum in Chk.
// Bytes 1 and 10 are never examined.
bool ReplyChecksumMatches(RunState& s);

// True when AcceptorMsg is framed as a reply: start byte 02, its length 0B in
// byte 2 (as the host message carries its own length), end byte 03 in byte
// 10. The checksum alone passes one random frame in 128 on a 7-bit line, and
// eleven zero bytes; the frame is what tells a reply from noise.
bool ReplyFramed(const RunState& s);

// The same two tests on any frame: a good frame is framed and its checksum
// matches.
bool FrameChecksumMatches(const ReplyFrame& f);
bool FrameFramed(const ReplyFrame& f);
bool GoodFrame(const ReplyFrame& f);

// The acknowledgement bit the acceptor echoes: bit 0 of byte 3.
inline Byte FrameBit(const ReplyFrame& f)
{
    return f(3) & 1;
}

// The credit number, bits 3-5 of byte 6: bill 1-7, 0 for none.
inline int FrameCredit(const ReplyFrame& f)
{
    return (f(6) & 0x38) >> 3;
}

// Takes the next good frame off the front of `line`: bytes that cannot begin
// one are passed over one at a time (02 also stands inside frames, so a
// false start slides by one byte only), and counted in `passedOver`. Bytes
// that may still begin a good frame stay for more to come.
std::optional<ReplyFrame> NextFrame(std::vector<Byte>& line, std::size_t& passedOver);

// Sets the fifteen flags, Credit and LastCredit from bytes 4-6 of a frame,
// or of AcceptorMsg.
void DecodeFrame(RunState& s, const ReplyFrame& f);
void DecodeReply(RunState& s);

} // namespace kora
