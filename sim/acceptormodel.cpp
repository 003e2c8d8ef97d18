#include "acceptormodel.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace kora::sim {

void Tally::add(int bill)
{
    ++count_.at(static_cast<std::size_t>(bill - 1));
    ++outcomes_.stacked;
}

Tally& Tally::operator+=(const Tally& other)
{
    for (std::size_t i = 0; i < count_.size(); ++i)
        count_[i] += other.count_[i];
    outcomes_.stacked += other.outcomes_.stacked;
    outcomes_.returned += other.outcomes_.returned;
    outcomes_.rejected += other.outcomes_.rejected;
    outcomes_.jammed += other.outcomes_.jammed;
    outcomes_.cheated += other.outcomes_.cheated;
    return *this;
}

int Tally::total() const
{
    return std::accumulate(count_.begin(), count_.end(), 0);
}

std::string Tally::text() const
{
    std::string text;
    for (int bill = 1; bill <= 7; ++bill)
        text += "bill" + std::to_string(bill) + '=' + std::to_string(of(bill)) + ' ';
    return text + "total=" + std::to_string(total());
}

std::string Tally::report() const
{
    const Outcomes& o = outcomes_;
    return "tally: " + text() + "\noutcomes: stacked=" + std::to_string(o.stacked) +
           " returned=" + std::to_string(o.returned) + " rejected=" + std::to_string(o.rejected) +
           " jammed=" + std::to_string(o.jammed) + " cheated=" + std::to_string(o.cheated);
}

const char* phaseName(Phase phase)
{
    switch (phase) {
    case Phase::Idling:
        return "idling";
    case Phase::Accepting:
        return "accepting";
    case Phase::Escrowed:
        return "escrowed";
    case Phase::Stacking:
        return "stacking";
    case Phase::Stacked:
        return "stacked";
    case Phase::Returning:
        return "returning";
    case Phase::Returned:
        return "returned";
    case Phase::Rejected:
        return "rejected";
    }
    return "?";
}

void AcceptorModel::advance(Ms elapsed)
{
    if (elapsed <= Ms{0})
        return;
    now_ += elapsed;
    if (frozen())
        phaseSince_ += elapsed; // a jammed transport does not move on
    runSteps();
}

void AcceptorModel::insert(int bill)
{
    if (bill < 1 || bill > 7)
        throw std::out_of_range("bill " + std::to_string(bill) + " is not 1-7");
    waiting_.push_back(bill);
    if (phase_ == Phase::Idling)
        enterIdling(now_);
}

void AcceptorModel::cheat()
{
    cheated_ = true;
    tally_.count(&Outcomes::cheated);
}

void AcceptorModel::jam()
{
    jammed_ = true;
    billJammed_ = billJammed_ || billOnItsWay();
    tally_.count(&Outcomes::jammed);
}

// Between going in and its outcome; a stacked, returned or rejected bill
// that waits to be reported has had its outcome.
bool AcceptorModel::billOnItsWay() const
{
    return phase_ == Phase::Accepting || phase_ == Phase::Escrowed || phase_ == Phase::Stacking ||
           phase_ == Phase::Returning;
}

void AcceptorModel::clear()
{
    if (billJammed_)
        enterIdling(now_);
    billJammed_ = false;
    jammed_ = false;
    failed_ = false;
    full_ = false;
}

void AcceptorModel::powerUp()
{
    // Whatever the acceptor held in memory is gone; the cassette, its bills
    // and the clock are not.
    AcceptorModel fresh(step_);
    fresh.now_ = now_;
    fresh.phaseSince_ = now_;
    fresh.tally_ = tally_;
    fresh.cassette_ = cassette_;
    fresh.full_ = full_;
    fresh.stickyNext_ = stickyNext_;
    fresh.queue_ = queue_;
    fresh.rejectBill_ = rejectBill_;
    fresh.returnStacked_ = returnStacked_;
    *this = fresh;
}

bool AcceptorModel::refuses(int bill) const
{
    const bool enabled = (enables_ >> (bill - 1)) & 1;
    return !enabled || bill == rejectBill_ || full_ || !cassette_;
}

void AcceptorModel::enter(Phase phase, Ms since)
{
    phase_ = phase;
    phaseSince_ = since;
}

void AcceptorModel::enterIdling(Ms since)
{
    bill_ = 0;
    enter(Phase::Idling, since);
    if (waiting_.empty())
        return;
    bill_ = waiting_.front();
    waiting_.pop_front();
    enter(Phase::Accepting, since);
}

void AcceptorModel::runSteps()
{
    while (now_ - phaseSince_ >= step_) {
        const Ms due = phaseSince_ + step_;
        switch (phase_) {
        case Phase::Accepting:
            if (refuses(bill_) || refuseNext_) {
                refuseNext_ = false;
                tally_.count(&Outcomes::rejected);
                enter(Phase::Rejected, due);
            } else {
                enter(escrowMode_ ? Phase::Escrowed : Phase::Stacking, due);
            }
            break;
        case Phase::Stacking:
            tally_.add(bill_);
            enter(Phase::Stacked, due);
            break;
        case Phase::Returning:
            tally_.count(&Outcomes::returned);
            enter(Phase::Returned, due);
            break;
        default:
            return; // waits for the host, not for time
        }
    }
}

