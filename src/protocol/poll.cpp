#include "poll.h"

#include "hostmessage.h"
#include "reply.h"

#include <algorithm>

namespace kora {

namespace {

using Clock = std::chrono::steady_clock;

double secondsNow()
{
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// A failing step of the transaction is stepped over: its result is the
// fallback, and the transaction goes on with the next step.
template <typename Step>
auto stepOver(Step&& step, decltype(step()) fallback) noexcept -> decltype(step())
{
    try {
        return step();
    } catch (...) {
        return fallback;
    }
}

template <typename Step> void stepOver(Step&& step) noexcept
{
    try {
        step();
    } catch (...) {
    }
}

// Takes the first eleven waiting bytes into AcceptorMsg and drops the rest.
// The port hands bytes over in bursts, so a check can find more than eleven
// waiting where a byte-by-byte count would have stood at exactly eleven; the
// first eleven are what that count would have taken in. A count that has
// passed eleven could otherwise never be taken in, and the link would stay
// blocked for good.
int takeIn(RunState& s, AcceptorLink& link)
{
    s.RxData = stepOver([&] { return link.readAll(); }, {});
    stepOver([&] { link.discardInput(); });
    if (s.RxData.size() < ReplyLength)
        return 1; // a short read is no reply; AcceptorMsg keeps the last one
    std::copy_n(s.RxData.begin(), ReplyLength, s.AcceptorMsg.raw().begin());
    return 0;
}

int awaitReply(RunState& s, AcceptorLink& link, Clock::time_point deadline, bool& tookIn)
{
    while (Clock::now() <= deadline) {
        const int waiting = stepOver([&] { return link.waitingCount(); }, 0);
        if (waiting >= ReplyLength) {
            tookIn = true;
            return takeIn(s, link);
        }
        if (!stepOver([&] { return link.isOpen(); }, false))
            break;
        stepOver([&] { link.waitForInput(deadline, ReplyLength - waiting); });
    }
    return 1;
}

// A take-in that fails the checksum was out of step with the acceptor: old
// bytes left by a short or late reply, or garbage. The rest of the reply in
// flight would be left over for the next poll and put it out of step in the
// same way, for good. Dropping what still arrives until the line falls quiet
// lets the next poll start on a fresh reply.
void drainTail(AcceptorLink& link, Clock::time_point deadline)
{
    while (stepOver([&] { return link.isOpen(); }, false)) {
        const auto quietUntil = std::min(deadline, Clock::now() + LineQuiet);
        stepOver([&] { link.waitForInput(quietUntil, 1); });
        if (stepOver([&] { return link.waitingCount(); }, 0) == 0)
            return;
        stepOver([&] { link.discardInput(); });
        if (Clock::now() >= deadline)
            return;
    }
}

} // namespace

void ToggleAck(RunState& s)
{
    if (s.Toggle == 0)
        s.Toggle = 1;
    else if (s.Toggle == 1)
        s.Toggle = 0;
}

void PollAcceptor(RunState& s, AcceptorLink& link, int escrowRequest)
{
    BuildHostMessage(s, escrowRequest);
    stepOver([&] { link.write(s.Sendit); });
    const auto sent = Clock::now();
    s.T1 = secondsNow();

    bool tookIn = false;
    s.NRFlag = awaitReply(s, link, sent + ReplyTimeout, tookIn);
    if (!ReplyChecksumMatches(s)) {
        s.NRFlag = 2;
        if (tookIn)
            drainTail(link, sent + ReplyTimeout);
    }

    if (s.NRFlag != 0)
        ToggleAck(s);
    else
        DecodeReply(s);
    ToggleAck(s);
}

} // namespace kora
