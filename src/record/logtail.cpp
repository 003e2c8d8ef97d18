#include "record/logtail.h"

#include "protocol/counting.h"
#include "protocol/reply.h"
#include "record/logreader.h"
#include "record/pollreport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace kora {

namespace {

// Follows the frames of the tail in their order of arrival, and the escrow
// mode in force as each was read, judged by the counting rule as the process
// that logged them judged them.
class TailFrames
{
public:
    void read(const LogRow& row)
    {
        if (row.start) {
            device = row.start->device;
            adapter = row.start->adapter;
            escrow = row.start->escrowMode.value_or(escrow == 1) ? 1 : 0;
            ignoresBit = ignoresBit || row.start->ignoresBit;
        } else if (row.events == "escrow mode now on" || row.events == "escrow mode now off") {
            escrow = row.events == "escrow mode now on" ? 1 : 0;
        } else if (row.kind == "poll" || row.kind == "read") {
            poll(row);
        }
    }

    std::optional<std::string> device; // named by the last start row
    std::string adapter;               // its identity, if it names one
    // The frames as the counting rule took them: the last one, and the mode
    // its report began under.
    RunState judged;
    Byte nextBit = 0;
    int escrow = 1;
    bool ignoresBit = false;
    bool framesRead = false; // by the last row read

private:
    void poll(const LogRow& row)
    {
        for (const auto* frames : {&row.parts.early, &row.parts.otherBit})
            for (const LoggedFrame& f : *frames) {
                CountFrame(judged, f.bytes, escrow);
                framesRead = true;
            }
        if (row.outcome == "good") {
            ReplyFrame answer;
            std::copy(row.replyBytes.begin(), row.replyBytes.end(), answer.raw().begin());
            CountFrame(judged, answer, escrow);
            framesRead = true;
        }
        ignoresBit = ignoresBit || row.parts.bitEchoMissing;
        if (judged.HaveLastFrame == 1 && !row.hostBytes.empty()) // a read row sent nothing
            nextBit =
                static_cast<Byte>((row.hostBytes.at(2) & 1) ^ (row.outcome == "good" ? 1 : 0));
    }
};

// The offset of the first whole row at or after `from`.
std::uint64_t rowStartFrom(std::istream& in, std::uint64_t from)
{
    in.clear();
    in.seekg(static_cast<std::streamoff>(from - 1));
    std::streambuf& buffer = *in.rdbuf();
    for (int c; (c = buffer.sbumpc()) != std::char_traits<char>::eof(); ++from)
        if (c == '\n')
            return from;
    return from;
}

// The offsets in `text` of each field that is exactly "start", from `from`
// on: where a start row's kind may stand. One search over the whole text,
// which holds few of them.
std::vector<std::size_t> startFields(std::string_view text, std::size_t from)
{
    static constexpr std::string_view Start = "start";
    static const std::boyer_moore_horspool_searcher searcher(Start.begin(), Start.end());
    std::vector<std::size_t> found;
    for (auto at =
             std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), searcher);
         at != text.end(); at = std::search(at + 1, text.end(), searcher)) {
        const auto offset = static_cast<std::size_t>(at - text.begin());
        const std::size_t end = offset + Start.size();
        if ((offset == from || text[offset - 1] == ',' || text[offset - 1] == '\n') &&
            (end == text.size() ||
             std::string_view(",\r\n").find(text[end]) != std::string_view::npos))
            found.push_back(offset);
    }
    return found;
}

// The last start row that begins a session before `before`, and the escrow
// mode set after it, found by reading back a block at a time from there to
// `first` (where the rows begin) and reading only the lines that may be
// start rows.
struct StartBefore
{
    std::optional<LogRow> start;
    std::optional<LogRow> escrowChange;
};

StartBefore findStartBefore(std::istream& in, LogReader& reader, std::uint64_t first,
                            std::uint64_t before)
{
    StartBefore found;
    std::string block;
    for (std::uint64_t end = before; end > first;) {
        const std::uint64_t from = end - std::min<std::uint64_t>(StartSearchBlock, end - first);
        block.resize(static_cast<std::size_t>(end - from));
        in.clear();
        in.seekg(static_cast<std::streamoff>(from));
        if (!in.read(block.data(), static_cast<std::streamsize>(block.size())))
            return found;
        // The line cut by the block's beginning is read whole with the next block.
        const std::size_t firstLine = from == first ? 0 : block.find('\n') + 1;
        const std::vector<std::size_t> fields = startFields(block, firstLine);
        std::size_t lineRead = std::string::npos;
        for (auto field = fields.rbegin(); field != fields.rend(); ++field) {
            const std::size_t nl = *field ? block.rfind('\n', *field - 1) : std::string::npos;
            const std::size_t lineStart =
                nl == std::string::npos || nl < firstLine ? firstLine : nl + 1;
            if (lineStart == lineRead)
                continue;
            lineRead = lineStart;
            std::optional<LogRow> row;
            std::size_t number = 0;
            reader.seek(from + lineStart, 0);
            reader.next(row, number);
            if (row && row->start) {
                found.start = std::move(row);
                return found;
            }
            if (row && !found.escrowChange && row->events.starts_with("escrow mode now "))
                found.escrowChange = std::move(row);
        }
        const std::uint64_t next = from + firstLine;
        end = firstLine == 0 || next >= end ? from : next; // a line past a block is torn
    }
    return found;
}

