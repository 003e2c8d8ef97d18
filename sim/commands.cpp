#include "commands.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <vector>

namespace kora::sim {

namespace {

std::vector<std::string> wordsOf(std::string_view line)
{
    const auto hash = line.find('#');
    std::istringstream in{std::string(line.substr(0, hash))};
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::optional<int> parseCount(std::string_view text, int lowest, int highest)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

std::optional<bool> parseSwitch(std::string_view text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

// Plain milliseconds, as `late` has always taken them; a unit is welcome.
std::optional<std::chrono::milliseconds> milliseconds(std::string_view text)
{
    if (const auto ms = parseCount(text, 0, 1000000000))
        return std::chrono::milliseconds{*ms};
    return parseDuration(text);
}

struct Parser
{
    std::vector<std::string> words;
    ParsedLine result;

    std::string_view arg() const { return words.size() > 1 ? words[1] : std::string_view{}; }
    bool wants(std::size_t count)
    {
        if (words.size() == count)
            return true;
        result.error = words[0] + ": expected " + std::to_string(count - 1) + " argument(s)";
        return false;
    }
    void give(Command c) { result.command = c; }
    void fail(const std::string& why) { result.error = words[0] + ": " + why; }

    void simple(Verb verb)
    {
        if (wants(1))
            give({.verb = verb});
    }
    void optionalSwitch(Verb verb)
    {
        if (words.size() == 1)
            return give({.verb = verb});
        const auto on = wants(2) ? parseSwitch(arg()) : std::nullopt;
        if (on)
            give({.verb = verb, .on = *on});
        else if (result.error.empty())
            fail("expected on or off");
    }
    void requiredSwitch(Verb verb)
    {
        const auto on = wants(2) ? parseSwitch(arg()) : std::nullopt;
        if (on)
            give({.verb = verb, .on = *on});
        else if (result.error.empty())
            fail("expected on or off");
    }
    void number(Verb verb, int lowest, int highest, bool offIsZero)
    {
        if (!wants(2))
            return;
        const auto n = offIsZero && arg() == "off" ? std::optional<int>(0)
                                                   : parseCount(arg(), lowest, highest);
        if (n)
            give({.verb = verb, .number = *n});
        else
            fail("expected a number from " + std::to_string(lowest) + " to " +
                 std::to_string(highest) + (offIsZero ? " or off" : ""));
    }
    void duration(Verb verb, bool offIsZero)
    {
        if (!wants(2))
            return;
        const auto t = offIsZero && arg() == "off" ? std::optional(std::chrono::milliseconds{0})
                                                   : parseDuration(arg());
        if (t)
            give({.verb = verb, .time = *t});
        else
            fail("expected a duration with its unit, such as 500ms or 2s");
    }
    void switchOrDuration(Verb onOff, Verb timed)
    {
        if (!wants(2))
            return;
        if (const auto on = parseSwitch(arg()))
            give({.verb = onOff, .on = *on});
        else
            duration(timed, false);
    }
    void switchOrCount(Verb onOff, Verb counted)
    {
        if (!wants(2))
            return;
        if (const auto on = parseSwitch(arg()))
            give({.verb = onOff, .on = *on});
        else
            number(counted, 1, 1000000, false);
    }

    void late()
    {
        if (words.size() == 2 && arg() == "off")
            return give({.verb = Verb::Late});
        const auto ms = words.size() == 2 || words.size() == 3 ? milliseconds(arg()) : std::nullopt;
        const auto n = words.size() == 3 ? parseCount(words[2], 1, 1000000) : std::optional(0);
        if (ms && n)
            give({.verb = Verb::Late, .number = *n, .time = *ms});
        else
            fail("expected milliseconds, e.g. late 600, then a number of replies (1-1000000) "
                 "for only the next ones, or off");
    }

    void noise()
    {
        if (words.size() == 2 && arg() == "off")
            return give({.verb = Verb::Noise});
        const auto n =
            words.size() == 4 && words[2] == "every" ? parseCount(words[1], 1, 1000) : std::nullopt;
        const auto k = n ? parseCount(words[3], 1, 1000000) : std::nullopt;
        if (k)
            give({.verb = Verb::Noise, .number = *n, .every = *k});
        else
            fail("expected N every K (N 1-1000 bytes, K 1-1000000 polls) or off");
    }

    // "3x10", or "5x2!" for notes that must be refused.
    static std::optional<DeckGroup> deckGroup(std::string_view word)
    {
        DeckGroup g;
        g.mustRefuse = word.ends_with('!');
        if (g.mustRefuse)
            word.remove_suffix(1);
        const auto x = word.find('x');
        if (x == std::string_view::npos)
            return std::nullopt;
        const auto bill = parseCount(word.substr(0, x), 1, 7);
        const auto notes = parseCount(word.substr(x + 1), 1, 10000);
        if (!bill || !notes)
            return std::nullopt;
        g.bill = *bill, g.notes = *notes;
        return g;
    }

    // "5%" or "5": a chance from 0 to 100 per cent.
    static std::optional<double> percent(std::string_view text)
    {
        if (text.ends_with('%'))
            text.remove_suffix(1);
        double value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
            !(value >= 0 && value <= 100))
            return std::nullopt;
        return value;
    }

    void deck()
    {
        Deck d;
        std::size_t i = 1;
        for (; i < words.size(); ++i) {
            const auto g = deckGroup(words[i]);
            if (!g)
                break;
            d.groups.push_back(*g);
        }
        for (; i + 1 < words.size(); i += 2) {
            const std::string& what = words[i];
            double* chance = what == "refuse"  ? &d.refusePercent
                             : what == "jam"   ? &d.jamPercent
                             : what == "false" ? &d.falsePercent
                                               : nullptr;
            const auto p = chance ? percent(words[i + 1]) : std::nullopt;
            const auto seed =
                what == "seed" ? parseCount(words[i + 1], 0, 2000000000) : std::nullopt;
            if (p)
                *chance = *p;
            else if (seed)
                d.seed = static_cast<unsigned>(*seed);
            else
                break;
        }
        if (d.groups.empty() || i != words.size())
            return fail("expected groups such as 3x10 (bill 3, ten notes) or 5x2! (two to be "
                        "refused), then any of refuse P%, jam P%, false P%, seed N");
        give({.verb = Verb::Deck, .deck = d});
    }

    void parse()
    {
        const std::string& v = words[0];
        if (v == "insert")
            number(Verb::Insert, 1, 7, false);
        else if (v == "cheat")
            simple(Verb::Cheat);
        else if (v == "jam")
            simple(Verb::Jam);
        else if (v == "failure")
            simple(Verb::Failure);
        else if (v == "full")
            optionalSwitch(Verb::Full);
        else if (v == "cassette")
            optionalSwitch(Verb::Cassette);
        else if (v == "invalid")
            simple(Verb::Invalid);
        else if (v == "clear")
            simple(Verb::Clear);
        else if (v == "power")
            simple(Verb::Power);
        else if (v == "step")
            duration(Verb::Step, false);
        else if (v == "wait")
            duration(Verb::Wait, false);
        else if (v == "tally")
            simple(Verb::Tally);
        else if (v == "status")
            simple(Verb::Status);
        else if (v == "silent")
            switchOrDuration(Verb::Silent, Verb::SilentFor);
        else if (v == "late")
            late();
        else if (v == "deaf")
            number(Verb::Deaf, 0, 1000000, true);
        else if (v == "truncate")
            number(Verb::Truncate, 1, 10, true);
        else if (v == "corrupt")
            switchOrCount(Verb::Corrupt, Verb::CorruptNext);
        else if (v == "garbage")
            number(Verb::Garbage, 1, 1000, true);
        else if (v == "paced")
            optionalSwitch(Verb::Paced);
        else if (v == "unplug")
            duration(Verb::Unplug, false);
        else if (v == "noise")
            noise();
        else if (v == "sticky")
            number(Verb::Sticky, 0, 1000000, true);
        else if (v == "queue")
            requiredSwitch(Verb::Queue);
        else if (v == "reject")
            number(Verb::Reject, 1, 7, true);
        else if (v == "return-stacked")
            requiredSwitch(Verb::ReturnStacked);
        else if (v == "deck")
            deck();
        else if (v == "help")
            simple(Verb::Help);
        else if (v == "quit" || v == "exit")
            simple(Verb::Quit);
        else
            result.error = "unknown command " + excerpt(v, 40) + " (try help)";
    }
};

} // namespace

ParsedLine parseCommand(std::string_view line)
{
    Parser p{wordsOf(line), {}};
    if (!p.words.empty())
        p.parse();
    return p.result;
}

std::optional<std::chrono::milliseconds> parseDuration(std::string_view text)
{
    double scale = 1.0;
    if (text.ends_with("ms")) {
        text.remove_suffix(2);
    } else if (text.ends_with('s')) {
        text.remove_suffix(1);
        scale = 1000.0;
    } else {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || !(value >= 0) ||
        value * scale > 1e9)
        return std::nullopt;
    return std::chrono::milliseconds{std::llround(value * scale)};
}

std::string excerpt(std::string_view text, std::size_t most)
{
    std::string out = "'";
    for (const char c : text.substr(0, most))
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return out + (text.size() > most ? "'..." : "'");
}

std::string commandHelp()
{
    return R"(Commands (one a line; '#' starts a comment; DURATION has its unit, ms or s):
  insert N            a bill of denomination N (1-7) goes in; waits its turn if busy
  cheat               report a cheat attempt (once)
  jam                 the transport jams and stops until 'clear', which takes
                      out any bill caught in it: that bill is not stacked
  failure             report a failure until 'clear'
  full [on|off]       the stacker is full: new bills are rejected
  cassette off|on     take the cassette out / put it back
  invalid             report an invalid command (once)
  clear               end a jam, a failure and a full stacker
  power               power-cycle: idle again, power-up bit in the first replies
  step DURATION       time between the acceptor's steps (default 300ms)
  wait DURATION       pause before the next command, e.g. wait 500ms, wait 2s
  sticky N|off        the next stacked report stays up for N more fresh replies;
                      the bill is tallied once
  queue on|off        on: answer every message afresh, never repeating, in turn;
                      the reply to a stack order goes 0.9s late, the replies
                      to messages meanwhile right behind it
  reject N|off        bills of denomination N (1-7) are rejected as if disabled;
                      another N replaces it
  return-stacked on|off
                      on: a returned bill is reported with the stacked bit
                      set as well; it is still returned, not tallied
  deck GROUP... [refuse P%] [jam P%] [false P%] [seed N]
                      play a bench's test deck, one note at a time: GROUP is
                      BxN, N notes of bill B, or BxN! for notes that must be
                      refused; each insertion is refused, or jams (cleared
                      after 1s), with the chance given; a note to be refused
                      is stacked even when ordered returned with the false
                      chance; a good note refused or jammed goes in again
                      until taken; e.g. deck 1x3 3x3 5x2! refuse 5% seed 7
  tally               print the bills stacked per denomination, then the bills
                      stacked, returned and rejected, the jams and the cheats
  status              print the acceptor's state and the faults in force
  help                this list
  quit                stop the simulator
Faults (on the line only; a host repeat after a spoiled reply gets the good one):
  silent on|off       answer nothing
  silent DURATION     answer nothing for a while, e.g. silent 2s
  late MS|off         answer MS milliseconds late, e.g. late 600
  late MS N           only the next N replies MS milliseconds late; replies
                      go in the order made, a later one waits behind
  deaf N|off          the next N host messages are lost: no action, no reply
  truncate K|off      send only the first K bytes (1-10) of each reply
  corrupt on|off      a wrong checksum (byte 11) on every reply
  corrupt N           a wrong checksum on the next N replies
  garbage N|off       N noise bytes ahead of each reply
  paced on|off        on: one byte every 1.04 ms as at 9600 baud (default);
                      off: each reply at once
  unplug DURATION     the line goes away (the host sees a hang-up) and comes back
                      after DURATION on a new pseudo-terminal, e.g. unplug 3s
  noise N every K     N noise bytes between replies, once every K replies
  noise off           no more noise
)";
}

} // namespace kora::sim
