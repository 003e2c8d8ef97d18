#include "record/logtail.h"

#include "protocol/counting.h"
#include "protocol/reply.h"
#include "record/logreader.h"
#include "record/pollreport.h"

#include <filesystem>
#include <fstream>

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
            escrow = row.start->escrowMode.value_or(escrow == 1) ? 1 : 0;
            ignoresBit = ignoresBit || row.start->ignoresBit;
        } else if (row.events == "escrow mode now on" || row.events == "escrow mode now off") {
            escrow = row.events == "escrow mode now on" ? 1 : 0;
        } else if (row.kind == "poll" || row.kind == "read") {
            poll(row);
        }
    }

    std::optional<std::string> device; // named by the last start row
    // The frames as the counting rule took them: the last one, and the mode
    // its report began under.
    RunState judged;
    Byte nextBit = 0;
    int escrow = 1;
    bool ignoresBit = false;

private:
    void poll(const LogRow& row)
    {
        for (const auto* frames : {&row.parts.early, &row.parts.otherBit})
            for (const LoggedFrame& f : *frames)
                CountFrame(judged, f.bytes, escrow);
        if (row.outcome == "good") {
            ReplyFrame answer;
            std::copy(row.replyBytes.begin(), row.replyBytes.end(), answer.raw().begin());
            CountFrame(judged, answer, escrow);
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

} // namespace

std::optional<LogContinuation> ContinuationFromStream(std::istream& in, const std::string& device,
                                                      std::string* why, std::size_t bound)
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
    const auto size = static_cast<std::uint64_t>(end);
    if (size > bound && size - bound > reader.offset())
        reader.seek(rowStartFrom(in, size - bound), 0);
    TailFrames tail;
    std::optional<LogRow> row;
    for (std::size_t line = 0; reader.next(row, line);)
        if (row && reader.lastEnded()) // a last row with no line end may be torn
            tail.read(*row);
    if (tail.device && *tail.device != device)
        return fail("the log's last start row names another device, " + *tail.device);
    if (tail.judged.HaveLastFrame != 1)
        return fail("the end of the log holds no good frame");
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

std::optional<LogContinuation> ContinuationFromLog(const std::string& path,
                                                   const std::string& device, std::string* why,
                                                   std::size_t bound)
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
    return ContinuationFromStream(in, device, why, bound);
}

} // namespace kora
