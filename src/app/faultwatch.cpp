#include "app/faultwatch.h"

#include <cmath>
#include <cstdio>

namespace kora {

namespace {

// A flag of the good replies that an operator acts on, and what the
// journal says when it begins and ends.
struct FlagFault
{
    Byte RunState::*member;
    bool whenSet; // the fault is the flag set; false: the flag clear
    const char* name;
    const char* began;
    const char* ended;
};

constexpr std::array<FlagFault, 5> FlagFaults{{
    {&RunState::Jammed, true, "jam", "bill jammed", "jam cleared"},
    {&RunState::Full, true, "stacker full", "stacker full", "stacker no longer full"},
    {&RunState::Failure, true, "failure", "acceptor failure", "failure cleared"},
    {&RunState::Cheated, true, "cheat report", "cheat reported", "cheat report over"},
    {&RunState::Cassette, false, "cassette out", "cassette out", "cassette back in"},
}};

std::string tenths(FaultWatch::Clock::duration d)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(d).count());
    return text;
}

std::string counted(long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string times(int n)
{
    return n == 1 ? "once" : n == 2 ? "twice" : std::to_string(n) + " times";
}

} // namespace

FaultWatch::FaultWatch(std::string who) : who_(std::move(who))
{
    link_.name = "bad link";
    for (std::size_t i = 0; i < flags_.size(); ++i)
        flags_[i].name = FlagFaults[i].name;
}

std::vector<FaultWatch::Line> FaultWatch::poll(const RunState& s, Clock::time_point at)
{
    std::vector<Line> out;
    if (!lastGood_)
        lastGood_ = at;
    if (s.NRFlag == 0)
        replied(s, at, out);
    else
        pollFailed(s, at, out);
    release(link_, at, false, out);
    for (Condition& c : flags_)
        release(c, at, false, out);
    return out;
}

std::vector<FaultWatch::Line> FaultWatch::finish(Clock::time_point at)
{
    std::vector<Line> out;
    release(link_, at, true, out);
    for (Condition& c : flags_)
        release(c, at, true, out);
    return out;
}

// A poll or two without an answer is the line's ordinary noise; only a
// silence the acceptor's own state could hide behind is a fault.
void FaultWatch::pollFailed(const RunState& s, Clock::time_point at, std::vector<Line>& out)
{
    ++failedPolls_;
    ++(s.NRFlag == 2 ? checksum_ : noReply_);
    const Clock::duration silence = at - *lastGood_;
    if (link_.on || silence < LinkSilence)
        return;
    change(link_, true,
           "no good reply for " + tenths(silence) + ": " + counted(failedPolls_, "poll", "polls") +
               ", " + std::to_string(noReply_) + " with no reply, " +
               counted(checksum_, "checksum error", "checksum errors"),
           at, out);
}

// Flags come only with a good reply: a failed poll says nothing of them.
void FaultWatch::replied(const RunState& s, Clock::time_point at, std::vector<Line>& out)
{
    if (link_.on)
        change(link_, false, "replies again after " + tenths(at - *lastGood_), at, out);
    lastGood_ = at;
    failedPolls_ = noReply_ = checksum_ = 0;
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        const FlagFault& f = FlagFaults[i];
        const bool on = (s.*f.member == 1) == f.whenSet;
        if (on != flags_[i].on)
            change(flags_[i], on, on ? f.began : f.ended, at, out);
    }
}

void FaultWatch::change(Condition& c, bool on, std::string text, Clock::time_point at,
                        std::vector<Line>& out)
{
    c.on = on;
    Line line{on ? Priority::Warning : Priority::Info, who_ + ": " + text};
    if (c.held == 0 && (!c.saidAt || at - *c.saidAt >= Hold)) {
        say(c, std::move(line), at, out);
        return;
    }
    ++c.held;
    c.heldLine = std::move(line);
    c.heldAt = at;
}

// A single change held back is said as it was, with how long ago; more are
// summed up, as a warning, since the fault came at least once meanwhile.
void FaultWatch::release(Condition& c, Clock::time_point at, bool force, std::vector<Line>& out)
{
    if (c.held == 0 || (!force && at - *c.saidAt < Hold))
        return;
    if (c.held == 1) {
        Line line = c.heldLine;
        if (const auto ago = std::chrono::duration_cast<std::chrono::seconds>(at - c.heldAt);
            ago.count() > 0)
            line.text += " (" + std::to_string(ago.count()) + " s ago)";
        say(c, std::move(line), at, out);
        return;
    }
    const long window = std::lround(std::chrono::duration<double>(at - *c.saidAt).count());
    say(c,
        {Priority::Warning, who_ + ": " + c.name + " came and went " + times((c.held + 1) / 2) +
                                " in " + std::to_string(window) + " s and is " +
                                (c.on ? "on" : "over")},
        at, out);
}

void FaultWatch::say(Condition& c, Line line, Clock::time_point at, std::vector<Line>& out)
{
    out.push_back(std::move(line));
    c.saidAt = at;
    c.held = 0;
}

} // namespace kora
