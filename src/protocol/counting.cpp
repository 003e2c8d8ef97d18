#include "protocol/counting.h"

namespace kora {

int BillToCount(RunState& s)
{
    if (s.NRFlag != 0 || s.Stacked != 1 || s.Credit == 0 || s.Delay <= CountingGate)
        return 0;
    s.Delay = 0;
    return s.Credit;
}

} // namespace kora
