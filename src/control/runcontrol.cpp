#include "control/runcontrol.h"

#include "control/monitormenu.h"
#include "control/startup.h"
#include "protocol/counting.h"
#include "protocol/poll.h"
#include "protocol/pollreport.h"
#include "serial/serialerror.h"
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/monitor.h"
#include "ui/notice.h"
#include "ui/rownotes.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <numeric>

namespace kora {

namespace {
void paintButton(QPushButton* button, const QString& caption, QRgb face)
{
    button->setText(caption);
    SetBackColor(button, QColor(face));
}
} // namespace

RunControl::RunControl(Kora232& window) : QObject(&window), w(window), keeper(w.MSComm1())
{
    Startup(w);
    connectControls();
    new MonitorMenu(w, session);
    // Quitting while polling (the window closed, a stop signal) ends the run
    // in the log as STOP would.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (w.state().StartStop == 1)
            session.stop(CountsText(countsOnScreen()));
    });
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
    keeper.onLost = [this](const QString& reason) { session.deviceLost(reason.toStdString()); };
    session.onLogFailure = [this](const std::string& why) {
        loggingFailed(QString::fromStdString(why));
    };
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
        PollTiming timing;
        PollAcceptor(s, w.MSComm1(), w.Check1()->isChecked() ? 1 : 0, &timing);
        int counted = 0;
        if (s.SetDisplay == 1) {
            counted = UpdateMonitor(s, w);
            NoteNewestRows(s, timing, w);
        }
        recordPoll(timing, counted);
    }
    if (s.StartStop == 0 && w.MSComm1().isOpen())
        w.MSComm1().close();
}

// True when the tick may poll. After the device went away while polling,
// only that device is tried again, quietly at every tick: the port number
// may lead elsewhere by now (another adapter, another button clicked).
bool RunControl::openPort()
{
    try {
        if (keeper.ensureOpen(w.state().PortSelect) == LinkKeeper::Result::Reconnected)
            session.reconnected();
    } catch (const SerialError& e) {
        refusedToOpen(e.describe());
        return false;
    }
    return true;
}

// The counters are read only for a counted bill, the one poll whose record
// names them; every other tick leaves the text boxes alone.
void RunControl::recordPoll(const PollTiming& timing, int counted)
{
    long count = 0;
    long total = 0;
    if (counted) {
        const std::array<long, 7> counts = countsOnScreen();
        count = counts[static_cast<std::size_t>(counted - 1)];
        total = std::accumulate(counts.begin(), counts.end(), 0L);
    }
    session.poll(w.state(), timing, counted, count, total);
}

std::array<long, 7> RunControl::countsOnScreen() const
{
    std::array<long, 7> counts{};
    for (int n = 1; n <= 7; ++n)
        counts[static_cast<std::size_t>(n - 1)] =
            static_cast<long>(ReadCount(w.txBillCount(n)->text()));
    return counts;
}

// A port that cannot be opened is an operator's slip (wrong number, adapter
// missing, port busy), not a reason to end the program: say why and stop.
void RunControl::refusedToOpen(const QString& reason)
{
    endRun(reason.toStdString());
    ShowNotice(w, QStringLiteral("portError"), reason);
}

// STOP's actions, also when a port refused to open: the run ends in the
// record with `why`, and the button and the first two port buttons say so.
void RunControl::endRun(const std::string& why)
{
    keeper.endRun();
    session.stop(why);
    w.state().StartStop = 0;
    paintButton(w.cmdStartStop(), QStringLiteral("START"), colour::Green);
    w.optCom(1)->show();
    w.optCom(2)->show();
}

// Logging stops; polling goes on. Said once, without holding anything up.
void RunControl::loggingFailed(const QString& reason)
{
    ShowNotice(w, QStringLiteral("logError"), QStringLiteral("Logging stopped: %1").arg(reason));
}

void RunControl::DelayTick()
{
    AdvanceDelay(w.state());
}

void RunControl::StartStopClick()
{
    RunState& s = w.state();
    if (s.StartStop == 0) {
        keeper.beginRun();
        session.start(RunDescription(w.MSComm1(), s.PortSelect));
        s.StartStop = 1;
        paintButton(w.cmdStartStop(), QStringLiteral("STOP"), colour::Red);
        ClearTraffic(w);
        w.optCom(1)->hide();
        w.optCom(2)->hide();
        s.ClearStatus();
        ResetMonitor(w);
    } else {
        endRun(CountsText(countsOnScreen()));
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
