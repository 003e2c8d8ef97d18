#include "sessionlogreader.h"

#include "framing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

namespace kora::sim {

namespace {

// The columns the host program writes, in LogRow's order; a log may hold them
// in any order, and more.
const std::array<const char*, 9> kColumns{"time",  "kind",     "poll",  "outcome", "host",
                                          "reply", "reply_ms", "flags", "events"};

std::size_t hexByteCount(const std::string& text)
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        if (at + 1 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at])) ||
            !std::isxdigit(static_cast<unsigned char>(text[at + 1])))
            return 0;
        at += 2;
        ++count;
    }
    return count;
}

// A start row mid-run that changes course ("escrowed bills now returned")
// goes on with the session; any other begins one.
bool beginsSession(const LogRow& row)
{
    return row.kind == "start" && row.events.rfind("escrowed bills now ", 0) != 0;
}

bool wellFormed(const LogRow& row)
{
    if (row.kind == "start" || row.kind == "stop")
        return true;
    if (row.kind != "poll" || hexByteCount(row.host) != kHostMessageSize)
        return false;
    if (row.outcome == "good")
        return parseReplyHex(row.reply).has_value();
    return row.outcome == "no-reply" || row.outcome == "checksum";
}

} // namespace

std::optional<std::vector<std::string>> splitCsvLine(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    if (quoted)
        return std::nullopt;
    return fields;
}

SessionLogReader::SessionLogReader(const std::string& path, int session)
    : path_(path), in_(path, std::ios::binary)
{
    if (!in_)
        throw std::invalid_argument("cannot read " + path);
    readHeader();
    index(session);
    if (sessions_ == 0)
        throw std::invalid_argument(path + " holds no session (no start row)");
    if (session > sessions_)
        throw std::invalid_argument(path + " has no session " + std::to_string(session) +
                                    ": it holds " + std::to_string(sessions_));
    session_ = session == 0 ? sessions_ : session;
    rewind();
}

// Reads up to the next LF; a CR before it is dropped. A line past
// kLongestRow is read to its end but not kept.
bool SessionLogReader::readLine(Line& line)
{
    line.text.clear();
    line.tooLong = false;
    std::streambuf& buf = *in_.rdbuf();
    bool any = false;
    for (int c; (c = buf.sbumpc()) != std::char_traits<char>::eof();) {
        any = true;
        ++offset_;
        if (c == '\n')
            break;
        if (line.text.size() < kLongestRow)
            line.text += static_cast<char>(c);
        else
            line.tooLong = true;
    }
    if (!line.text.empty() && line.text.back() == '\r')
        line.text.pop_back();
    if (any)
        line.number = ++lineNumber_;
    return any;
}

void SessionLogReader::readHeader()
{
    Line line;
    const auto fields = readLine(line) && !line.tooLong ? splitCsvLine(line.text) : std::nullopt;
    if (!fields)
        throw std::invalid_argument(path_ + " is not a session log: it has no header row");
    for (const char* name : kColumns) {
        const auto at = std::find(fields->begin(), fields->end(), name);
        if (at == fields->end())
            throw std::invalid_argument(path_ + " is not a session log: its first row has no " +
                                        name + " column");
        columns_.push_back(static_cast<std::size_t>(at - fields->begin()));
    }
    fieldCount_ = fields->size();
}

void SessionLogReader::index(int wanted)
{
    bool inSession = false;
    bool kept = false; // the session read now is the one wanted
    for (Line line; readLine(line);) {
        const auto row = line.tooLong ? std::nullopt : parseRow(line.text, line.number);
        if (!row) {
            if (kept && inSession && badCount_++ < kBadRowsNamed)
                badLines_.push_back(line.number);
            continue;
        }
        if (row->kind == "start" && !beginsSession(*row))
            continue;
        if (row->kind == "start") {
            inSession = true;
            ++sessions_;
            kept = wanted == 0 || sessions_ == wanted;
            if (kept) {
                begin_ = offset_;
                beginLine_ = line.number;
                polls_ = 0;
                badCount_ = 0;
                badLines_.clear();
            }
        } else if (row->kind == "stop") {
            inSession = false;
        } else if (kept && inSession) {
            ++polls_;
        }
    }
}

std::optional<LogRow> SessionLogReader::parseRow(const std::string& text, std::size_t number) const
{
    const auto fields = splitCsvLine(text);
    if (!fields || fields->size() != fieldCount_)
        return std::nullopt;
    const auto field = [&](std::size_t column) { return (*fields)[columns_[column]]; };
    LogRow row{number,   field(0), field(1), field(2), field(3),
               field(4), field(5), field(6), field(7), field(8)};
    if (!wellFormed(row))
        return std::nullopt;
    return row;
}

std::string SessionLogReader::badRows() const
{
    if (badCount_ == 0)
        return {};
    std::string text = "skipped " + std::to_string(badCount_) + " torn or malformed row" +
                       (badCount_ == 1 ? "" : "s") + " of session " + std::to_string(session_) +
                       ": line" + (badCount_ == 1 ? " " : "s ");
    for (std::size_t i = 0; i < badLines_.size(); ++i)
        text += (i ? ", " : "") + std::to_string(badLines_[i]);
    if (badCount_ > badLines_.size())
        text += " and " + std::to_string(badCount_ - badLines_.size()) + " more";
    return text;
}

std::optional<LogRow> SessionLogReader::next()
{
    for (Line line; !ended_ && readLine(line);) {
        const auto row = line.tooLong ? std::nullopt : parseRow(line.text, line.number);
        if (!row)
            continue;
        if (row->kind == "poll")
            return row;
        if (row->kind == "start" && !beginsSession(*row))
            continue;
        ended_ = true; // its stop row, or the next session's start
    }
    ended_ = true;
    return std::nullopt;
}

void SessionLogReader::rewind()
{
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(begin_));
    offset_ = begin_;
    lineNumber_ = beginLine_;
    ended_ = false;
}

} // namespace kora::sim
