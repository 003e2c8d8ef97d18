#pragma once

#include "protocol/runstate.h"

// The run state as start-up leaves it for polling: every bill enabled, an
// escrowed bill to be stacked, port 1 at 100 ms.
inline kora::RunState startedState()
{
    kora::RunState s;
    s.BillEnable.fill(1);
    s.Allow = 1;
    s.PortSelect = 1;
    s.PollRate = 100;
    return s;
}
