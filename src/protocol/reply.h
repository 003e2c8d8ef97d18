#pragma once

#include "runstate.h"

namespace kora {

// XOR of AcceptorMsg bytes 2 to 9 against byte 11; leaves the sum in Chk.
// Bytes 1 and 10 are never examined.
bool ReplyChecksumMatches(RunState& s);

// Sets the fifteen flags, Credit and LastCredit from AcceptorMsg bytes 4-6.
void DecodeReply(RunState& s);

} // namespace kora
