#include "control/startup.h"

#include "ui/kora232.h"

#include <QLineEdit>

namespace kora {

void Startup(Kora232& w)
{
    w.state().SetStartupValues();

    // The layout gives the counters a text; the operator never sees it.
    for (int n = 1; n <= 7; ++n)
        w.txBillCount(n)->setText(QString());

    SerialPort& port = w.MSComm1();
    port.setPortNumber(1);
    ConfigureAcceptorLine(port);
}

} // namespace kora
