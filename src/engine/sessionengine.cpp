#include "engine/sessionengine.h"

#include "protocol/counting.h"
#include "protocol/poll.h"
#include "record/logrows.h"
#include "record/logtail.h"
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
      pollTimer_(makeTimer("Timer1", this)), delayTimer_(makeTimer("Timer2", this)),
      periodSettle_(new QTimer(this))
{
    delayTimer_->setInterval(DelayTickPeriod);
    periodSettle_->setSingleShot(true);
    periodSettle_->setInterval(PeriodSettles);
    connect(pollTimer_, &QTimer::timeout, this, &SessionEngine::PollTick);
    connect(delayTimer_, &QTimer::timeout, this, &SessionEngine::DelayTick);
    connect(periodSettle_, &QTimer::timeout, this, [this] { recordSetting(Setting::PollPeriod); });
    record_.countsSoFar = [this] { return counts_; };
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
    cycleClock_ = {};
    figures_ = {};
    counts_ = {};
    periodSettle_->stop();
    for (int i = 0; i < static_cast<int>(Setting::Count); ++i)
        onRecord_[static_cast<std::size_t>(i)] = settingText(static_cast<Setting>(i));
    continues_ = continueFromLog();
    startPending_ = true;
    record_.awaitOpen();
    s_.StartStop = 1;
    s_.ClearStatus();
    emit started();
}

// A run is a session from the moment its port opens: a START that never
// had the port leaves no session behind, only the failure's row.
void SessionEngine::recordStart()
{
    if (!startPending_)
        return;
    startPending_ = false;
    record_.start(startText() + continues_);
}

void SessionEngine::Stop()
{
    // The plan's end row before the frames a stop judges: they belong to no plan.
    emit runEnding(QStringLiteral("STOP pressed"));
    judgeFramesLeft(); // before the counts the stop row gives
    endRun(countsText());
    emit runEnded();
}

void SessionEngine::Finish()
{
    if (s_.StartStop == 1)
        emit runEnding(QStringLiteral("the program ended"));
    judgeFramesLeft();
    if (s_.StartStop == 1)
        endRun(countsText());
    port_->close();
}

std::string SessionEngine::countsText() const
{
    return CountsText(counts_);
}

void SessionEngine::AdjustCount(int bill, long count)
{
    long& now = counts_.at(static_cast<std::size_t>(bill - 1));
    if (s_.StartStop != 1 || startPending_ || count == now)
        return;
    const long was = now;
    now = count;
    record_.adjust(bill, count, was);
}

// STOP's actions, also when a port refused to open: the run ends in the
// record with `why`, a bill still under way with it. The next tick closes
// the port.
void SessionEngine::endRun(const std::string& why)
{
    keeper_.endRun();
    recordSettledPeriod();
    const BillClock::time_point at = RowNow();
    std::string stopped = why;
    if (const std::optional<BillCycle> open = cycles_.stop(cycleClock_.at(at))) {
        figures_.add(*open);
        stopped += "; " + open->text();
        emit billEnded(*open);
    }
    if (startPending_)
        record_.abandonStart();
    else
        record_.stop(stopped + "; " + figures_.text(), at);
    startPending_ = false;
    s_.StartStop = 0;
}

// A report that came in after the last poll's wait (a late reply, a frame
// behind the answer) would be read by the next poll; a stop has none, and the
// next process would take the acceptor's later replies for its first frames.
// It is judged now, with no host message, so that a stacked bill counts in
// the run that read it and the log's last frame is the acceptor's last.
void SessionEngine::judgeFramesLeft()
{
    if (s_.StartStop != 1 || !port_->isOpen())
        return;
    ReadFramesLeft(s_, *port_);
    if (s_.FramesRead.empty())
        return;
    PollNotes notes;
    notes.frames = CountFramesRead(s_, escrow_ ? 1 : 0);
    countBills(notes.frames);
    notes.at = RowNow();
    followBills(notes);
    record_.framesLeft(notes);
    emit readAtStop(notes);
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
    recordSetting(Setting::Bills);
}

void SessionEngine::SetPollRate(int ms)
{
    s_.PollRate = static_cast<std::int16_t>(ms);
    if (s_.StartStop == 1)
        periodSettle_->start();
}

void SessionEngine::SetEscrowMode(bool on)
{
    escrow_ = on;
    recordSetting(Setting::EscrowMode);
}

