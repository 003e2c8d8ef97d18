#include "control/startup.h"

#include "ui/kora232.h"

#include <QLineEdit>

namespace kora {

void Startup(Kora232& w)
{
    w.engine().StartUp();

    // The layout gives the counters a text; the operator never sees it.
    for (int n = 1; n <= 7; ++n)
        w.txBillCount(n)->setText(QString());
}

} // namespace kora
