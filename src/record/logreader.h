#pragma once

#include <chrono>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// One row of a session log, its columns by name.
struct LogRow
{
    std::size_t line = 0; // in the file, from 1
    std::chrono::system_clock::time_point time{};
    std::string kind; // start, poll or stop
    long poll = 0;
    std::string outcome; // good, no-reply or checksum; poll rows only
    std::string host, reply, replyMs, flags, events;
    std::vector<unsigned char> replyBytes; // the reply's 11, read once; good and checksum rows
};

// Reads a session log one row at a time, so that a log of any size takes
// the same memory. The first row must be the log's header; its columns may
// come in any order and with others beside them.
class LogReader
{
public:
    // A row past this length is torn (a file cut mid-write, or not a log).
    static constexpr std::size_t LongestRow = 64 * 1024;

    explicit LogReader(std::istream& in);

    // Empty when the first row is a session log's header; otherwise why the
    // file is not a session log.
    const std::string& notALog() const { return notALog_; }

    // The next row. False at the end of the file; `row` is empty for a row
    // that is torn or malformed, which `line` then names.
    bool next(std::optional<LogRow>& row, std::size_t& line);

private:
    bool readLine(std::string& text, bool& tooLong);
    std::optional<LogRow> parse(const std::string& text) const;

    std::istream& in_;
    std::string notALog_;
    std::vector<int> columnOf_; // for each named column, its field
    std::size_t fields_ = 0;
    std::size_t line_ = 0;
};

// The fields of one CSV line with quotes as the log writes them (a quote
// doubled inside a quoted field); none when a quote is left open.
std::optional<std::vector<std::string>> CsvFields(const std::string& line);

// A log row's time, 2026-12-07T16:30:01.123+01:00, as a moment.
std::optional<std::chrono::system_clock::time_point> ReadLogTime(const std::string& text);

// Bytes written as HexText writes them; none unless there are `count`.
std::optional<std::vector<unsigned char>> ReadHexBytes(const std::string& text, std::size_t count);

} // namespace kora
