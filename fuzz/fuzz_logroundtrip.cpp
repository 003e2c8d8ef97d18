// The record's writer driven as a session drives it, with arbitrary frames,
// outcomes, wall clocks stepped either way, reply times and counts: every
// row it writes, the log's reader reads back as written, field for field,
// and what the row says (verdicts, counts, steps, start texts) reads back too.
#include "invariant.h"
#include "protocol/billcycles.h"
#include "protocol/counting.h"
#include "protocol/pollnotes.h"
#include "protocol/reply.h"
#include "record/logreader.h"
#include "record/logrows.h"
#include "record/pollreport.h"
#include "record/sessionlog.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <utility>

using namespace kora;
using namespace std::chrono;

namespace {

// Takes what the input gives, and zeros once it runs out.
struct Input
{
    const std::uint8_t* data;
    std::size_t size;
    template <typename T> T take()
    {
        T value{};
        const std::size_t n = std::min(sizeof value, size);
        std::memcpy(&value, data, n);
        data += n, size -= n;
        return value;
    }
    bool more() const { return size > 0; }
};

// A good frame: the bytes that carry a report are the input's.
ReplyFrame goodFrame(Input& in)
{
    ReplyFrame f;
    const Byte fixed[] = {0x02, 0x0B, 0x20, 0, 0, 0, 0x4B, 0x01, 0x03, 0x03};
    for (int i = 1; i <= 10; ++i)
        f(i) = fixed[i - 1];
    f(3) |= in.take<Byte>() & 1;
    f(4) = in.take<Byte>(), f(5) = in.take<Byte>(), f(6) = in.take<Byte>();
    Byte sum = 0;
    for (int i = 2; i <= 9; ++i)
        sum ^= f(i);
    f(11) = sum;
    return f;
}

// The rows written, read back as one log.
void checkRows(const std::vector<std::vector<std::string>>& written)
{
    std::string text = SessionLog::CsvLine(LogColumnNames());
    for (const auto& row : written)
        text += SessionLog::CsvLine(row);
    std::istringstream in(text);
    LogReader reader(in);
    std::optional<LogRow> row;
    std::size_t line = 0;
    for (const auto& w : written) {
        require(reader.next(row, line) && row.has_value(), "a written row reads back");
        const std::vector<std::string> read = {IsoLocalTime(row->time),
                                               row->kind,
                                               std::to_string(row->poll),
                                               row->outcome,
                                               row->host,
                                               row->reply,
                                               row->replyMs,
                                               row->flags,
                                               row->events};
        require(read == w, "every field reads back as written");
    }
}

struct Session
{
    RunState s;
    std::array<long, 7> counts{};
    BillCycles cycles;
    CycleClock clock;
    BillFigures figures;
    system_clock::time_point wall{milliseconds(1'796'000'000'000)};
    steady_clock::time_point steady = steady_clock::now();
    long polls = 0;
    std::vector<std::vector<std::string>> written;
    void checkRow(const std::vector<std::string>& row) { written.push_back(row); }

    std::string countsText() const { return CountsText(counts); }

