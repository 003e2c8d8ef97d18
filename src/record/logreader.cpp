#include "record/logreader.h"

#include "protocol/reply.h"
#include "record/pollreport.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace kora {

namespace {

// The columns a row needs, in the order parseInto() reads them.
enum Field { Time, Kind, Poll, Outcome, Host, Reply, ReplyMs, Flags, Events, FieldCount };
const char* const FieldNames[FieldCount] = {"time",  "kind",     "poll",  "outcome", "host",
                                            "reply", "reply_ms", "flags", "events"};

// Each byte's value as a hex digit, -1 for a byte that is none: looked up,
// since every row of a log holds some forty.
constexpr std::array<signed char, 256> HexDigits = [] {
    std::array<signed char, 256> digits{};
    for (int c = 0; c < 256; ++c)
        digits[static_cast<std::size_t>(c)] =
            static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                     : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                            : -1);
    return digits;
}();

int hexDigit(char c)
{
    return HexDigits[static_cast<unsigned char>(c)];
}

// `width` decimal digits at `at`, or -1.
int digitsAt(std::string_view text, std::size_t at, std::size_t width)
{
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::optional<double> readReplyMs(const std::string& text)
{
    double ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(ms) || ms < 0)
        return std::nullopt;
    return ms;
}

// Bytes written as HexText writes them into `bytes`, whose room is used
// again; false unless there are `count`.
bool readHexInto(std::string_view text, std::size_t count, std::vector<unsigned char>& bytes)
{
    bytes.resize(count);
    std::size_t n = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const int high = hexDigit(text[at]);
        const int low = at + 1 < text.size() ? hexDigit(text[at + 1]) : -1;
        if (high < 0 || low < 0 || n == count)
            return false;
        bytes[n++] = static_cast<unsigned char>(high * 16 + low);
        at += 2;
    }
    return n == count;
}

bool readPoll(LogRow& row)
{
    auto parts = ReadPollEvents(row.events);
    if (!parts || !readHexInto(row.host, 8, row.hostBytes))
        return false;
    row.parts = std::move(*parts);
    if (row.outcome == "good") { // its reply is a good frame
        if (!readHexInto(row.reply, 11, row.replyBytes))
            return false;
        ReplyFrame frame;
        std::copy(row.replyBytes.begin(), row.replyBytes.end(), frame.raw().begin());
        return GoodFrame(frame);
    }
    // A checksum row keeps the eleven bytes that failed, if it has them.
    if (row.outcome != "checksum" || row.reply.empty())
        return row.outcome == "no-reply" || row.outcome == "checksum";
    return readHexInto(row.reply, 11, row.replyBytes);
}

// The fields of a line as views into it, the quotes around a field taken
// off; false for a line CsvFields must read: a quote doubled inside a field,
// a quote within one, or one left open.
bool splitFields(std::string_view line, std::vector<std::string_view>& fields)
{
    fields.clear();
    // The next quote from `at` on, looked for once for all the plain fields before it.
    std::size_t quote = line.find('"');
    for (std::size_t at = 0;;) {
        std::size_t end = 0;
        if (quote == at) {
            const std::size_t close = line.find('"', at + 1);
            if (close == std::string_view::npos ||
                (close + 1 < line.size() && line[close + 1] != ','))
                return false;
            fields.push_back(line.substr(at + 1, close - at - 1));
            end = close + 1;
            quote = line.find('"', end);
        } else {
            const auto* comma =
                static_cast<const char*>(std::memchr(line.data() + at, ',', line.size() - at));
            end = comma ? static_cast<std::size_t>(comma - line.data()) : line.size();
            if (quote < end) // a quote within a field
                return false;
            fields.push_back(line.substr(at, end - at));
        }
        if (end >= line.size())
            return true;
        at = end + 1; // past the comma
        if (at == line.size()) {
            fields.emplace_back();
            return true;
        }
    }
}

