#include "control/runcontrol.h"

#include "control/startup.h"
#include "protocol/poll.h"
#include "serial/serialerror.h"
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/monitor.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

namespace kora {

namespace {
void paintButton(QPushButton* button, const QString& caption, QRgb face)
{
    button->setText(caption);
    SetBackColor(button, QColor(face));
}
} // namespace

RunControl::RunControl(Kora232& window) : QObject(&window), w(window)
{
    Startup(w);
    connectControls();
}

void RunControl::connectControls()
{
    connect(w.Timer1(), &QTimer::timeout, this, &RunControl::PollTick);
    connect(w.Timer2(), &QTimer::timeout, this, &RunControl::DelayTick);
    connect(w.cmdStartStop(), &QPushButton::clicked, this, &RunControl::StartStopClick);
    for (int n = 1; n <= 8; ++n)
        connect(w.optCom(n), &QRadioButton::clicked, this, [this, n] { PortChoice(n); });
    for (int k = 0; k <= 6; ++k)
        connect(w.chkBill(k), &QCheckBox::clicked, this, [this, k] { BillEnableClick(k); });
    connect(w.hsPoll(), &QScrollBar::valueChanged, this, &RunControl::PollRateChange);
    w.MSComm1().onDeviceLost([this](const QString&) {
        if (w.state().StartStop == 1)
            linkLost = true;
    });
}

void RunControl::PollTick()
{
    RunState& s = w.state();
    w.Timer1()->setInterval(s.PollRate);
    w.frmControls()->setVisible(s.SetControls == 1);
    w.frmMonitor()->setVisible(s.SetDisplay == 1);

    if (s.StartStop == 1) {
        if (!w.MSComm1().isOpen() && !openPort())
            return;
        // A device that went away still gets its poll: it fails at once and
        // shows as a failed row, and the next tick tries it again.
        PollAcceptor(s, w.MSComm1(), w.Check1()->isChecked() ? 1 : 0);
        if (s.SetDisplay == 1)
            UpdateMonitor(s, w);
    }
    if (s.StartStop == 0 && w.MSComm1().isOpen())
        w.MSComm1().close();
}

// True when the tick may poll. After the device went away while polling,
// only that device is tried again, quietly at every tick: the port number
// may lead elsewhere by now (another adapter, another button clicked).
bool RunControl::openPort()
{
    SerialPort& port = w.MSComm1();
    try {
        if (linkLost) {
            port.reopen();
        } else {
            port.setPortNumber(w.state().PortSelect);
            port.open();
        }
    } catch (const SerialError& e) {
        if (!linkLost)
            refusedToOpen(e.describe());
        return linkLost;
    }
    linkLost = false;
    return true;
}

// A port that cannot be opened is an operator's slip (wrong number, adapter
// missing, port busy), not a reason to end the program: say why and stop.
void RunControl::refusedToOpen(const QString& reason)
{
    RunState& s = w.state();
    s.StartStop = 0;
    paintButton(w.cmdStartStop(), QStringLiteral("START"), colour::Green);
    w.optCom(1)->show();
    w.optCom(2)->show();

    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kora232"), reason,
                                QMessageBox::Ok, &w);
    box->setObjectName(QStringLiteral("portError"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal); // the window stays usable, nothing nests
    box->show();
}

void RunControl::DelayTick()
{
    Byte& delay = w.state().Delay;
    delay = static_cast<Byte>(delay + 1);
    if (delay > 50)
        delay = 10;
}

void RunControl::StartStopClick()
{
    RunState& s = w.state();
    linkLost = false;
    if (s.StartStop == 0) {
        s.StartStop = 1;
        paintButton(w.cmdStartStop(), QStringLiteral("STOP"), colour::Red);
        ClearTraffic(w);
        w.optCom(1)->hide();
        w.optCom(2)->hide();
        s.ClearStatus();
        ResetMonitor(w);
    } else {
        s.StartStop = 0;
        paintButton(w.cmdStartStop(), QStringLiteral("START"), colour::Green);
        w.optCom(1)->show();
        w.optCom(2)->show();
    }
}

void RunControl::PortChoice(int n)
{
    w.state().PortSelect = static_cast<Byte>(n);
}

void RunControl::BillEnableClick(int index)
{
    Byte& enable = w.state().BillEnable(index + 1);
    if (enable == 0)
        enable = 1;
    else if (enable == 1)
        enable = 0;
}

void RunControl::PollRateChange()
{
    const int v = w.hsPoll()->value();
    w.txtPoll()->setText(QStringLiteral(" %1 ms").arg(v));
    w.state().PollRate = static_cast<std::int16_t>(w.hsPoll()->value());
}

} // namespace kora
