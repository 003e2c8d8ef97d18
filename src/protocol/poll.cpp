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

// What the wait for this poll's answer brought.
struct Wait
{
    std::optional<ReplyFrame> answer;
    int frames = 0;          // good frames, the answer among them
    std::vector<Byte> first; // the first eleven bytes, shown when no frame came
    std::size_t bytes = 0;
};

// Moves whatever is waiting into LineBytes; the count of bytes moved. A read
// that finds nothing leaves RxData as the last one that did.
std::size_t takeWaiting(RunState& s, AcceptorLink& link)
{
    std::vector<Byte> bytes = stepOver([&] { return link.readAll(); }, {});
    if (bytes.empty())
        return 0;
    s.RxData = std::move(bytes);
    s.LineBytes.insert(s.LineBytes.end(), s.RxData.begin(), s.RxData.end());
    return s.RxData.size();
}

void readFrame(RunState& s, const ReplyFrame& f, FrameRole role)
{
    s.FramesRead.push_back({f, role});
    DecodeFrame(s, f);
}

bool answers(const RunState& s, const ReplyFrame& f)
{
    return s.IgnoreBit == 1 || FrameBit(f) == (s.HostMsg(3) & 1);
}

// Frames that waited for this poll answer earlier messages: they are read
// before the host message is built, so that its orders rest on the newest
// report.
void readEarlyFrames(RunState& s, AcceptorLink& link, FrameRole role = FrameRole::Early)
{
    takeWaiting(s, link);
    std::size_t passedOver = 0;
    while (const auto f = NextFrame(s.LineBytes, passedOver))
        readFrame(s, *f, role);
}

// Once a reply's worth of this wait's bytes has been passed over and nothing
// left may begin a frame, the reply came spoiled: waiting on could only take
// in the next message's bytes. Bytes kept from the last poll are not this
// wait's, so they are not counted towards the reply's worth.
bool spoiled(const RunState& s, std::size_t passedOver, std::size_t keptBefore)
{
    return s.LineBytes.empty() && passedOver >= keptBefore + ReplyLength;
}

// Reads frames as they arrive until one answers this poll, or the reply has
// come spoiled. What follows stays for the next poll to read. The early read
// left no whole frame behind, so each turn waits first; a wait returns at
// once for bytes already waiting.
Wait awaitAnswer(RunState& s, AcceptorLink& link, Clock::time_point deadline)
{
    Wait w;
    std::size_t passedOver = 0;
    const std::size_t keptBefore = s.LineBytes.size();
    while (Clock::now() <= deadline && stepOver([&] { return link.isOpen(); }, false)) {
        const int wanted = ReplyLength - static_cast<int>(s.LineBytes.size());
        stepOver([&] { link.waitForInput(deadline, std::max(1, wanted)); });
        const std::size_t before = s.LineBytes.size();
        w.bytes += takeWaiting(s, link);
        for (std::size_t i = before; i < s.LineBytes.size() && w.first.size() < ReplyLength; ++i)
            w.first.push_back(s.LineBytes[i]);
        while (const auto f = NextFrame(s.LineBytes, passedOver)) {
            ++w.frames;
            const bool own = answers(s, *f);
            readFrame(s, *f, own ? FrameRole::Answer : FrameRole::OtherBit);
            if (own) {
                w.answer = f;
                return w;
            }
        }
        if (spoiled(s, passedOver, keptBefore))
            break;
    }
    return w;
}

// An acceptor whose every frame carries the other bit, poll after poll, does
// not echo it; from then on the first good frame of a wait is its answer.
void watchBitEcho(RunState& s, const Wait& w)
{
    if (w.answer)
        s.OtherBitPolls = 0;
    else if (w.frames > 0 && ++s.OtherBitPolls >= BitEchoLimit)
        s.IgnoreBit = 1;
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
    // A held poll sends the bit of the last host message again. The acceptor
    // takes it for a message whose reply was lost: it repeats that reply and
    // acts on nothing, so no bill moves on while the session log is behind,
    // and the link stays watched all the same.
    if (s.HoldBit == 1)
        s.Toggle = s.HostMsg(3) & 1;
    s.FramesRead.clear();
    readEarlyFrames(s, link);
    BuildHostMessage(s, escrowRequest);
    stepOver([&] { link.write(s.Sendit); });
    const auto sent = Clock::now();
    s.T1 = secondsNow();

    const Wait w = awaitAnswer(s, link, sent + ReplyTimeout);
    if (timing) {
        timing->sent = sent;
        timing->replied = w.answer ? std::optional(Clock::now()) : std::nullopt;
    }
    watchBitEcho(s, w);
    if (w.answer) {
        s.AcceptorMsg = *w.answer;
        s.NRFlag = 0;
    } else if (w.frames == 0 && w.bytes >= ReplyLength) {
        // Noise or a spoiled reply: its first eleven bytes are what failed.
        std::copy_n(w.first.begin(), ReplyLength, s.AcceptorMsg.raw().begin());
        s.NRFlag = 2;
    } else {
        s.NRFlag = 1;
    }

    if (s.NRFlag != 0)
        ToggleAck(s);
    ToggleAck(s);
    if (timing)
        timing->ended = Clock::now();
}

void ReadFramesLeft(RunState& s, AcceptorLink& link)
{
    s.FramesRead.clear();
    readEarlyFrames(s, link, FrameRole::Left);
}

} // namespace kora
