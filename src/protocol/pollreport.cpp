#include "protocol/pollreport.h"

#include "protocol/localtime.h"
#include "protocol/statusflags.h"

#include <cstdio>
#include <ctime>

namespace kora {

std::string IsoLocalTime(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(t);
    const long ms =
        static_cast<long>(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
    const std::tm local = LocalCalendar(seconds);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local); // +0100
    char text[48];
    std::snprintf(text, sizeof text, "%s.%03ld%.3s:%.2s", date, ms < 0 ? ms + 1000 : ms, zone,
                  zone + 3);
    return text;
}

std::string HexText(std::span<const Byte> bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const Byte b : bytes)
        text += {Digits[b >> 4], Digits[b & 0x0F], ' '};
    return text;
}

const char* OutcomeName(int nrFlag)
{
    return nrFlag == 0 ? "good" : nrFlag == 2 ? "checksum" : "no-reply";
}

std::vector<const char*> SetFlags(const RunState& s)
{
    std::vector<const char*> set;
    for (const StatusFlag& flag : StatusFlags)
        if (s.*flag.member == 1)
            set.push_back(flag.name);
    return set;
}

std::string SetFlagNames(const RunState& s)
{
    std::string names;
    for (const char* name : SetFlags(s))
        names += (names.empty() ? "" : " ") + std::string(name);
    return names;
}

std::string CountsText(const std::array<long, 7>& counts)
{
    std::string text;
    long total = 0;
    for (int n = 1; n <= 7; ++n) {
        const long count = counts[static_cast<std::size_t>(n - 1)];
        text += "bill " + std::to_string(n) + '=' + std::to_string(count) + ' ';
        total += count;
    }
    return text + "total=" + std::to_string(total);
}

std::string FrameDid(const FrameNote& note)
{
    const FrameCount& c = note.count;
    if (c.reason == CountReason::NotStacked)
        return c.repeat ? "repeat" : "read";
    const std::string bill = c.bill ? "bill " + std::to_string(c.bill) + " stacked"
                                    : std::string("stacked with no credit");
    if (c.counted())
        return bill + ", counted, count " + std::to_string(note.billCount) + ", total " +
               std::to_string(note.total);
    return bill + ", not counted: " + ReasonName(c.reason);
}

std::string PollEvents(const RunState& s, const PollNotes& notes)
{
    std::string events;
    auto add = [&events](const std::string& part) {
        events += (events.empty() ? "" : ", ") + part;
    };
    for (const FrameNote& note : notes.frames) {
        const FrameRole role = note.frame.role;
        if (role == FrameRole::Answer) {
            if (note.count.reason != CountReason::NotStacked)
                add(FrameDid(note));
            continue;
        }
        std::string hex = HexText(note.frame.bytes.raw());
        hex.pop_back();
        add((role == FrameRole::Early ? "frame before the host message " : "frame with the other bit ") +
            hex + ": " + FrameDid(note));
    }
    if (notes.bitEchoMissing)
        add("the acceptor does not echo the acknowledgement bit");
    if (s.HostMsg(5) & 0x20)
        add("stack order sent");
    if (s.HostMsg(5) & 0x40)
        add("return order sent");
    return events;
}

std::vector<std::string> PollRow(const RunState& s, const PollTiming& t, long poll,
                                 const std::string& events)
{
    std::string replyMs;
    if (t.replied) {
        char ms[16];
        std::snprintf(ms, sizeof ms, "%.1f",
                      std::chrono::duration<double, std::milli>(*t.replied - t.sent).count());
        replyMs = ms;
    }
    return {IsoLocalTime(std::chrono::system_clock::now()),
            "poll",
            std::to_string(poll),
            OutcomeName(s.NRFlag),
            HexText(s.HostMsg.raw()),
            s.NRFlag == 1 ? std::string() : HexText(s.AcceptorMsg.raw()),
            replyMs,
            SetFlagNames(s),
            events};
}

std::vector<std::string> MarkRow(const std::string& kind, long poll, const std::string& events)
{
    return {IsoLocalTime(std::chrono::system_clock::now()),
            kind,
            std::to_string(poll),
            "",
            "",
            "",
            "",
            "",
            events};
}

} // namespace kora
