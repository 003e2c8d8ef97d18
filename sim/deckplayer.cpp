// A bench's test deck played note by note, as an operator feeds an acceptor.
#include "acceptorserver.h"

namespace kora::sim {

namespace {

// How long an operator takes to clear a jam, and to reach for the next note.
constexpr Ms ClearJamAfter{1000};
constexpr Ms LongestCycle{20000};
// A good note refused this many times in a row is put aside.
constexpr int MostTries = 10;

struct DeckCount
{
    int insertions = 0, stacked = 0, refused = 0, jams = 0, falseTaken = 0, putAside = 0;

    std::string text(std::size_t notes) const
    {
        return "deck: " + std::to_string(notes) + " notes in " + std::to_string(insertions) +
               " insertions: " + std::to_string(stacked) + " stacked (" +
               std::to_string(falseTaken) + " to be refused), " + std::to_string(refused) +
               " refused by chance, " + std::to_string(jams) + " jammed" +
               (putAside ? ", " + std::to_string(putAside) + " put aside" : std::string());
    }
};

// A chance in per cent, drawn from the deck's own generator so that a seed
// plays the same deck every time.
bool draw(std::mt19937& rng, double percent)
{
    return percent > 0 && static_cast<double>(rng() % 1000000) < percent * 10000.0;
}

} // namespace

bool AcceptorServer::pause(Ms d)
{
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, d, [this] { return stopping_; });
}

bool AcceptorServer::waitIdle(Ms most)
{
    for (Ms waited{0}; waited < most; waited += Ms{20}) {
        {
            std::lock_guard lock(mutex_);
            advanceModel(Clock::now());
            if (model_.phase() == Phase::Idling && model_.bill() == 0)
                return true;
        }
        if (!pause(Ms{20}))
            return false;
    }
    return false;
}

CommandResult AcceptorServer::playDeck(const Deck& deck)
{
    std::mt19937 rng(deck.seed);
    const auto step = [this] {
        std::lock_guard lock(mutex_);
        return model_.stepTime();
    };
    DeckCount count;
    std::size_t notes = 0, all = 0;
    for (const DeckGroup& group : deck.groups)
        all += static_cast<std::size_t>(group.notes);
    for (const DeckGroup& group : deck.groups)
        for (int n = 0; n < group.notes; ++n)
            for (int tries = 1;; ++tries) {
                const bool jam = draw(rng, deck.jamPercent);
                const bool refuse = !jam && draw(rng, deck.refusePercent);
                const bool taken = group.mustRefuse && draw(rng, deck.falsePercent);
                Outcomes before;
                {
                    std::lock_guard lock(mutex_);
                    advanceModel(Clock::now());
                    before = model_.tally().outcomes();
                    model_.refuseNext(refuse);
                    model_.stackNextReturn(taken);
                    model_.insert(group.bill);
                }
                ++count.insertions;
                if (jam) {
                    if (!pause(step() / 2))
                        return {false, count.text(notes) + "; stopped", false};
                    command("jam");
                    if (!pause(ClearJamAfter))
                        return {false, count.text(notes) + "; stopped", false};
                    command("clear");
                }
                if (!waitIdle(LongestCycle))
                    return {false, count.text(notes) + "; stopped: a note not done within 20s",
                            false};
                Outcomes after;
                {
                    std::lock_guard lock(mutex_);
                    model_.stackNextReturn(false);
                    model_.refuseNext(false);
                    after = model_.tally().outcomes();
                }
                const bool stacked = after.stacked > before.stacked;
                count.stacked += stacked;
                count.falseTaken += stacked && group.mustRefuse;
                count.refused += refuse;
                count.jams += jam;
                const bool putAside = !group.mustRefuse && !stacked && tries == MostTries;
                count.putAside += putAside;
                const bool done = group.mustRefuse || stacked || putAside;
                notes += done;
                if (!pause(step())) // the last note's done: nothing was cut short
                    return {notes == all, count.text(notes) + (notes == all ? "" : "; stopped"),
                            false};
                if (done)
                    break;
            }
    return {true, count.text(notes), false};
}

} // namespace kora::sim