void SessionEngine::SetEscrowAction(bool stack)
{
    s_.Allow = stack ? 1 : 0;
    recordSetting(Setting::EscrowAction);
}

// A setting's row, in the words readers know it by.
std::string SessionEngine::settingText(Setting which) const
{
    switch (which) {
    case Setting::EscrowAction:
        return s_.Allow == 1 ? "escrowed bills now stacked" : "escrowed bills now returned";
    case Setting::EscrowMode:
        return escrow_ ? "escrow mode now on" : "escrow mode now off";
    case Setting::Bills: {
        std::string bills;
        for (int n = 1; n <= 7; ++n)
            if (s_.BillEnable(n) == 1)
                bills += ' ' + std::to_string(n);
        return "bills enabled now" + (bills.empty() ? std::string(" none") : bills);
    }
    default:
        return "poll period now " + std::to_string(s_.PollRate) + " ms";
    }
}

// While polling, a setting that differs from what the record last said of
// it gets its row, and the record's start text follows it, so that a row
// which restates the run later says it as it is.
void SessionEngine::recordSetting(Setting which)
{
    const std::string now = settingText(which);
    std::string& said = onRecord_[static_cast<std::size_t>(which)];
    if (s_.StartStop != 1 || now == said)
        return;
    said = now;
    if (!startPending_) // else the start row, still to come, says it
        record_.change(now, startText());
}

// A period still settling when the run ends is its last change.
void SessionEngine::recordSettledPeriod()
{
    if (!periodSettle_->isActive())
        return;
    periodSettle_->stop();
    recordSetting(Setting::PollPeriod);
}

// What a run polls, with what and how, for its start row: "port 1
// (/dev/ttyUSB0), 9600, E, 7, 1, poll every 100 ms, escrow mode on, bills 1
// 2 3 4 5 6 7 enabled, escrowed bills stacked, kora232 1.4.0; adapter usb
// 0403:6001 serial A10K2". The adapter is named so that a log is continued
// only by a poller of the same adapter, whatever the kernel called it.
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
           QCoreApplication::applicationVersion().toStdString() +
           AdapterClause(port_->identityFor(s_.PortSelect).toStdString());
}

// A process that has read no frame yet carries on from its own log, when
// the log is of this device: the frame before, the bit to send and what was
// known of the acceptor come from the last rows the process before it wrote.
// A bill that was on its way when that process ended (stopped, killed, its
// adapter dropped) is then judged against what was last read of it, not by
// the first-frame rule, which counts no stacked report it finds. Gives the
// start row's words for it, or nothing.
std::string SessionEngine::continueFromLog()
{
    continuation_.clear();
    SessionLog& log = record_.log();
    if (s_.HaveLastFrame == 1 || !log.isOpen())
        return {};
    // Rows of an earlier run of this process, if any, are in the file first.
    log.drain(OutputQueue::Clock::now() + std::chrono::milliseconds(200));
    const LogOwner owner{port_->deviceFor(s_.PortSelect).toStdString(),
                         port_->identityFor(s_.PortSelect).toStdString()};
    std::string readFrom, why;
    const std::optional<LogContinuation> c =
        ContinuationForRestart(log.path(), owner, &why, &readFrom);
    if (!c) {
        // A log with frames that is not gone on from says why, so that a
        // bill judged afresh by the first-frame rule is understood.
        if (why == NoFrameInTail)
            return {};
        continuation_ = "not continued: " + why;
        return std::string(NotContinued) + ClauseValue(why);
    }
    s_.LastFrame = c->lastFrame;
    s_.HaveLastFrame = 1;
    s_.LastFrameFromLog = 1;
    s_.LastReportEscrow = c->escrowAtReport == 1 ? 1 : 0;
    s_.Toggle = c->nextBit;
    if (c->ignoresBit)
        s_.IgnoreBit = 1;
    continuation_ = c->text;
    return ", continues from the log: " + c->text +
           (readFrom.empty() ? std::string() : ReadFromClause(readFrom));
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
        if (startPending_)
            record_.failedStart(QStringLiteral("port %1 (%2): cannot be opened: %3")
                                    .arg(s_.PortSelect)
                                    .arg(port_->deviceFor(s_.PortSelect), e.describe())
                                    .toStdString());
        emit runEnding(e.describe());
        endRun(e.describe().toStdString());
        emit runEnded();
        emit openRefused(e.describe());
        return false;
    }
    // Bytes of a frame cut short belong to the line before this open.
    s_.LineBytes.clear();
    recordStart();
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
    // Setting a running timer's interval restarts it, even to the same
    // value: the poll timer would then drift off the delay timer's beat and
    // wake the program once more every period. A new period still governs
    // the interval after the tick that first sees it.
    const int period = s_.PollRate > 0 ? s_.PollRate : int(FirstPeriod.count());
    if (pollTimer_->interval() != period)
        pollTimer_->setInterval(period);
    emit ticked();
    if (s_.StartStop == 1 && (port_->isOpen() || EnsureOpen())) {
        recordStart(); // a START right after STOP finds the port still open
        PollNotes notes;
        const Byte ignoredBefore = s_.IgnoreBit;
        s_.HoldBit = logBehind() ? 1 : 0;
        const std::optional<ReplyFrame> before =
            s_.HaveLastFrame == 1 ? std::optional(s_.LastFrame) : std::nullopt;
        PollAcceptor(s_, *port_, escrow_ ? 1 : 0, &notes.timing);
        notes.bitEchoMissing = s_.IgnoreBit == 1 && ignoredBefore != 1;
        notes.frames = CountFramesRead(s_, escrow_ ? 1 : 0);
        countBills(notes.frames);
        notes.at = RowNow();
        notes.clockStep = cycleClock_.poll(*notes.at, CycleClock::Steady::now());
        followBills(notes);
        notes.idleRepeat = idleRepeat(before, notes.frames);
        emit polled(notes);
        recordPoll(notes);
    }
    if (s_.StartStop == 0 && port_->isOpen())
        port_->close();
}