// Follows the rows from where the reader stands to the end, passing over a
// last row with no line end: it may be torn.
// Reads the tail's rows into `tail`; where the first row after the last good
// frame that does not read back begins, if there is one. Such a row may have
// been the one that moved the acceptor on: going on from the frame before it
// could count a bill twice. A start row after it is a later process's, which
// found it torn at the end of the file by its crash; a last row with no line
// end may be torn, and is passed over.
std::optional<std::uint64_t> readTail(LogReader& reader, TailFrames& tail)
{
    std::optional<LogRow> row;
    std::optional<std::uint64_t> unreadableAt;
    for (std::size_t line = 0; reader.next(row, line);) {
        if (!reader.lastEnded())
            continue;
        if (!row) {
            if (tail.judged.HaveLastFrame == 1 && !unreadableAt)
                unreadableAt = reader.rowOffset();
            continue;
        }
        tail.framesRead = false;
        tail.read(*row);
        if (row->start || tail.framesRead)
            unreadableAt.reset();
    }
    return unreadableAt;
}

} // namespace

namespace {

// ContinuationFromStream, telling too whether the file holds no good frame
// anywhere.
std::optional<LogContinuation> continuation(std::istream& in, const LogOwner& owner,
                                            std::string* why, std::size_t bound, bool* holdsNoFrame)
{
    const auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    in.seekg(0);
    if (!in || end < 0)
        return fail("the log cannot be read");
    LogReader reader(in);
    if (!reader.notALog().empty())
        return fail("the log is not a session log: " + reader.notALog());
    const std::uint64_t first = reader.headerless() ? 0 : reader.offset();
    const auto size = static_cast<std::uint64_t>(end);
    std::uint64_t tailFrom = first;
    if (size > bound && size - bound > first) {
        tailFrom = rowStartFrom(in, size - bound);
        reader.seek(tailFrom, 0);
    }
    TailFrames tail;
    std::optional<std::uint64_t> unreadableAt = readTail(reader, tail);
    if (!tail.device && tailFrom > first) {
        // Whoever wrote the tail began the session further back: its start
        // row says which adapter it was and how the frames were judged.
        const StartBefore before = findStartBefore(in, reader, first, tailFrom);
        if (before.start) {
            tail = TailFrames();
            tail.read(*before.start);
            if (before.escrowChange)
                tail.read(*before.escrowChange);
            reader.seek(tailFrom, 0);
            unreadableAt = readTail(reader, tail);
        }
    }
    if (tail.judged.HaveLastFrame != 1) {
        if (holdsNoFrame)
            *holdsNoFrame = tailFrom == first;
        return fail(NoFrameInTail);
    }
    if (!tail.device)
        return fail("the log holds no start row to say which adapter wrote it");
    if (!tail.adapter.empty() && tail.adapter != owner.identity)
        return fail("the log's last start row names another adapter, " + tail.adapter);
    if (tail.adapter.empty() && *tail.device != owner.device)
        return fail("the log's last start row names another device, " + *tail.device);
    if (unreadableAt)
        return fail("a row after the last good frame does not read back, at byte " +
                    std::to_string(*unreadableAt));
    LogContinuation c;
    c.lastFrame = tail.judged.LastFrame;
    c.nextBit = tail.nextBit;
    c.escrowAtReport = tail.judged.LastReportEscrow;
    c.ignoresBit = tail.ignoresBit;
    std::string hex = HexText(c.lastFrame.raw());
    hex.pop_back();
    c.text = "frame " + hex + ", bit " + std::to_string(c.nextBit) +
             (c.ignoresBit ? ", the acceptor does not echo the bit" : "");
    return c;
}

std::optional<LogContinuation> fromFile(const std::string& path, const LogOwner& owner,
                                        std::string* why, std::size_t bound, bool* holdsNoFrame)
{
    // A log that is a FIFO or a device has no end to read back: reading it
    // would take another reader's rows, or never end.
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (type != std::filesystem::file_type::regular &&
        type != std::filesystem::file_type::not_found) {
        if (why)
            *why = path + " is not a regular file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (why)
            *why = "cannot read " + path;
        return std::nullopt;
    }
    return continuation(in, owner, why, bound, holdsNoFrame);
}

} // namespace

std::optional<LogContinuation> ContinuationFromStream(std::istream& in, const LogOwner& owner,
                                                      std::string* why, std::size_t bound)
{
    return continuation(in, owner, why, bound, nullptr);
}

std::optional<LogContinuation> ContinuationFromLog(const std::string& path, const LogOwner& owner,
                                                   std::string* why, std::size_t bound)
{
    return fromFile(path, owner, why, bound, nullptr);
}

std::optional<LogContinuation> ContinuationForRestart(const std::string& path,
                                                      const LogOwner& owner, std::string* why,
                                                      std::string* readFrom, std::size_t bound)
{
    bool holdsNoFrame = false;
    auto c = fromFile(path, owner, why, bound, &holdsNoFrame);
    if (c || !holdsNoFrame)
        return c;
    const std::string rotated = path + ".1";
    std::string whyRotated;
    c = fromFile(rotated, owner, &whyRotated, bound, nullptr);
    if (c && readFrom)
        *readFrom = rotated;
    else if (why && std::filesystem::exists(rotated))
        *why += "; " + rotated + ": " + whyRotated;
    return c;
}

} // namespace kora
