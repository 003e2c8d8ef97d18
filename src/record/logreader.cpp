#include "record/logreader.h"

#include <algorithm>
#include <cstdio>

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

// Checks a row and reads its reply's bytes into it.
bool wellFormed(LogRow& row)
{
    if (row.kind == "start" || row.kind == "stop")
        return true;
    if (row.kind != "poll" || !ReadHexBytes(row.host, 8))
        return false;
    if (row.outcome == "good" || row.outcome == "checksum") {
        auto bytes = ReadHexBytes(row.reply, 11);
        if (bytes)
            row.replyBytes = std::move(*bytes);
        return bytes.has_value();
    }
    return row.outcome == "no-reply";
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

std::optional<std::chrono::system_clock::time_point> ReadLogTime(const std::string& text)
{
    using namespace std::chrono;
    int y, mo, d, h, mi, s, ms, zh, zm, used = 0;
    char sign = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d%n", &y, &mo, &d, &h, &mi,
                    &s, &ms, &sign, &zh, &zm, &used) != 10 ||
        static_cast<std::size_t>(used) != text.size() || (sign != '+' && sign != '-'))
        return std::nullopt;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok())
        return std::nullopt;
    const minutes zone{(sign == '-' ? -1 : 1) * (zh * 60 + zm)};
    return sys_days{date} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms} - zone;
}

std::optional<std::vector<unsigned char>> ReadHexBytes(const std::string& text, std::size_t count)
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

LogReader::LogReader(std::istream& in) : in_(in)
{
    std::string text;
    bool tooLong = false;
    const auto header = readLine(text, tooLong) && !tooLong ? CsvFields(text) : std::nullopt;
    if (!header) {
        notALog_ = "its first row is not the header of a session log";
        return;
    }
    for (const char* name : FieldNames) {
        const auto at = std::find(header->begin(), header->end(), name);
        if (at == header->end()) {
            notALog_ = std::string("its first row has no ") + name + " column";
            return;
        }
        columnOf_.push_back(static_cast<int>(at - header->begin()));
    }
    fields_ = header->size();
}

// Up to the next line feed, a carriage return before it dropped; a line
// past LongestRow is read to its end but not kept.
bool LogReader::readLine(std::string& text, bool& tooLong)
{
    text.clear();
    tooLong = false;
    std::streambuf& buffer = *in_.rdbuf();
    bool any = false;
    for (int c; (c = buffer.sbumpc()) != std::char_traits<char>::eof();) {
        any = true;
        if (c == '\n')
            break;
        if (text.size() < LongestRow)
            text += static_cast<char>(c);
        else
            tooLong = true;
    }
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    line_ += any ? 1 : 0;
    return any;
}

bool LogReader::next(std::optional<LogRow>& row, std::size_t& line)
{
    std::string text;
    bool tooLong = false;
    if (!notALog_.empty() || !readLine(text, tooLong))
        return false;
    line = line_;
    row = tooLong ? std::nullopt : parse(text);
    if (row)
        row->line = line_;
    return true;
}

std::optional<LogRow> LogReader::parse(const std::string& text) const
{
    const auto fields = CsvFields(text);
    if (!fields || fields->size() != fields_)
        return std::nullopt;
    const auto field = [&](Field c) { return (*fields)[static_cast<std::size_t>(columnOf_[c])]; };
    const auto time = ReadLogTime(field(Time));
    long poll = 0;
    int used = 0;
    const std::string pollText = field(Poll);
    if (!time || std::sscanf(pollText.c_str(), "%ld%n", &poll, &used) != 1 ||
        static_cast<std::size_t>(used) != pollText.size())
        return std::nullopt;
    LogRow row{0,           *time,        field(Kind),    poll,         field(Outcome),
               field(Host), field(Reply), field(ReplyMs), field(Flags), field(Events),
               {}};
    return wellFormed(row) ? std::optional(std::move(row)) : std::nullopt;
}

} // namespace kora