// Checks a row and reads what its kind of row says into it.
bool wellFormed(LogRow& row)
{
    if (!row.replyMs.empty() && !(row.replyMillis = readReplyMs(row.replyMs)))
        return false;
    if (row.kind == "poll")
        return readPoll(row);
    if (row.kind == "read") { // frames a stop read: no host message, no reply
        auto parts = ReadPollEvents(row.events);
        if (parts)
            row.parts = std::move(*parts);
        return parts && parts->otherBit.empty() && !parts->answer && row.host.empty() &&
               row.reply.empty() && row.outcome.empty();
    }
    if (row.kind == "start") {
        if (IsSettingChange(row.events))
            return true;
        row.start = ReadStartText(row.events);
        return row.start.has_value();
    }
    if (row.kind == "adjust") {
        row.adjustment = ReadAdjustment(row.events);
        if (row.adjustment)
            row.adjustment->time = row.time;
        return row.adjustment.has_value();
    }
    if (row.kind == "plan")
        return IsPlanRow(row.events);
    // A START whose port never opened: "port 1 (/dev/ttyUSB0): cannot be opened: ...".
    if (row.kind == "failed")
        return row.events.starts_with("port ") &&
               row.events.find("): cannot be opened: ") != std::string::npos;
    return row.kind == "stop" && ReadStopCounts(row.events, row.stopCounts);
}

} // namespace

std::optional<std::vector<std::string>> CsvFields(const std::string& line)
{
    std::vector<std::string> fields{std::string()};
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && inQuotes && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += '"', ++i;
        else if (c == '"')
            inQuotes = !inQuotes;
        else if (c == ',' && !inQuotes)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return inQuotes ? std::nullopt : std::optional(std::move(fields));
}

std::optional<std::chrono::system_clock::time_point> ReadLogTime(std::string_view text)
{
    using namespace std::chrono;
    // 2026-12-07T16:30:01.123+01:00, every character in its place.
    if (text.size() != 29 || text.substr(4, 1) != "-" || text.substr(7, 1) != "-" ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[19] != '.' ||
        (text[23] != '+' && text[23] != '-') || text[26] != ':')
        return std::nullopt;
    const int y = digitsAt(text, 0, 4), mo = digitsAt(text, 5, 2), d = digitsAt(text, 8, 2);
    const int h = digitsAt(text, 11, 2), mi = digitsAt(text, 14, 2), s = digitsAt(text, 17, 2);
    const int ms = digitsAt(text, 20, 3), zh = digitsAt(text, 24, 2), zm = digitsAt(text, 27, 2);
    if (y < LogReader::FirstYear || y > LogReader::LastYear || mo < 1 || d < 1 || h < 0 || h > 23 ||
        mi < 0 || mi > 59 || s < 0 || s > 60 || ms < 0 || zh < 0 || zh > 23 || zm < 0 || zm > 59)
        return std::nullopt;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok())
        return std::nullopt;
    const minutes zone{(text[23] == '-' ? -1 : 1) * (zh * 60 + zm)};
    return sys_days{date} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms} - zone;
}

std::optional<std::vector<unsigned char>> ReadHexBytes(std::string_view text, std::size_t count)
{
    std::vector<unsigned char> bytes;
    return readHexInto(text, count, bytes) ? std::optional(std::move(bytes)) : std::nullopt;
}

std::string BadRowsText(std::size_t count, const std::vector<std::size_t>& lines)
{
    if (count == 0)
        return {};
    std::string text = std::to_string(count) + " torn or malformed row" + (count == 1 ? "" : "s") +
                       " skipped: line" + (count == 1 ? " " : "s ");
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (i ? ", " : "") + std::to_string(lines[i]);
    if (count > lines.size())
        text += " and " + std::to_string(count - lines.size()) + " more";
    return text;
}

LogReader::LogReader(std::istream& in) : in_(in)
{
    std::string text;
    bool tooLong = false;
    // Read no further than a row may be long: a device that never ends a
    // line (/dev/zero) is then refused at once instead of read for ever.
    const auto header = readLine(text, tooLong, false) && !tooLong ? CsvFields(text) : std::nullopt;
    if (!header) {
        notALog_ = "its first row is not the header of a session log";
        return;
    }
    if (readColumns(*header))
        return;
    // A file whose beginning was cut off: a row, in the order the log writes them.
    const std::string why = notALog_;
    readColumns(LogColumnNames());
    if (LogRow row; parseInto(text, row)) {
        headerless_ = true;
        firstRow_ = std::move(text);
        return;
    }
    notALog_ = why;
}

bool LogReader::readColumns(const std::vector<std::string>& header)
{
    columnOf_.clear();
    notALog_.clear();
    for (const char* name : FieldNames) {
        const auto at = std::find(header.begin(), header.end(), name);
        if (at == header.end()) {
            notALog_ = std::string("its first row has no ") + name + " column";
            return false;
        }
        columnOf_.push_back(static_cast<int>(at - header.begin()));
    }
    fields_ = header.size();
    return true;
}

