#pragma once

#include "protocol/billcycles.h"
#include "protocol/counting.h"
#include "protocol/poll.h"

#include <chrono>
#include <vector>

namespace kora {

// One good frame a poll read, what it did to the counts and, for a counted
// bill, that bill's count and the total of all bills right after it.
struct FrameNote
{
    FrameRead frame;
    FrameCount count;
    long billCount = 0;
    long total = 0;
};

// What a poll did beyond the run state: its timing, every good frame it read
// in order of arrival, the bill cycles they ended, and whether it found that the acceptor does not
// echo the acknowledgement bit.
struct PollNotes
{
    PollTiming timing;
    // When the poll ended, to the millisecond as its log row gives it, so
    // that bill times read back from a log are the ones the session had.
    std::optional<BillClock::time_point> at;
    std::vector<FrameNote> frames;
    std::vector<BillCycle> cycles; // the bills whose cycle this poll ended
    bool bitEchoMissing = false;
    // No bill is in the acceptor and every frame read repeats the state
    // (bytes 4 to 6) of the frame before: nothing a restart needs is in this
    // poll's row, which may wait for the disk's own rhythm.
    bool idleRepeat = false;
    // The wall clock was set by this much since the poll before (CycleClock).
    std::chrono::milliseconds clockStep{0};

    // The bills counted, in order; a bill stacked twice is named twice.
    std::vector<int> countedBills() const;
};

// Counts the frames the last poll read (FramesRead), in their order.
std::vector<FrameNote> CountFramesRead(RunState& s, int escrowRequest);

// Fills in each counted bill's count and total, given the counts per bill
// once all of the poll's bills are in.
void NoteCounts(std::vector<FrameNote>& frames, const std::array<long, 7>& countsAfter);

} // namespace kora