void SessionEngine::countBills(std::vector<FrameNote>& frames)
{
    bool any = false;
    for (const FrameNote& note : frames)
        if (note.count.counted()) {
            // Past the most a log's counter holds, a count would not read back.
            long& count = counts_[static_cast<std::size_t>(note.count.bill - 1)];
            count = std::min(count + 1, MostCounted);
            any = true;
        }
    if (any)
        NoteCounts(frames, counts_);
}

// The log may fall behind the wire only by the poll under way: while rows
// queued before this poll are still unwritten (a stalled disk, a FIFO nobody
// reads), the poll is held (see PollAcceptor), so that what the acceptor does
// next is never further ahead of the record than one exchange. A poll needs
// a host message before it to hold on to; a log that has failed holds
// nothing, having said so.
//
// A poll held meanwhile adds a row of its own, the acceptor's last reply
// again; the next poll waits for the rows up to the last poll that was not
// held, not for these, so that a disk whose syncs take longer than a poll
// period still lets the bill on, a poll or two later.
bool SessionEngine::logBehind()
{
    return record_.polls() > 0 && !record_.log().outThrough(logMark_);
}

// A poll whose row may wait for the disk: the acceptor idles (or shows a
// fault) with no bill in it, and said nothing new. Any other row reaches the
// disk before the next poll sends a new bit (logBehind holds it till then),
// so a power cut leaves the log at most one exchange short of the acceptor,
// which repeats that exchange's reply to the bit a restart sends.
bool SessionEngine::idleRepeat(const std::optional<ReplyFrame>& before,
                               const std::vector<FrameNote>& frames) const
{
    constexpr Byte BillStates = 0xFE; // byte 4 beside Idling: a bill on its way or its end
    if (!before || ((*before)(4) & BillStates) || cycles_.isOpen())
        return false;
    for (const FrameNote& note : frames)
        for (int byte = 4; byte <= 6; ++byte)
            if (note.frame.bytes(byte) != (*before)(byte))
                return false;
    return true;
}

void SessionEngine::recordPoll(PollNotes& notes)
{
    record_.poll(s_, notes);
    if (s_.HoldBit != 1)
        logMark_ = record_.log().mark();
    emit recorded(notes);
}

void SessionEngine::followBills(PollNotes& notes)
{
    for (const FrameNote& note : notes.frames)
        if (const std::optional<BillCycle> ended = cycles_.read(
                note.frame.bytes, note.count, cycleClock_.at(notes.at.value_or(RowNow())))) {
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
