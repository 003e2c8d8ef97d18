#pragma once

#include "protocol/runstate.h"

#include <chrono>

namespace kora {

// What a good frame did to the counts, and why.
enum class CountReason {
    NotStacked, // reports no stacked bill
    Counted,
    Repeat,             // the frame before, byte for byte: a lost reply sent again
    SameReport,         // escrow mode: a stacked report staying up over fresh replies
    BeforeRun,          // this process's first frame may repeat the last one before it
    NoCredit,           // stacked, but with no bill named
    StackedAndReturned, // stacked and returned (or returning) in one report
};

struct FrameCount
{
    CountReason reason = CountReason::NotStacked;
    int bill = 0;        // the credit of a stacked report, counted or not
    bool repeat = false; // the frame before, byte for byte, stacked or not
    bool counted() const { return reason == CountReason::Counted; }
};

// Judges a good frame against the good frame read before it (LastFrame),
// then makes it the one before the next. Frames must come in their order of
// arrival. A stacked report counts when it is news: not the frame before
// again, and not the same bill's stacked report staying up. With escrow mode
// requested a second bill cannot be stacked unseen, so stacked after stacked
// of one bill is the same report; without it the acceptor stacks on its own,
// and a fresh report is a new bill. The mode that decides is the one asked
// for when the report was first read (LastReportEscrow), so that changing
// the box while a report stays up neither counts it again nor hides a new
// bill. Counting sets Delay back to 0.
FrameCount CountFrame(RunState& s, const ReplyFrame& f, int escrowRequest);

// "repeat", "same-report", "before-run", "no-credit", "stacked-and-returned";
// "" for the others.
const char* ReasonName(CountReason reason);

// The delay timer runs all the time, from start-up, at this period; Delay
// counts its ticks since the last counted bill.
inline constexpr std::chrono::milliseconds DelayTickPeriod{100};

// One tick of the delay timer: Delay goes up by one and, past 50, falls back
// to 10, so that it stays within its byte however long no bill comes.
void AdvanceDelay(RunState& s);

} // namespace kora
