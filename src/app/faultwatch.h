#pragma once

#include "app/sayline.h"
#include "protocol/runstate.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// What the journal is told of the acceptor's faults: a line when the link
// goes bad (no good reply for LinkSilence) and when it is good again, and
// when good replies begin and end reporting a jam, a full stacker, a
// failure, a cheat or the cassette out. A kiosk runs for weeks, so a
// condition that comes and goes is said at most once per Hold: what
// happened meanwhile follows when the Hold is over, in one line.
class FaultWatch
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds LinkSilence{2};
    static constexpr std::chrono::seconds Hold{10};

    struct Line
    {
        Priority priority = Priority::Info;
        std::string text;
    };

    // `who` starts every line, as "port 1 (/dev/ttyUSB0)".
    explicit FaultWatch(std::string who);

    // A poll that ended at `at`: its outcome (NRFlag) and, after a good
    // reply, the flags that reply set. Gives the lines to say now.
    std::vector<Line> poll(const RunState& s, Clock::time_point at);
    // The run is over: the lines still held back, at once.
    std::vector<Line> finish(Clock::time_point at);

private:
    // One condition's lines: said at once when the last was said a Hold
    // ago, else held back and counted.
    struct Condition
    {
        const char* name = "";
        bool on = false; // as the replies say now
        std::optional<Clock::time_point> saidAt;
        int held = 0; // changes since the last line
        Line heldLine;
        Clock::time_point heldAt{};
    };

    void change(Condition& c, bool on, std::string text, Clock::time_point at,
                std::vector<Line>& out);
    void release(Condition& c, Clock::time_point at, bool force, std::vector<Line>& out);
    void say(Condition& c, Line line, Clock::time_point at, std::vector<Line>& out);
    void pollFailed(const RunState& s, Clock::time_point at, std::vector<Line>& out);
    void replied(const RunState& s, Clock::time_point at, std::vector<Line>& out);

    std::string who_;
    std::optional<Clock::time_point> lastGood_;         // or the first poll, before a good reply
    long failedPolls_ = 0, noReply_ = 0, checksum_ = 0; // since lastGood_
    Condition link_;
    std::array<Condition, 5> flags_{}; // as the flag table in the source orders them
};

} // namespace kora
