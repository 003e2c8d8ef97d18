#include "protocol/counting.h"

#include "protocol/reply.h"

namespace kora {

namespace {

constexpr Byte StackedBit = 0x10, ReturningBits = 0x60; // Returning, Returned
constexpr Byte PowerBit = 0x01;                         // byte 6: powering up

bool stacked(const ReplyFrame& f)
{
    return (f(4) & StackedBit) != 0;
}

CountReason judge(const RunState& s, const ReplyFrame& f)
{
    if (!stacked(f))
        return CountReason::NotStacked;
    // Some acceptors report a returned bill with Stacked still set.
    if ((f(4) & ReturningBits) != 0)
        return CountReason::StackedAndReturned;
    if (FrameCredit(f) == 0)
        return CountReason::NoCredit;
    if (s.HaveLastFrame != 1)
        return CountReason::BeforeRun;
    const ReplyFrame& before = s.LastFrame;
    if (before == f)
        return CountReason::Repeat;
    if (stacked(before) && FrameCredit(before) == FrameCredit(f) && s.LastReportEscrow == 1)
        return CountReason::SameReport;
    return CountReason::Counted;
}

} // namespace

FrameCount CountFrame(RunState& s, const ReplyFrame& f, int escrowRequest)
{
    // An acceptor that powered up since the last process logged its frame
    // may repeat nothing of it: its first frame is judged as a process's
    // first frame is.
    if (s.LastFrameFromLog == 1 && (f(6) & PowerBit) != 0)
        s.HaveLastFrame = 0;
    s.LastFrameFromLog = 0;
    const FrameCount verdict{judge(s, f), stacked(f) ? FrameCredit(f) : 0,
                             s.HaveLastFrame == 1 && s.LastFrame == f};
    // A frame read for the first time comes under the mode asked for now; a
    // stacked report's copies keep the mode it began under, whatever the box
    // says later.
    if (verdict.reason != CountReason::Repeat && verdict.reason != CountReason::SameReport)
        s.LastReportEscrow = escrowRequest == 1 ? 1 : 0;
    s.LastFrame = f;
    s.HaveLastFrame = 1;
    if (verdict.counted())
        s.Delay = 0;
    return verdict;
}

const char* ReasonName(CountReason reason)
{
    switch (reason) {
    case CountReason::Repeat:
        return "repeat";
    case CountReason::SameReport:
        return "same-report";
    case CountReason::BeforeRun:
        return "before-run";
    case CountReason::NoCredit:
        return "no-credit";
    case CountReason::StackedAndReturned:
        return "stacked-and-returned";
    default:
        return "";
    }
}

void AdvanceDelay(RunState& s)
{
    s.Delay = static_cast<Byte>(s.Delay + 1);
    if (s.Delay > 50)
        s.Delay = 10;
}

} // namespace kora
