#include "protocol/poll.h"

#include "protocol/hostmessage.h"
#include "protocol/reply.h"

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

// Takes the first eleven waiting bytes into AcceptorMsg and drops the rest;
// true when eleven were read. The port hands bytes over in bursts, so a check
// can find more than eleven waiting where a byte-by-byte count would have
// stood at exactly eleven; the first eleven are what that count would have
// taken in. A count that has passed eleven could otherwise never be taken
// in, and the link would stay blocked for good.
bool takeIn(RunState& s, AcceptorLink& link)
{
    s.RxData = stepOver([&] { return link.readAll(); }, {});
    stepOver([&] { link.discardInput(); });
    if (s.RxData.size() < ReplyLength)
        return false; // a short read is no reply; AcceptorMsg keeps the last one
    std::copy_n(s.RxData.begin(), ReplyLength, s.AcceptorMsg.raw().begin());
    return true;
}

// True once a reply has been taken in before the deadline.
bool awaitReply(RunState& s, AcceptorLink& link, Clock::time_point deadline)
{
    while (Clock::now() <= deadline) {
        const int waiting = stepOver([&] { return link.waitingCount(); }, 0);
        if (waiting >= ReplyLength)
            return takeIn(s, link);
        if (!stepOver([&] { return link.isOpen(); }, false))
            break;
        stepOver([&] { link.waitForInput(deadline, ReplyLength - waiting); });
    }
    return false;
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

void PollAcceptor(RunState& s, AcceptorLink& link, int escrowRequest, PollTiming* timing)
{
    BuildHostMessage(s, escrowRequest);
    // Whatever waits now came before this host message: a reply that missed
    // its own poll's wait, or the tail of a spoiled one. Taken in, it would
    // answer the wrong poll and keep every later poll one reply behind.
    stepOver([&] { link.discardInput(); });
    stepOver([&] { link.write(s.Sendit); });
    const auto sent = Clock::now();
    s.T1 = secondsNow();

    // Only a reply taken in by this poll is judged; the last one kept in
    // AcceptorMsg says nothing about this poll.
    s.NRFlag = 1;
    const bool tookIn = awaitReply(s, link, sent + ReplyTimeout);
    if (timing) {
        timing->sent = sent;
        timing->replied = tookIn ? std::optional(Clock::now()) : std::nullopt;
    }
    if (tookIn) {
        if (ReplyChecksumMatches(s) && ReplyFramed(s)) {
            s.NRFlag = 0;
        } else {
            s.NRFlag = 2;
            drainTail(link, sent + ReplyTimeout);
        }
    }

    if (s.NRFlag != 0)
        ToggleAck(s);
    else
        DecodeReply(s);
    ToggleAck(s);
    if (timing)
        timing->ended = Clock::now();
}

} // namespace kora
