#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kora::sim {

// The control language, one command a line, the same in a scenario file, on
// the command line and typed on standard input.
enum class Verb {
    Insert,
    Cheat,
    Jam,
    Failure,
    Full,
    Cassette,
    Invalid,
    Clear,
    Power,
    Step,
    Wait,
    Tally,
    Status,
    Silent,
    SilentFor,
    Late,
    Deaf,
    Truncate,
    Corrupt,
    CorruptNext,
    Garbage,
    Paced,
    Unplug,
    Noise,
    Sticky,
    Queue,
    Reject,
    ReturnStacked,
    Deck,
    Help,
    Quit,
};

// A bench's test deck: groups of notes of one denomination, each with a
// chance per insertion of being refused or jammed and, for a note that must
// be refused, of being stacked all the same. A good note refused or jammed is
// inserted again, as an operator would, until it is taken.
struct DeckGroup
{
    int bill = 1;
    int notes = 1;
    bool mustRefuse = false; // written "5x2!"
};

struct Deck
{
    std::vector<DeckGroup> groups;
    double refusePercent = 0, jamPercent = 0, falsePercent = 0;
    unsigned seed = 1;
};

struct Command
{
    Verb verb = Verb::Help;
    // insert N, truncate K, garbage N, corrupt N, noise N, sticky N, deaf N,
    // reject N (0: off), and late MS N (0: every reply)
    int number = 0;
    int every = 0;                    // noise N every K: the K
    bool on = true;                   // the on|off of a switch, such as full or queue
    std::chrono::milliseconds time{}; // wait, step, silent, unplug DURATION; late MS
    Deck deck{};                      // deck
};

struct ParsedLine
{
    std::optional<Command> command; // none for a blank line, a comment or an error
    std::string error;              // why the line is not a command
};

ParsedLine parseCommand(std::string_view line);

// "500ms", "2s", "1.5s"; a bare number is refused, since "wait 2" reads as
// two seconds to some and two milliseconds to others.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

// `text` in quotes for a message: at most `most` bytes of it, then "...",
// control bytes shown as '?', so that no input can flood or garble a terminal.
std::string excerpt(std::string_view text, std::size_t most = 80);

// The commands and faults, one a line, for --help and `help`.
std::string commandHelp();

} // namespace kora::sim
