#include "protocol/counting.h"

namespace kora {

int BillToCount(RunState& s)
{
    if (s.NRFlag != 0 || s.Stacked != 1 || s.Credit == 0 || s.Delay <= CountingGate)
        return 0;
    s.Delay = 0;
    return s.Credit;
}

void AdvanceDelay(RunState& s)
{
    s.Delay = static_cast<Byte>(s.Delay + 1);
    if (s.Delay > 50)
        s.Delay = 10;
}

} // namespace kora
