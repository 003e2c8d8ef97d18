#pragma once

#include "protocol/runstate.h"

namespace kora {

// Builds HostMsg, Chk and Sendit from Toggle, BillEnable, Escrowed and Allow.
// escrowRequest is the Escrow Mode box: 1 checked, anything else unchecked.
void BuildHostMessage(RunState& s, int escrowRequest);

} // namespace kora
