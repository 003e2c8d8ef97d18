#include "control/startup.h"

#include "ui/kora232.h"

#include <QLineEdit>

namespace kora {

void Startup(Kora232& w)
{
    RunState& s = w.state();
    s.SetControls = 1;
    s.SetDisplay = 1;
    s.PortSelect = 1;
    s.PollRate = 100;
    for (int n = 1; n <= 7; ++n)
        s.BillEnable(n) = 1;
    s.StartStop = 0;
    s.ClearStatus();
    s.Allow = 1;

    // The layout gives the counters a text; the operator never sees it.
    for (int n = 1; n <= 7; ++n)
        w.txBillCount(n)->setText(QString());

    SerialPort& port = w.MSComm1();
    port.setPortNumber(1);
    ConfigureAcceptorLine(port);
}

} // namespace kora