void AcceptorModel::takeOrder(const HostMessage& message)
{
    enables_ = message.enables();
    escrowMode_ = message.escrowMode();
    if (message.asksTheImpossible()) {
        invalid_ = true;
        return;
    }
    if (phase_ != Phase::Escrowed)
        return; // an order with nothing in escrow has nothing to act on
    if (message.stackOrder())
        enter(Phase::Stacking, now_);
    else if (message.returnOrder())
        enter(std::exchange(stackNextReturn_, false) ? Phase::Stacking : Phase::Returning, now_);
}

AcceptorModel::Answer AcceptorModel::answer(const HostMessage& message)
{
    if (lastAck_ == message.ack() && !queue_)
        return {lastReply_, true};
    // A queueing acceptor answers with what it was doing when the message
    // came, and only then acts on it.
    if (!queue_)
        takeOrder(message);
    runSteps();
    lastReply_ = buildReply(message.ack(), peek());
    lastAck_ = message.ack();
    markReported();
    if (queue_)
        takeOrder(message);
    return {lastReply_, false};
}

void AcceptorModel::resume(const LastExchange& last)
{
    lastAck_ = last.ack & 0x01;
    lastReply_ = last.reply;
}

void AcceptorModel::setSticky(int replies)
{
    stickyNext_ = std::max(0, replies);
    if (stickyNext_ == 0 && stackedHeld_) {
        stackedHeld_.reset();
        enterIdling(now_); // reported at least once already
    }
}

void AcceptorModel::markReported()
{
    cheated_ = false;
    invalid_ = false;
    if (powerRepliesLeft_ > 0)
        --powerRepliesLeft_;
    if (phase_ == Phase::Stacked && holdsStacked())
        return;
    if (phase_ == Phase::Stacked || phase_ == Phase::Returned || phase_ == Phase::Rejected)
        enterIdling(now_);
}

// Counts a fresh reply that reported the stacked bill; true while the report
// is to stay up for the next.
bool AcceptorModel::holdsStacked()
{
    if (!stackedHeld_) {
        stackedHeld_ = stickyNext_;
        stickyNext_ = 0;
    }
    if (*stackedHeld_ > 0) {
        --*stackedHeld_;
        return true;
    }
    stackedHeld_.reset();
    return false;
}

ReplyContent AcceptorModel::peek() const
{
    static constexpr std::uint8_t kStateOf[] = {
        state::Idling,  state::Accepting, state::Escrowed, state::Stacking,
        state::Stacked, state::Returning, state::Returned, state::Idling,
    };
    ReplyContent c;
    c.state = kStateOf[static_cast<int>(phase_)];
    if (phase_ == Phase::Returned && returnStacked_)
        c.state |= state::Stacked;
    c.events = static_cast<std::uint8_t>((cheated_ ? event::Cheated : 0) |
                                         (phase_ == Phase::Rejected ? event::Rejected : 0) |
                                         (jammed_ ? event::Jammed : 0) | (full_ ? event::Full : 0) |
                                         (cassette_ ? event::Cassette : 0));
    c.health = static_cast<std::uint8_t>((powerRepliesLeft_ > 0 ? health::Power : 0) |
                                         (invalid_ ? health::Invalid : 0) |
                                         (failed_ ? health::Failure : 0));
    c.credit = (phase_ == Phase::Escrowed || phase_ == Phase::Stacked) ? bill_ : 0;
    return c;
}

std::string AcceptorModel::describe() const
{
    std::string text = phaseName(phase_);
    if (bill_ != 0)
        text += " bill " + std::to_string(bill_);
    if (!waiting_.empty())
        text += ", " + std::to_string(waiting_.size()) + " waiting";
    text += cassette_ ? ", cassette in" : ", cassette out";
    if (jammed_)
        text += ", jammed";
    if (failed_)
        text += ", failure";
    if (full_)
        text += ", stacker full";
    if (rejectBill_ != 0)
        text += ", rejecting bill " + std::to_string(rejectBill_);
    if (returnStacked_)
        text += ", returns reported stacked";
    if (powerRepliesLeft_ > 0)
        text += ", powering up";
    if (stackedHeld_)
        text += ", stacked report held for " + std::to_string(*stackedHeld_ + 1) + " more";
    if (stickyNext_ > 0)
        text += ", sticky " + std::to_string(stickyNext_);
    if (queue_)
        text += ", queue";
    return text;
}

} // namespace kora::sim

namespace kora::sim {

std::string replyText(const ReplyBytes& reply)
{
    static constexpr const char* kStates[] = {"idling",  "accepting", "escrowed", "stacking",
                                              "stacked", "returning", "returned"};
    static constexpr const char* kEvents[] = {"cheated", "rejected", "jammed", "full", "cassette"};
    static constexpr const char* kHealth[] = {"power-up", "invalid", "failure"};
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    for (int bit = 0; bit < 7; ++bit)
        if (reply[3] & (1 << bit))
            add(kStates[bit]);
    if (const int credit = (reply[5] >> 3) & 0x07; credit != 0)
        add("credit " + std::to_string(credit));
    for (int bit = 0; bit < 5; ++bit)
        if (reply[4] & (1 << bit))
            add(kEvents[bit]);
    for (int bit = 0; bit < 3; ++bit)
        if (reply[5] & (1 << bit))
            add(kHealth[bit]);
    return text;
}

} // namespace kora::sim
