#include "protocol/runstate.h"

namespace kora {

void RunState::ClearStatus()
{
    Credit = 0;
    LastCredit = 0;
    for (Byte* flag : {&Idling, &Accepting, &Escrowed, &Stacking, &Stacked, &Returning, &Returned,
                       &Cheated, &Rejected, &Jammed, &Full, &Cassette, &Power, &Invalid, &Failure})
        *flag = 0;
}

} // namespace kora
