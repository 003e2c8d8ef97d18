#pragma once

#include "protocol/pollnotes.h"
#include "protocol/runstate.h"
#include "record/sessionrecord.h"
#include "serial/linkkeeper.h"
#include "serial/serialport.h"

#include <QObject>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

class QTimer;

namespace kora {

// Runs one session at a time on a serial port, for whichever face shows it:
// the run state, the port handed in, the link kept open across a device that
// goes away, both timers, counting and the session record. Faces turn the
// operator's intents into calls and the signals into what they show.
class SessionEngine : public QObject
{
    Q_OBJECT

public:
    explicit SessionEngine(std::unique_ptr<SerialPort> port, QObject* parent = nullptr);
    ~SessionEngine() override;

    RunState& state() { return s_; }
    SerialPort& port() { return *port_; }
    QTimer* pollTimer() const { return pollTimer_; }
    QTimer* delayTimer() const { return delayTimer_; }
    SessionRecord& record() { return record_; }

    // Start-up: the operator defaults and the acceptor's line settings; the
    // port stays closed. Then both timers, together so that they share
    // their wake-ups.
    void StartUp();
    void StartTimers();

    // The operator's intents. Start and Stop only change the state; the
    // next tick opens or closes the port.
    void Start();
    void Stop();
    // The program is ending: a run under way ends in the record as STOP
    // would, with nothing for the face to show, and the port closes.
    void Finish();
    void ChoosePort(int n); // 1-8, used at the next open
    // A bill enable, the poll period, escrow mode or the escrow action
    // changed while polling is a row of its own in the record: at once, or
    // for the poll period once it has settled.
    void ToggleBill(int n);   // 1-7
    void SetPollRate(int ms); // from the next tick on
    void SetEscrowMode(bool on);
    bool escrowMode() const { return escrow_; }
    // What an escrowed bill is ordered: stacked (Allow 1) or returned.
    void SetEscrowAction(bool stack);
    // How long the poll period must stay unchanged before its change is
    // recorded: a scroll bar moved in steps makes one row, not one a step.
    static constexpr std::chrono::milliseconds PeriodSettles{1000};

    // The bills counted since START, per bill 1-7, with the operator's
    // adjustments: the one source of every count the record and the faces
    // give.
    const std::array<long, 7>& counts() const { return counts_; }
    // The operator sets bill n's count while polling; a count that differs
    // is taken, with a row saying so. Changes nothing while stopped.
    void AdjustCount(int bill, long count);

    // How this run took up its log, for the faces to tell: "frame 02 0B
    // ..., bit 1" when it goes on from it, "not continued: <why>" when the
    // log's frames were not gone on from, empty when there was nothing to.
    const std::string& continuation() const { return continuation_; }

    // Acceptance figures since START.
    const BillFigures& figures() const { return figures_; }

    // Opens the port now if it is closed; false when it cannot be had and
    // the run has ended (openRefused). A lost device still away is no reason
    // to end the run: it is tried again at every tick.
    bool EnsureOpen();

    void PollTick();
    void DelayTick();

signals:
    // START has begun a run; its first poll comes at the next tick.
    void started();
    // Each tick of the poll timer, before it polls.
    void ticked();
    // A poll just ended; the face shows it, each counted bill with its
    // count.
    void polled(const kora::PollNotes& notes);
    // The same poll once recorded, each counted bill with its count.
    void recorded(const kora::PollNotes& notes);
    void deviceLost(const QString& reason);
    void reconnected(const QString& device);
    // A lost device is back but another program holds it; said once.
    void heldByOther(const QString& message);
    // The first open of a run failed; the run has ended.
    void openRefused(const QString& reason);
    void runEnded();
    // The run is about to end, before its stop row: STOP, the program
    // ending, or the port refused at the first open (`why`).
    void runEnding(const QString& why);
    // A bill's cycle has ended, in a poll or, still open, at STOP.
    void billEnded(const kora::BillCycle& cycle);
    // STOP found whole frames already in that no poll had read: judged,
    // counted and recorded as a poll's frames are, before the port closed.
    void readAtStop(const kora::PollNotes& notes);

private:
    // What the operator may change mid-run, each with a row of its own.
    enum class Setting { EscrowAction, EscrowMode, Bills, PollPeriod, Count };

    void endRun(const std::string& why);
    void judgeFramesLeft();
    std::string countsText() const;
    void countBills(std::vector<FrameNote>& frames);
    bool logBehind();
    std::string settingText(Setting which) const;
    void recordSetting(Setting which);
    void recordSettledPeriod();
    void keepTrying();
    bool idleRepeat(const std::optional<ReplyFrame>& before,
                    const std::vector<FrameNote>& frames) const;
    void recordPoll(PollNotes& notes);
    void followBills(PollNotes& notes);
    std::string escrowActionText() const;
    std::string startText() const;
    std::string continueFromLog();
    void recordStart();

    RunState s_{};
    std::unique_ptr<SerialPort> port_;
    LinkKeeper keeper_;
    SessionRecord record_;
    QTimer* pollTimer_ = nullptr;
    QTimer* delayTimer_ = nullptr;
    QTimer* periodSettle_ = nullptr;
    bool escrow_ = true;
    std::array<long, 7> counts_{};
    // Each setting as the record last stated it, in the words of its row.
    std::array<std::string, static_cast<std::size_t>(Setting::Count)> onRecord_{};
    BillCycles cycles_;
    CycleClock cycleClock_; // bills are timed on it, whatever the wall clock does
    BillFigures figures_;
    QString heldSaid_; // the refusal last said while the device is lost
    std::string continuation_;
    std::uint64_t logMark_ = 0; // the log's rows up to the last poll not held
    // START was pressed but the port has not opened yet: no session so far,
    // and the start row waits for the open, with what continues the log.
    bool startPending_ = false;
    std::string continues_;
};

} // namespace kora
