#include "record/logreader.h"

#include "record/pollreport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kora {

namespace {

// The columns a row needs, in the order parse() reads them.
enum Field { Time, Kind, Poll, Outcome, Host, Reply, ReplyMs, Flags, Events, FieldCount };
const char* const FieldNames[FieldCount] = {"time",  "kind",     "poll",  "outcome", "host",
                                            "reply", "reply_ms", "flags", "events"};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(ms) || ms < 0 ||
        ms > LogReader::LongestReplyMs)
        return std::nullopt;
    return ms;
}

bool readPoll(LogRow& row)
{
    const auto parts = ReadPollEvents(row.events);
    auto host = ReadHexBytes(row.host, 8);
    if (!parts || !host)
        return false;
    row.parts = std::move(*parts);
    row.hostBytes = std::move(*host);
    if (row.outcome == "good") { // its reply is a good frame
        const auto frame = ReadGoodFrame(row.reply);
        if (frame)
            row.replyBytes.assign(frame->raw().begin(), frame->raw().end());
        return frame.has_value();
    }
    // A checksum row keeps the eleven bytes that failed, if it has them.
    if (row.outcome != "checksum" || row.reply.empty())
        return row.outcome == "no-reply" || row.outcome == "checksum";
    auto bytes = ReadHexBytes(row.reply, 11);
    if (bytes)
        row.replyBytes = std::move(*bytes);
    return bytes.has_value();
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
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const int high = hexDigit(text[at]);
        const int low = at + 1 < text.size() ? hexDigit(text[at + 1]) : -1;
        if (high < 0 || low < 0 || bytes.size() == count)
            return std::nullopt;
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
        at += 2;
    }
    return bytes.size() == count ? std::optional(std::move(bytes)) : std::nullopt;
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
    if (parse(text)) {
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

// Up to the next line feed, a carriage return before it dropped; a line
// past LongestRow is read to its end but not kept.
bool LogReader::readLine(std::string& text, bool& tooLong, bool toItsEnd)
{
    text.clear();
    tooLong = false;
    rowOffset_ = offset_;
    lastEnded_ = false;
    std::streambuf& buffer = *in_.rdbuf();
    for (int c; (c = buffer.sbumpc()) != std::char_traits<char>::eof();) {
        ++offset_;
        if (c == '\n') {
            lastEnded_ = true;
            break;
        }
        if (text.size() < LongestRow) {
            text += static_cast<char>(c);
        } else {
            tooLong = true;
            if (!toItsEnd)
                break;
        }
    }
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    const bool any = offset_ > rowOffset_;
    line_ += any ? 1 : 0;
    return any;
}

bool LogReader::next(std::optional<LogRow>& row, std::size_t& line)
{
    std::string text;
    bool tooLong = false;
    if (firstRow_) {
        text = std::move(*firstRow_);
        firstRow_.reset();
        rowOffset_ = 0;
    } else if (!notALog_.empty() || !readLine(text, tooLong)) {
        return false;
    }
    line = line_;
    row = tooLong ? std::nullopt : parse(text);
    if (row)
        row->line = line_;
    return true;
}

void LogReader::seek(std::uint64_t offset, std::size_t line)
{
    firstRow_.reset();
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    offset_ = rowOffset_ = offset;
    line_ = line;
    lastEnded_ = true;
}

std::optional<LogRow> LogReader::parse(const std::string& text) const
{
    if (text.find('\0') != std::string::npos) // never in a log Kora232 writes
        return std::nullopt;
    const auto fields = CsvFields(text);
    if (!fields || fields->size() != fields_)
        return std::nullopt;
    const auto field = [&](Field c) { return (*fields)[static_cast<std::size_t>(columnOf_[c])]; };
    const auto time = ReadLogTime(field(Time));
    const auto poll = ReadCount(field(Poll), std::numeric_limits<long>::max());
    if (!time || !poll)
        return std::nullopt;
    LogRow row;
    row.time = *time;
    row.kind = field(Kind);
    row.poll = *poll;
    row.outcome = field(Outcome);
    row.host = field(Host);
    row.reply = field(Reply);
    row.replyMs = field(ReplyMs);
    row.flags = field(Flags);
    row.events = field(Events);
    return wellFormed(row) ? std::optional(std::move(row)) : std::nullopt;
}

} // namespace kora
