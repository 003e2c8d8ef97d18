// The server's controls: commands, fault settings and read-outs.
#include "acceptorserver.h"

#include <algorithm>

namespace kora::sim {

CommandResult AcceptorServer::command(const std::string& line)
{
    const ParsedLine parsed = parseCommand(line);
    if (!parsed.command)
        return {parsed.error.empty(), parsed.error, false};
    if (log_ && parsed.command->verb != Verb::Wait)
        log_(stamp(Clock::now()) + "command: " + line.substr(line.find_first_not_of(" \t")));
    if (parsed.command->verb == Verb::Wait) {
        std::unique_lock lock(mutex_);
        stopped_.wait_for(lock, parsed.command->time, [this] { return stopping_; });
        return {};
    }
    if (parsed.command->verb == Verb::Deck)
        return playDeck(parsed.command->deck);
    return apply(*parsed.command);
}

CommandResult AcceptorServer::apply(const Command& c)
{
    switch (c.verb) {
    case Verb::Help:
        return {true, commandHelp(), false};
    case Verb::Quit:
        return {true, {}, true};
    case Verb::Tally:
        return {true, tally().report(), false};
    case Verb::Status:
        return {true, status(), false};
    case Verb::Step:
        setStepTime(c.time);
        return {};
    case Verb::Silent:
        setSilent(c.on);
        return {};
    case Verb::SilentFor:
        silenceFor(c.time);
        return {};
    case Verb::Late:
        if (c.number > 0)
            lateNext(c.time, c.number);
        else
            setLate(c.time);
        return {};
    case Verb::Deaf:
        deafNext(c.number);
        return {};
    case Verb::Sticky:
        setSticky(c.number);
        return {};
    case Verb::Queue:
        setQueue(c.on);
        return {};
    case Verb::Truncate:
        setTruncate(c.number);
        return {};
    case Verb::Corrupt:
        setCorrupt(c.on);
        return {};
    case Verb::CorruptNext:
        corruptNext(c.number);
        return {};
    case Verb::Garbage:
        setGarbage(c.number);
        return {};
    case Verb::Paced:
        setPaced(c.on);
        return {};
    case Verb::Noise:
        setNoise(c.number, c.every);
        return {};
    case Verb::Unplug:
        unplugFor(c.time);
        return {};
    default:
        break;
    }
    std::lock_guard lock(mutex_);
    advanceModel(Clock::now());
    switch (c.verb) {
    case Verb::Insert:
        model_.insert(c.number);
        break;
    case Verb::Cheat:
        model_.cheat();
        break;
    case Verb::Jam:
        model_.jam();
        break;
    case Verb::Failure:
        model_.fail();
        break;
    case Verb::Full:
        model_.setStackerFull(c.on);
        break;
    case Verb::Cassette:
        model_.setCassette(c.on);
        break;
    case Verb::Reject:
        model_.setReject(c.number);
        break;
    case Verb::ReturnStacked:
        model_.setReturnStacked(c.on);
        break;
    case Verb::Invalid:
        model_.invalidCommand();
        break;
    case Verb::Clear:
        model_.clear();
        break;
    case Verb::Power:
        model_.powerUp();
        break;
    default:
        break;
    }
    return {};
}

void AcceptorServer::setSilent(bool on)
{
    std::lock_guard lock(mutex_);
    faults_.silent = on;
    if (!on)
        faults_.silentUntil = {};
}

void AcceptorServer::silenceFor(Ms duration)
{
    std::lock_guard lock(mutex_);
    faults_.silentUntil = Clock::now() + duration;
}

void AcceptorServer::setLate(Ms delay)
{
    {
        std::lock_guard lock(mutex_);
        faults_.late = delay;
        faults_.lateNext = 0;
        for (Transmission& t : outgoing_)
            t.due = std::min(t.due, t.queued + t.work + delay);
    }
    wake(); // the server sleeps until the old time
}

void AcceptorServer::lateNext(Ms delay, int replies)
{
    std::lock_guard lock(mutex_);
    faults_.lateNextBy = delay;
    faults_.lateNext = std::max(0, replies);
}

void AcceptorServer::deafNext(int messages)
{
    std::lock_guard lock(mutex_);
    faults_.deafNext = std::max(0, messages);
}

void AcceptorServer::setSticky(int replies)
{
    std::lock_guard lock(mutex_);
    advanceModel(Clock::now());
    model_.setSticky(replies);
}

void AcceptorServer::setQueue(bool on)
{
    std::lock_guard lock(mutex_);
    model_.setQueue(on);
}

void AcceptorServer::setTruncate(int bytes)
{
    std::lock_guard lock(mutex_);
    faults_.truncate = bytes;
}

void AcceptorServer::setCorrupt(bool on)
{
    std::lock_guard lock(mutex_);
    faults_.corrupt = on;
    if (!on)
        faults_.corruptNext = 0;
}

void AcceptorServer::corruptNext(int replies)
{
    std::lock_guard lock(mutex_);
    faults_.corruptNext = replies;
}

void AcceptorServer::setGarbage(int bytes)
{
    std::lock_guard lock(mutex_);
    faults_.garbage = bytes;
}

void AcceptorServer::setPaced(bool on)
{
    std::lock_guard lock(mutex_);
    faults_.paced = on;
}

void AcceptorServer::setNoise(int bytes, int everyPolls)
{
    std::lock_guard lock(mutex_);
    faults_.noiseBytes = std::max(0, bytes);
    faults_.noiseEvery = faults_.noiseBytes > 0 ? std::max(1, everyPolls) : 0;
    repliesSinceNoise_ = 0;
    if (faults_.noiseBytes == 0)
        bursts_.clear();
}

Faults AcceptorServer::faults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

void AcceptorServer::setStepTime(Ms stepTime)
{
    std::lock_guard lock(mutex_);
    advanceModel(Clock::now());
    model_.setStepTime(stepTime);
}

Tally AcceptorServer::tally() const
{
    std::lock_guard lock(mutex_);
    advanceModel(Clock::now());
    Tally tally = model_.tally();
    if (replay_)
        tally += replay_->stacked(); // what the recorded acceptor stacked, as it was played
    return tally;
}

Counters AcceptorServer::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

AcceptorServer::Clock::time_point AcceptorServer::lastReplyEnd() const
{
    std::lock_guard lock(mutex_);
    return lastReplyEnd_;
}

std::string AcceptorServer::status() const
{
    std::lock_guard lock(mutex_);
    advanceModel(Clock::now());
    return "status: " + model_.describe() + " | step " + std::to_string(model_.stepTime().count()) +
           "ms | " + faults_.text(Clock::now()) + " | " +
           (counters_.unheard > 0 ? std::to_string(counters_.unheard) + " unheard | " : "") +
           (link_.isOpen() ? link_.path() : std::string("link closed")) +
           (replay_ ? " | replay " + replay_->progress() : std::string());
}

} // namespace kora::sim
