#include "protocol/runstate.h"

#include "protocol/statusflags.h"

namespace kora {

void RunState::ClearStatus()
{
    Credit = 0;
    LastCredit = 0;
    for (const StatusFlag& flag : StatusFlags)
        this->*flag.member = 0;
}

void RunState::SetStartupValues()
{
    SetControls = 1;
    SetDisplay = 1;
    PortSelect = 1;
    PollRate = 100;
    for (int n = 1; n <= 7; ++n)
        BillEnable(n) = 1;
    StartStop = 0;
    ClearStatus();
    Allow = 1;
}

} // namespace kora
