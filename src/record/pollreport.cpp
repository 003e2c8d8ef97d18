#include "record/pollreport.h"

#include "protocol/statusflags.h"
#include "record/localtime.h"
#include "record/logevents.h"
#include "record/logrows.h"

#include <algorithm>
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
    if (c.reason == CountReason::StackedAndReturned)
        return bill + ", not counted: stacked and returned in one report";
    return bill + ", not counted: " + ReasonName(c.reason);
}

namespace {

// The bill a stacked verdict names, and what follows that name.
std::optional<std::pair<int, std::string_view>> stackedBill(std::string_view text)
{
    constexpr std::string_view None = "stacked with no credit", Stacked = " stacked";
    if (text.starts_with(None))
        return std::pair(0, text.substr(None.size()));
    if (!text.starts_with("bill ") || text.size() < 6 || text[5] < '1' || text[5] > '7' ||
        !text.substr(6).starts_with(Stacked))
        return std::nullopt;
    return std::pair(text[5] - '0', text.substr(6 + Stacked.size()));
}

// ", counted, count 2, total 5", with counts a session can hold.
bool countedText(std::string_view rest)
{
    constexpr std::string_view Counted = ", counted, count ", Total = ", total ";
    if (!rest.starts_with(Counted))
        return false;
    rest.remove_prefix(Counted.size());
    const std::size_t total = rest.find(Total);
    return total != std::string_view::npos && ReadCount(rest.substr(0, total)) &&
           ReadCount(rest.substr(total + Total.size()), MostTotal);
}

} // namespace

std::optional<FrameCount> ReadFrameDid(const std::string& text)
{
    if (text == "repeat" || text == "read")
        return FrameCount{CountReason::NotStacked, 0, text == "repeat"};
    const auto stacked = stackedBill(text);
    if (!stacked)
        return std::nullopt;
    const auto& [bill, rest] = *stacked;
    // Only a report with no credit, or one returned as well, names no bill.
    if (countedText(rest))
        return bill ? std::optional(FrameCount{CountReason::Counted, bill, false}) : std::nullopt;
    if (rest == ", not counted: stacked and returned in one report")
        return FrameCount{CountReason::StackedAndReturned, bill, false};
    if (rest == ", not counted: no-credit")
        return FrameCount{CountReason::NoCredit, bill, false};
    for (const CountReason reason :
         {CountReason::Repeat, CountReason::SameReport, CountReason::BeforeRun})
        if (bill && rest == std::string(", not counted: ") + ReasonName(reason))
            return FrameCount{reason, bill, reason == CountReason::Repeat};
    return std::nullopt;
}

namespace {

const char* framePlace(FrameRole role)
{
    switch (role) {
    case FrameRole::Early:
        return "frame before the host message ";
    case FrameRole::OtherBit:
        return "frame with the other bit ";
    default:
        return "frame read at the stop ";
    }
}

// Every frame read that is not the poll's answer, with its bytes and what it
// did; the answer's stacked bill; then the bill cycles the frames ended.
std::string framesAndCycles(const PollNotes& notes)
{
    std::string events;
    auto add = [&events](const std::string& part) {
        events += (events.empty() ? "" : ", ") + part;
    };
    // First, where a reader that does not know it takes it for a part of its own.
    if (notes.clockStep.count() != 0)
        add(ClockStepText(notes.clockStep));
    for (const FrameNote& note : notes.frames) {
        const FrameRole role = note.frame.role;
        if (role == FrameRole::Answer) {
            if (note.count.reason != CountReason::NotStacked)
                add(FrameDid(note));
            continue;
        }
        std::string hex = HexText(note.frame.bytes.raw());
        hex.pop_back();
        add(framePlace(role) + hex + ": " + FrameDid(note));
    }
    for (const BillCycle& cycle : notes.cycles)
        add(cycle.text());
    return events;
}

} // namespace

std::string PollEvents(const RunState& s, const PollNotes& notes)
{
    std::string events = framesAndCycles(notes);
    auto add = [&events](const std::string& part) {
        events += (events.empty() ? "" : ", ") + part;
    };
    if (notes.bitEchoMissing)
        add("the acceptor does not echo the acknowledgement bit");
    if (s.HostMsg(5) & 0x20)
        add("stack order sent");
    if (s.HostMsg(5) & 0x40)
        add("return order sent");
    return events;
}

std::string LeftFramesEvents(const PollNotes& notes)
{
    return framesAndCycles(notes);
}

namespace {

// What one row of the log says before it becomes text; a start or stop row
// has no poll behind it.
struct RowSource
{
    const char* kind;
    long poll;
    const RunState* s;
    const PollTiming* t;
    const std::string& events;
    RowStamp at;
};

std::string replyMs(const PollTiming& t)
{
    if (!t.replied)
        return {};
    const double ms =
        std::max(0.0, std::chrono::duration<double, std::milli>(*t.replied - t.sent).count());
    char text[400]; // "%.1f" of the longest double
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

// A wall clock outside the years a log holds is written as the nearest end,
// a day inside so that no time zone takes the date out of them.
std::chrono::system_clock::time_point withinLogYears(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    constexpr auto first = sys_days{year{FirstLogYear} / January / 2};
    constexpr auto last = sys_days{year{LastLogYear} / December / 30};
    return std::clamp<system_clock::time_point>(t, first, last);
}

struct LogColumn
{
    const char* name;
    std::string (*text)(const RowSource& r);
};

// The log's columns in their order, each with its value: the header and
// every row come from here.
const LogColumn Columns[] = {
    {"time",
     [](const RowSource& r) { return IsoLocalTime(withinLogYears(r.at.value_or(RowNow()))); }},
    {"kind", [](const RowSource& r) { return std::string(r.kind); }},
    {"poll", [](const RowSource& r) { return std::to_string(r.poll); }},
    {"outcome", [](const RowSource& r) { return r.s ? OutcomeName(r.s->NRFlag) : std::string(); }},
    {"host", [](const RowSource& r) { return r.s ? HexText(r.s->HostMsg.raw()) : std::string(); }},
    {"reply",
     [](const RowSource& r) {
         return r.s && r.s->NRFlag != 1 ? HexText(r.s->AcceptorMsg.raw()) : std::string();
     }},
    {"reply_ms", [](const RowSource& r) { return r.t ? replyMs(*r.t) : std::string(); }},
    {"flags", [](const RowSource& r) { return r.s ? SetFlagNames(*r.s) : std::string(); }},
    {"events", [](const RowSource& r) { return r.events; }},
};

std::vector<std::string> rowText(const RowSource& source)
{
    std::vector<std::string> row;
    for (const LogColumn& column : Columns)
        row.push_back(column.text(source));
    return row;
}

} // namespace

const std::vector<std::string>& LogColumnNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const LogColumn& column : Columns)
            out.push_back(column.name);
        return out;
    }();
    return names;
}

std::vector<std::string> PollRow(const RunState& s, const PollTiming& t, long poll,
                                 const std::string& events, RowStamp at)
{
    return rowText({"poll", poll, &s, &t, events, at});
}

std::vector<std::string> MarkRow(const std::string& kind, long poll, const std::string& events,
                                 RowStamp at)
{
    return rowText({kind.c_str(), poll, nullptr, nullptr, events, at});
}

std::chrono::system_clock::time_point RowNow()
{
    return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

} // namespace kora
