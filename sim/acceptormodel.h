#pragma once

#include "framing.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace kora::sim {

using Ms = std::chrono::milliseconds;

constexpr Ms kDefaultStepTime{300};
// Replies after power-up that carry the power-up bit.
constexpr int kPowerUpReplies = 2;

// Reply byte 4: exactly one of these at a time.
namespace state {
constexpr std::uint8_t Idling = 0x01;
constexpr std::uint8_t Accepting = 0x02;
constexpr std::uint8_t Escrowed = 0x04;
constexpr std::uint8_t Stacking = 0x08;
constexpr std::uint8_t Stacked = 0x10;
constexpr std::uint8_t Returning = 0x20;
constexpr std::uint8_t Returned = 0x40;
} // namespace state

// Reply byte 5.
namespace event {
constexpr std::uint8_t Cheated = 0x01;
constexpr std::uint8_t Rejected = 0x02;
constexpr std::uint8_t Jammed = 0x04;
constexpr std::uint8_t Full = 0x08;
constexpr std::uint8_t Cassette = 0x10;
} // namespace event

// Reply byte 6, bits 0-2 (the credit number sits in bits 3-5).
namespace health {
constexpr std::uint8_t Power = 0x01;
constexpr std::uint8_t Invalid = 0x02;
constexpr std::uint8_t Failure = 0x04;
} // namespace health

// How each bill's cycle ended, and the cheats, for a bench to compare with
// what its host saw. A jam counts once whether or not it caught a bill.
struct Outcomes
{
    int stacked = 0;
    int returned = 0;
    int rejected = 0;
    int jammed = 0;
    int cheated = 0;
    bool operator==(const Outcomes&) const = default;
};

// Bills stacked in the cassette, per denomination 1-7, and every outcome.
class Tally
{
public:
    int of(int bill) const { return count_.at(static_cast<std::size_t>(bill - 1)); }
    void add(int bill);
    // Another tally's bills and outcomes added to these.
    Tally& operator+=(const Tally& other);
    // Any outcome but stacked, which add() counts.
    void count(int Outcomes::*outcome) { ++(outcomes_.*outcome); }
    int total() const;
    const Outcomes& outcomes() const { return outcomes_; }
    // "bill1=0 bill2=0 bill3=1 ... total=1"; scripts parse it, so it stays as is.
    std::string text() const;
    // "tally: <text()>" and "outcomes: stacked=1 returned=0 ...", one a line.
    std::string report() const;
    bool operator==(const Tally&) const = default;

private:
    std::array<int, 7> count_{};
    Outcomes outcomes_;
};

enum class Phase { Idling, Accepting, Escrowed, Stacking, Stacked, Returning, Returned, Rejected };

// The bill acceptor itself: what happens to each bill, step by step, and what
// each reply reports. It has no clock of its own: whoever drives it says how
// much time has passed, so tests can run it without waiting.
//
// A reported outcome (stacked with its credit, returned, rejected, and the
// one-shot events) goes out in exactly one fresh reply, unless `sticky` holds
// a stacked report up for more. A host message that repeats the previous
// acknowledgement bit gets the previous reply again, unchanged, and is
// otherwise ignored: its reply was lost on the way, and acting on it again
// would double an order. In queue mode there are no repeats: every message is
// answered afresh with the state it found, then acted on, as some acceptors do.
class AcceptorModel
{
public:
    struct Answer
    {
        ReplyBytes reply{};
        bool repeated = false;
    };

    // What an acceptor that has already talked to a host remembers of it.
    struct LastExchange
    {
        std::uint8_t ack = 0;
        ReplyBytes reply{};
    };

    explicit AcceptorModel(Ms stepTime = kDefaultStepTime) : step_(stepTime) {}

    void advance(Ms elapsed);
    Ms now() const { return now_; }
    void setStepTime(Ms stepTime) { step_ = stepTime; }
    Ms stepTime() const { return step_; }

    Answer answer(const HostMessage& message);
    // Carries on from an earlier exchange: a host message with `last.ack`
    // is a repeat and gets `last.reply`, whatever it holds.
    void resume(const LastExchange& last);

    // The next stacked report goes out in `replies` more fresh replies after
    // its first; 0 ends a report held up now and forgets any to come.
    void setSticky(int replies);
    void setQueue(bool on) { queue_ = on; }
    bool queue() const { return queue_; }

    // A bill of denomination 1-7 enters; it waits its turn while another bill
    // is being handled. Throws std::out_of_range for any other number.
    void insert(int bill);
    void cheat();
    void invalidCommand() { invalid_ = true; }
    // A bill on its way when the transport jams does not go on after
    // `clear`: clearing a jam takes it out by hand.
    void jam();
    void fail() { failed_ = true; }
    void setStackerFull(bool full) { full_ = full; }
    void setCassette(bool present) { cassette_ = present; }
    // Bills of this denomination are rejected as if disabled; 0: none.
    void setReject(int bill) { rejectBill_ = bill; }
    // A returned bill's report keeps the stacked bit up, as some acceptors'
    // do; the bill is still returned, not stacked.
    void setReturnStacked(bool on) { returnStacked_ = on; }
    // The bill now going in, or the next, is refused (rejected) once.
    void refuseNext(bool on = true) { refuseNext_ = on; }
    // The next return order stacks the bill instead: a note that must be
    // refused, taken.
    void stackNextReturn(bool on = true) { stackNextReturn_ = on; }
    // Ends a jam, a failure and a full stacker.
    void clear();
    void powerUp();

    // What a fresh reply built now would report.
    ReplyContent peek() const;
    Phase phase() const { return phase_; }
    int bill() const { return bill_; }
    const Tally& tally() const { return tally_; }
    std::string describe() const;

private:
    bool frozen() const { return jammed_ || failed_; }
    bool billOnItsWay() const;
    bool refuses(int bill) const;
    void enter(Phase phase, Ms since);
    void enterIdling(Ms since);
    // Moves on through every step whose time has come.
    void runSteps();
    void takeOrder(const HostMessage& message);
    void markReported();
    bool holdsStacked();

    Ms now_{0};
    Ms step_;
    Phase phase_ = Phase::Idling;
    Ms phaseSince_{0};
    int bill_ = 0;
    std::deque<int> waiting_;
    Tally tally_;

    std::uint8_t enables_ = 0; // inhibited until the host says otherwise
    bool escrowMode_ = false;
    std::optional<std::uint8_t> lastAck_;
    ReplyBytes lastReply_{};

    bool cheated_ = false;
    bool invalid_ = false;
    bool jammed_ = false;
    bool billJammed_ = false; // the bill in hand is lost to the jam
    bool failed_ = false;
    bool full_ = false;
    bool cassette_ = true;
    int powerRepliesLeft_ = kPowerUpReplies;

    // Survive a power cycle: they are how this acceptor behaves, not memory.
    int stickyNext_ = 0;
    bool queue_ = false;
    int rejectBill_ = 0;
    bool returnStacked_ = false;
    bool refuseNext_ = false, stackNextReturn_ = false; // one-shot, for a test deck
    // Fresh replies still to report the stacked bill; none while not held.
    std::optional<int> stackedHeld_;
};

const char* phaseName(Phase phase);
// What a reply reports, in words: "stacked, credit 3, cassette, power-up".
std::string replyText(const ReplyBytes& reply);

} // namespace kora::sim
