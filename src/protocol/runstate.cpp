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

} // namespace kora
