#pragma once

#include "protocol/runstate.h"

namespace kora {

// XOR of AcceptorMsg bytes 2 to 9 against byte 11; leaves the sum in Chk.
// Bytes 1 and 10 are never examined.
bool ReplyChecksumMatches(RunState& s);

// True when AcceptorMsg is framed as a reply: start byte 02, its length 0B in
// byte 2 (as the host message carries its own length), end byte 03 in byte
// 10. The checksum alone passes one random frame in 128 on a 7-bit line, and
// eleven zero bytes; the frame is what tells a reply from noise.
bool ReplyFramed(const RunState& s);

// Sets the fifteen flags, Credit and LastCredit from AcceptorMsg bytes 4-6.
void DecodeReply(RunState& s);

} // namespace kora