    void poll(Input& in)
    {
        const Byte what = in.take<Byte>();
        s.FramesRead.clear();
        for (int early = what & 3; early > 0; --early)
            s.FramesRead.push_back({goodFrame(in), FrameRole::Early});
        s.NRFlag = (what >> 2) % 3;
        if (s.NRFlag == 0)
            s.FramesRead.push_back({goodFrame(in), FrameRole::Answer});
        if (!s.FramesRead.empty())
            s.AcceptorMsg = s.FramesRead.back().bytes;
        if (s.NRFlag == 2)
            for (int i = 1; i <= 11; ++i)
                s.AcceptorMsg(i) = in.take<Byte>();
        if (!s.FramesRead.empty())
            DecodeFrame(s, s.FramesRead.back().bytes);
        s.HostMsg(3) = 0x10 | (what >> 4 & 1);
        s.HostMsg(5) = in.take<Byte>() & 0x60;
        PollNotes notes;
        notes.frames = CountFramesRead(s, what >> 5 & 1);
        for (const FrameNote& n : notes.frames)
            if (n.count.counted()) {
                long& c = counts[std::size_t(n.count.bill - 1)];
                c = std::min(c + 1, MostCounted);
            }
        NoteCounts(notes.frames, counts);
        // The wall clock moves as the steady one does, or is set either way.
        const auto elapsed = milliseconds(in.take<std::uint16_t>());
        steady += elapsed;
        wall += elapsed;
        if (what & 0x40) {
            // Set anywhere a clock may be, and a year past either end of the log's.
            constexpr auto first = sys_days{year{FirstLogYear - 1} / 1 / 1};
            constexpr auto last = sys_days{year{LastLogYear + 1} / 1 / 1};
            const auto span = duration_cast<milliseconds>(last - first).count();
            wall = first + milliseconds(in.take<std::uint64_t>() % std::uint64_t(span));
        }
        notes.at = floor<milliseconds>(wall);
        notes.clockStep = clock.poll(*notes.at, steady);
        for (const FrameNote& n : notes.frames)
            if (auto ended = cycles.read(n.frame.bytes, n.count, clock.at(*notes.at))) {
                figures.add(*ended);
                notes.cycles.push_back(*ended);
            }
        PollTiming t;
        t.sent = steady;
        if (s.NRFlag == 0)
            t.replied =
                t.sent + nanoseconds(in.take<std::uint64_t>() >> (1 + in.take<Byte>() % 63));
        notes.bitEchoMissing = what >> 7;
        const auto row = PollRow(s, t, ++polls, PollEvents(s, notes), notes.at);
        checkRow(row);
        require(ReadPollEvents(row[8])->clockStep == notes.clockStep, "the step reads back");
    }

    void adjust(Input& in)
    {
        const int bill = in.take<Byte>() % 7 + 1;
        const long typed = static_cast<long>(in.take<std::uint32_t>() % (MostTypedCount + 1));
        const long was = std::exchange(counts[std::size_t(bill - 1)], typed);
        const auto row =
            MarkRow("adjust", polls,
                    "counter bill " + std::to_string(bill) + " set to " + std::to_string(typed) +
                        " by the operator (was " + std::to_string(was) + ")",
                    floor<milliseconds>(wall));
        checkRow(row);
    }

    void start(Input& in)
    {
        std::string why;
        for (int n = in.take<Byte>() % 24; n > 0; --n)
            why += static_cast<char>(in.take<Byte>());
        const std::string text = "logging begins mid-run: port 1 (/dev/ttyUSB0), 9600, E, 7, 1, "
                                 "poll every 100 ms, escrow mode on, kora232-headless 1.4.0" +
                                 (why.empty() ? "" : std::string(NotContinued) + ClauseValue(why)) +
                                 "; counts so far " + countsText();
        const auto row = MarkRow("start", polls, text, floor<milliseconds>(wall));
        checkRow(row);
        const auto start = ReadStartText(row[8]);
        require(start && start->countsSoFar == counts && start->notContinued == why,
                "the counts so far and why not continued read back");
    }

    void stop()
    {
        if (auto open = cycles.stop(clock.at(floor<milliseconds>(wall))))
            figures.add(*open);
        const auto row =
            MarkRow("stop", polls, countsText() + "; " + figures.text(), floor<milliseconds>(wall));
        checkRow(row);
        std::optional<BillCounts> read;
        require(ReadStopCounts(row[8], read) && read == counts, "the stop row's counts read back");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    Session session;
    session.s.LastReportEscrow = 1;
    // Some hundreds of rows are all any input needs; more only slow the run.
    while (in.more() && session.written.size() < 300) {
        const Byte kind = in.take<Byte>();
        if (kind < 0xF0)
            session.poll(in);
        else if (kind < 0xF8)
            session.adjust(in);
        else
            session.start(in);
    }
    session.stop();
    checkRows(session.written);
    return 0;
}
