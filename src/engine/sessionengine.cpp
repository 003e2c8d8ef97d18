#include "engine/sessionengine.h"

#include "protocol/counting.h"
#include "protocol/poll.h"
#include "record/pollreport.h"
#include "serial/serialerror.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

namespace kora {

namespace {

// The period both timers have before start-up gives the poll rate.
constexpr std::chrono::milliseconds FirstPeriod{100};

QTimer* makeTimer(const char* name, QObject* owner)
{
    auto* timer = new QTimer(owner);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(FirstPeriod);
    return timer;
}

// The refusal of a device that came back while another program holds it.
bool heldByAnother(const SerialError& e)
{
    return e.number() == DeviceUnavailable &&
           QString::fromStdString(e.what()).contains(QStringLiteral("in use"));
}

} // namespace

SessionEngine::SessionEngine(std::unique_ptr<SerialPort> port, QObject* parent)
    : QObject(parent), port_(std::move(port)), keeper_(*port_),
      pollTimer_(makeTimer("Timer1", this)), delayTimer_(makeTimer("Timer2", this))
{
    delayTimer_->setInterval(DelayTickPeriod);
    connect(pollTimer_, &QTimer::timeout, this, &SessionEngine::PollTick);
    connect(delayTimer_, &QTimer::timeout, this, &SessionEngine::DelayTick);
    record_.counts = [this] { return countsNow(); };
    keeper_.onLost = [this](const QString& reason) {
        record_.deviceLost(reason.toStdString());
        heldSaid_.clear();
        emit deviceLost(reason);
    };
}

SessionEngine::~SessionEngine() = default;

void SessionEngine::StartUp()
{
    s_.SetStartupValues();
    port_->setPortNumber(1);
    ConfigureAcceptorLine(*port_);
}

void SessionEngine::StartTimers()
{
    delayTimer_->start();
    pollTimer_->start();
}

void SessionEngine::Start()
{
    keeper_.beginRun();
    cycles_ = {};
    figures_ = {};
    record_.start(startText());
    s_.StartStop = 1;
    s_.ClearStatus();
    emit started();
}

void SessionEngine::Stop()
{
    endRun(countsText());
    emit runEnded();
}

void SessionEngine::Finish()
{
    if (s_.StartStop == 1)
        endRun(countsText());
    port_->close();
}

std::array<long, 7> SessionEngine::countsNow() const
{
    return counts ? counts() : std::array<long, 7>{};
}

std::string SessionEngine::countsText() const
{
    return CountsText(countsNow());
}

// STOP's actions, also when a port refused to open: the run ends in the
// record with `why`, a bill still under way with it. The next tick closes
// the port.
void SessionEngine::endRun(const std::string& why)
{
    keeper_.endRun();
    const BillClock::time_point at = RowNow();
    std::string stopped = why;
    if (const std::optional<BillCycle> open = cycles_.stop(at)) {
        figures_.add(*open);
        stopped += "; " + open->text();
        emit billEnded(*open);
    }
    record_.stop(stopped + "; " + figures_.text(), at);
    s_.StartStop = 0;
}

void SessionEngine::ChoosePort(int n)
{
    s_.PortSelect = static_cast<Byte>(n);
}

void SessionEngine::ToggleBill(int n)
{
    Byte& enable = s_.BillEnable(n);
    if (enable == 0)
        enable = 1;
    else if (enable == 1)
        enable = 0;
}

void SessionEngine::SetPollRate(int ms)
{
    s_.PollRate = static_cast<std::int16_t>(ms);
}

void SessionEngine::SetEscrowMode(bool on)
{
    escrow_ = on;
}

void SessionEngine::SetEscrowAction(bool stack)
{
    if (s_.Allow == (stack ? 1 : 0))
        return;
    s_.Allow = stack ? 1 : 0;
    if (s_.StartStop == 1)
        record_.change(stack ? "escrowed bills now stacked" : "escrowed bills now returned");
}

// What a run polls, with what and how, for its start row: "port 1
// (/dev/ttyUSB0), 9600, E, 7, 1, poll every 100 ms, escrow mode on, bills 1
// 2 3 4 5 6 7 enabled, escrowed bills stacked, kora232 1.4.0".
std::string SessionEngine::startText() const
{
    std::string bills;
    for (int n = 1; n <= 7; ++n)
        if (s_.BillEnable(n) == 1)
            bills += std::to_string(n) + ' ';
    bills = bills.empty() ? "no bills enabled" : "bills " + bills + "enabled";
    return RunDescription(*port_, s_.PortSelect) + ", poll every " +
           std::to_string(s_.PollRate > 0 ? s_.PollRate : FirstPeriod.count()) +
           " ms, escrow mode " + (escrow_ ? "on" : "off") + ", " + bills + ", " +
           escrowActionText() + ", " + QCoreApplication::applicationName().toStdString() + ' ' +
           QCoreApplication::applicationVersion().toStdString();
}

std::string SessionEngine::escrowActionText() const
{
    return s_.Allow == 1 ? "escrowed bills stacked" : "escrowed bills returned";
}

// After the device went away while polling, only that device is tried
// again, quietly at every tick: the port number may lead elsewhere by now.
bool SessionEngine::EnsureOpen()
{
    try {
        const LinkKeeper::Result result = keeper_.ensureOpen(s_.PortSelect);
        // A device still away gets its poll all the same: it fails at once,
        // shows as a failed row, and the next tick tries again.
        if (result == LinkKeeper::Result::StillLost) {
            keepTrying();
            return true;
        }
        if (result == LinkKeeper::Result::Reconnected) {
            heldSaid_.clear();
            // Nothing the old device reported may order the new one.
            s_.Escrowed = 0;
            record_.reconnected();
            emit reconnected(QString::fromStdString(RunDescription(*port_, port_->portNumber())));
        }
    } catch (const SerialError& e) {
        endRun(e.describe().toStdString());
        emit runEnded();
        emit openRefused(e.describe());
        return false;
    }
    // Bytes of a frame cut short belong to the line before this open.
    s_.LineBytes.clear();
    return true;
}

// A lost device that is back but held by another program would be refused at
// every tick without a word; it is said once, and tried again quietly.
void SessionEngine::keepTrying()
{
    const std::optional<SerialError>& refusal = keeper_.lastRefusal();
    if (!refusal || !heldByAnother(*refusal))
        return;
    const QString message = QStringLiteral("Port %1 (%2) is back but in use by another program")
                                .arg(port_->portNumber())
                                .arg(port_->deviceFor(port_->portNumber()));
    if (heldSaid_ == message)
        return;
    heldSaid_ = message;
    emit heldByOther(message);
}

void SessionEngine::PollTick()
{
    pollTimer_->setInterval(s_.PollRate > 0 ? s_.PollRate : FirstPeriod.count());
    emit ticked();
    if (s_.StartStop == 1 && (port_->isOpen() || EnsureOpen())) {
        PollNotes notes;
        const Byte ignoredBefore = s_.IgnoreBit;
        PollAcceptor(s_, *port_, escrow_ ? 1 : 0, &notes.timing);
        notes.bitEchoMissing = s_.IgnoreBit == 1 && ignoredBefore != 1;
        notes.frames = CountFramesRead(s_, escrow_ ? 1 : 0);
        notes.at = RowNow();
        followBills(notes);
        emit polled(notes);
        recordPoll(notes);
    }
    if (s_.StartStop == 0 && port_->isOpen())
        port_->close();
}

// The face has added this poll's bills by now; their counts come from it.
void SessionEngine::recordPoll(PollNotes& notes)
{
    const auto countsABill = [](const FrameNote& n) { return n.count.counted(); };
    if (std::any_of(notes.frames.begin(), notes.frames.end(), countsABill))
        NoteCounts(notes.frames, countsNow());
    record_.poll(s_, notes);
    emit recorded(notes);
}

void SessionEngine::followBills(PollNotes& notes)
{
    for (const FrameNote& note : notes.frames)
        if (const std::optional<BillCycle> ended =
                cycles_.read(note.frame.bytes, note.count, notes.at.value_or(RowNow()))) {
            figures_.add(*ended);
            notes.cycles.push_back(*ended);
            emit billEnded(*ended);
        }
    figures_.setEvents(cycles_.events());
}

void SessionEngine::DelayTick()
{
    AdvanceDelay(s_);
}

} // namespace kora
