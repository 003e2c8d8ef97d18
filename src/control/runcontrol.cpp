#include "control/runcontrol.h"

#include "control/monitormenu.h"
#include "control/startup.h"
#include "ui/kora232.h"
#include "ui/monitor.h"
#include "ui/notice.h"
#include "ui/rownotes.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

namespace kora {

namespace {
constexpr std::chrono::milliseconds PortsReadAfterShown{250};
}

RunControl::RunControl(Kora232& window) : QObject(&window), w(window)
{
    Startup(w);
    connectControls();
    connectEngine();
    new MonitorMenu(w, record());
    // Quitting while polling (the window closed, a stop signal) ends the run
    // in the log as STOP would.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { w.engine().Finish(); });
}

SessionRecord& RunControl::record()
{
    return w.engine().record();
}

void RunControl::connectControls()
{
    connect(w.cmdStartStop(), &QPushButton::clicked, this, &RunControl::StartStopClick);
    for (int n = 1; n <= 8; ++n)
        connect(w.optCom(n), &QRadioButton::clicked, this, [this, n] { PortChoice(n); });
    for (int k = 0; k <= 6; ++k)
        connect(w.chkBill(k), &QCheckBox::clicked, this, [this, k] { BillEnableClick(k); });
    connect(w.hsPoll(), &QScrollBar::valueChanged, this, &RunControl::PollRateChange);
    for (int n = 1; n <= 7; ++n)
        connect(w.txBillCount(n), &QLineEdit::editingFinished, this,
                [this, n] { CounterEdited(n); });
    // Which device a number reaches changes as adapters come and go: each
    // button says it again as its tooltip is about to show, and at START.
    // Reading the port list takes longer than building the window, so the
    // buttons first say it once the window is on screen.
    w.installEventFilter(this);
    for (int n = 1; n <= 8; ++n)
        w.optCom(n)->installEventFilter(this);
    // The poll reads the box as it stands: the engine follows every change.
    connect(w.Check1(), &QCheckBox::toggled, this,
            [this] { w.engine().SetEscrowMode(w.EscrowModeChecked()); });
}

void RunControl::connectEngine()
{
    SessionEngine& e = w.engine();
    e.SetEscrowMode(w.EscrowModeChecked());
    connect(&e, &SessionEngine::ticked, this, [this] {
        const RunState& s = w.state();
        w.ShowFrames(s.SetControls == 1, s.SetDisplay == 1);
    });
    connect(&e, &SessionEngine::polled, this, &RunControl::showPoll);
    connect(&e, &SessionEngine::runEnded, this, [this] { w.ShowRunning(false); });
    // STOP's last frames count as a poll's do, on the counters alone.
    connect(&e, &SessionEngine::readAtStop, this, [this](const PollNotes& notes) {
        for (const int bill : notes.countedBills())
            ShowCount(w, bill, w.engine().counts()[static_cast<std::size_t>(bill - 1)]);
    });
    // A port that cannot be opened is an operator's slip (wrong number,
    // adapter missing, port busy), not a reason to end the program.
    connect(&e, &SessionEngine::openRefused, this, [this](const QString& reason) {
        ShowNotice(w, NoticeKind::Warning, QStringLiteral("portError"), reason);
    });
    connect(&e, &SessionEngine::heldByOther, this, [this](const QString& message) {
        ShowNotice(w, NoticeKind::Warning, QStringLiteral("portHeld"), message);
    });
    // Logging stops; polling goes on. Said once, without holding anything up.
    record().onLogFailure = [this](const std::string& why) {
        ShowNotice(w, NoticeKind::Warning, QStringLiteral("logError"),
                   QStringLiteral("Logging stopped: %1").arg(QString::fromStdString(why)));
    };
}

void RunControl::showPoll(const PollNotes& notes)
{
    const RunState& s = w.state();
    if (s.SetDisplay != 1)
        return;
    UpdateMonitor(s, w, notes.countedBills(), w.engine().counts());
    NoteNewestRows(s, notes, w);
    // A warning, as in the journal: polling goes on, but without the echo a
    // late reply to one poll can be taken for the next one's answer.
    if (notes.bitEchoMissing)
        ShowNotice(w, NoticeKind::Warning, QStringLiteral("bitEcho"),
                   QStringLiteral("The acceptor does not echo the acknowledgement bit: each "
                                  "poll now takes the first good reply as its answer."));
}

// All eight from one reading of the port list.
void RunControl::showPortDevices()
{
    w.MSComm1().lookAgain();
    for (int n = 1; n <= 8; ++n)
        w.ShowPortDevice(n, w.MSComm1().describe(n));
}

void RunControl::showPortDevice(int n)
{
    w.MSComm1().lookAgain();
    w.ShowPortDevice(n, w.MSComm1().describe(n));
}

// The operator needs a moment to reach for a button; a tooltip or START
// before then reads the list itself. A run that quits as soon as the window
// is shown never reads it.
void RunControl::showPortDevicesOnceShown()
{
    w.removeEventFilter(this);
    QTimer::singleShot(PortsReadAfterShown, this, [this] { showPortDevices(); });
}

bool RunControl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &w && event->type() == QEvent::Paint)
        showPortDevicesOnceShown();
    if (event->type() == QEvent::ToolTip)
        for (int n = 1; n <= 8; ++n)
            if (watched == w.optCom(n))
                showPortDevice(n);
    return QObject::eventFilter(watched, event);
}

// A count typed while polling and confirmed is the operator's adjustment:
// the engine takes it, on record, and the box shows what the engine holds.
// Typed while stopped it changes nothing; the next START blanks the boxes.
void RunControl::CounterEdited(int bill)
{
    if (w.state().StartStop != 1)
        return;
    QLineEdit* counter = w.txBillCount(bill);
    SessionEngine& e = w.engine();
    e.AdjustCount(bill, TypedCount(counter->text()));
    const long count = e.counts()[static_cast<std::size_t>(bill - 1)];
    // A blank box that reads as a count of 0 stays blank, as at START.
    if (!counter->text().isEmpty() || count != 0)
        ShowCount(w, bill, count);
}

void RunControl::StartStopClick()
{
    SessionEngine& e = w.engine();
    if (w.state().StartStop == 0) {
        showPortDevices(); // the run opens the device they name
        e.Start();
        w.ShowRunning(true);
        ClearTraffic(w);
        ResetMonitor(w);
    } else {
        e.Stop();
    }
}

void RunControl::PortChoice(int n)
{
    w.engine().ChoosePort(n);
}

void RunControl::BillEnableClick(int index)
{
    w.engine().ToggleBill(index + 1);
}

void RunControl::PollRateChange()
{
    const int v = w.PollRateChosen();
    w.ShowPollRate(v);
    w.engine().SetPollRate(w.PollRateChosen());
}

} // namespace kora
