#include "protocol/pollnotes.h"

#include <numeric>

namespace kora {

std::vector<int> PollNotes::countedBills() const
{
    std::vector<int> bills;
    for (const FrameNote& note : frames)
        if (note.count.counted())
            bills.push_back(note.count.bill);
    return bills;
}

std::vector<FrameNote> CountFramesRead(RunState& s, int escrowRequest)
{
    std::vector<FrameNote> notes;
    for (const FrameRead& f : s.FramesRead)
        notes.push_back({f, CountFrame(s, f.bytes, escrowRequest)});
    return notes;
}

// Walks back from the counts after the poll, taking off each counted bill in
// turn, so that every bill gets the count it had right after it was added.
void NoteCounts(std::vector<FrameNote>& frames, const std::array<long, 7>& countsAfter)
{
    std::array<long, 7> counts = countsAfter;
    long total = std::accumulate(counts.begin(), counts.end(), 0L);
    for (auto note = frames.rbegin(); note != frames.rend(); ++note) {
        if (!note->count.counted())
            continue;
        long& count = counts[static_cast<std::size_t>(note->count.bill - 1)];
        note->billCount = count;
        note->total = total;
        --count;
        --total;
    }
}

} // namespace kora