bool LogReader::refill()
{
    constexpr std::size_t BlockSize = 256 * 1024;
    block_.resize(BlockSize);
    const auto got = in_.rdbuf()->sgetn(block_.data(), static_cast<std::streamsize>(BlockSize));
    blockAt_ = 0;
    blockEnd_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    return blockEnd_ > 0;
}

// Up to the next line feed, a carriage return before it dropped; a line
// past LongestRow is read to its end but not kept.
bool LogReader::readLine(std::string& text, bool& tooLong, bool toItsEnd)
{
    text.clear();
    tooLong = false;
    rowOffset_ = offset_;
    lastEnded_ = false;
    while (blockAt_ < blockEnd_ || refill()) {
        const char* from = block_.data() + blockAt_;
        const std::size_t left = blockEnd_ - blockAt_;
        const auto* feed = static_cast<const char*>(std::memchr(from, '\n', left));
        const std::size_t length = feed ? static_cast<std::size_t>(feed - from) : left;
        const std::size_t room = LongestRow - std::min(text.size(), LongestRow);
        tooLong = tooLong || length > room;
        // A line that never ends (/dev/zero) is left after the first byte too many.
        const std::size_t taken = tooLong && !toItsEnd ? room + 1 : length;
        text.append(from, std::min(taken, room));
        blockAt_ += taken;
        offset_ += taken;
        if (tooLong && !toItsEnd)
            break;
        if (feed) {
            ++blockAt_;
            ++offset_;
            lastEnded_ = true;
            break;
        }
    }
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    const bool any = offset_ > rowOffset_;
    line_ += any ? 1 : 0;
    return any;
}

// The next row where it lies in the block, when it lies whole there; read
// by readLine otherwise.
bool LogReader::readRow(std::string_view& text, bool& tooLong)
{
    const char* from = block_.data() + blockAt_;
    const std::size_t left = blockEnd_ - blockAt_;
    const auto* feed =
        left ? static_cast<const char*>(std::memchr(from, '\n', std::min(left, LongestRow + 1)))
             : nullptr;
    if (!feed) {
        if (!readLine(text_, tooLong))
            return false;
        text = text_;
        return true;
    }
    const auto length = static_cast<std::size_t>(feed - from);
    tooLong = false;
    lastEnded_ = true;
    rowOffset_ = offset_;
    blockAt_ += length + 1;
    offset_ += length + 1;
    ++line_;
    text = std::string_view(from, length);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    return true;
}

bool LogReader::next(std::optional<LogRow>& row, std::size_t& line)
{
    std::string_view text;
    bool tooLong = false;
    if (firstRow_) {
        text_ = std::move(*firstRow_);
        text = text_;
        firstRow_.reset();
        rowOffset_ = 0;
    } else if (!notALog_.empty() || !readRow(text, tooLong)) {
        return false;
    }
    line = line_;
    if (!row)
        row.emplace();
    if (tooLong || !parseInto(text, *row))
        row.reset();
    else
        row->line = line_;
    return true;
}

void LogReader::seek(std::uint64_t offset, std::size_t line)
{
    firstRow_.reset();
    blockAt_ = blockEnd_ = 0;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    offset_ = rowOffset_ = offset;
    line_ = line;
    lastEnded_ = true;
}

bool LogReader::parseInto(std::string_view text, LogRow& row) const
{
    if (text.find('\0') != std::string_view::npos) // never in a log Kora232 writes
        return false;
    std::vector<std::string_view>& fields = fieldViews_;
    if (!splitFields(text, fields)) {
        auto slow = CsvFields(std::string(text));
        if (!slow)
            return false;
        slowFields_ = std::move(*slow);
        fields.assign(slowFields_.begin(), slowFields_.end());
    }
    if (fields.size() != fields_)
        return false;
    const auto field = [&](Field c) { return fields[static_cast<std::size_t>(columnOf_[c])]; };
    const auto time = ReadLogTime(field(Time));
    const auto poll = ReadCount(field(Poll), std::numeric_limits<long>::max());
    if (!time || !poll)
        return false;
    row.time = *time;
    row.kind = field(Kind);
    row.poll = *poll;
    row.outcome = field(Outcome);
    row.host = field(Host);
    row.reply = field(Reply);
    row.replyMs = field(ReplyMs);
    row.flags = field(Flags);
    row.events = field(Events);
    // What the last row's kind read into it goes: this row reads its own.
    row.replyBytes.clear();
    row.hostBytes.clear();
    row.replyMillis.reset();
    row.parts = PollParts{};
    row.start.reset();
    row.adjustment.reset();
    row.stopCounts.reset();
    return wellFormed(row);
}

} // namespace kora
