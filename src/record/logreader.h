#pragma once

#include "record/logevents.h"
#include "record/logrows.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// One row of a session log, its columns by name, checked: every number in it
// is one a session can hold, and what its events say is read once.
struct LogRow
{
    std::size_t line = 0; // in the file, from 1
    std::chrono::system_clock::time_point time{};
    // start, poll, read (frames a stop read), adjust, stop or failed (a start
    // whose port never opened)
    std::string kind;
    long poll = 0;
    std::string outcome; // good, no-reply or checksum; poll rows only
    std::string host, reply, replyMs, flags, events;
    std::vector<unsigned char> replyBytes; // the reply's 11, read once; good and checksum rows
    // Added as the log gained rows; each is set for its kind of row only.
    std::vector<unsigned char> hostBytes; // the host message's 8; poll rows
    std::optional<double> replyMillis;    // reply_ms: finite, 0 or more
    PollParts parts;                      // what a poll row's events say
    std::optional<StartText> start;       // a start row that begins a session
    std::optional<Adjustment> adjustment; // an adjust row
    std::optional<BillCounts> stopCounts; // a stop row that gives the counters
};

// Reads a session log one row at a time, so that a log of any size takes
// the same memory. The first row is the log's header, its columns in any
// order and with others beside them; or, in a file whose beginning was cut
// off, a row of the log, read in the log's own order (LogColumnNames()).
class LogReader
{
public:
    // A row past this length is torn (a file cut mid-write, or not a log).
    static constexpr std::size_t LongestRow = 64 * 1024;
    // Times from a log lie within the years the writer keeps to.
    static constexpr int FirstYear = FirstLogYear, LastYear = LastLogYear;

    explicit LogReader(std::istream& in);

    // Empty when the first row is a session log's header or row; otherwise
    // why the file is not a session log.
    const std::string& notALog() const { return notALog_; }
    // The file begins with a row, not with the header.
    bool headerless() const { return headerless_; }

    // The next row. False at the end of the file; `row` is empty for a row
    // that is torn or malformed, which `line` then names.
    bool next(std::optional<LogRow>& row, std::size_t& line);

    // Where the row next() gave last began, and where the next one begins,
    // in bytes from the start of the file.
    std::uint64_t rowOffset() const { return rowOffset_; }
    std::uint64_t offset() const { return offset_; }
    // Whether the row next() gave last ended with a line feed; one that did
    // not is the end of the file, perhaps torn by a crash.
    bool lastEnded() const { return lastEnded_; }
    // Reads on from `offset`, the start of a row, counting lines from `line`.
    void seek(std::uint64_t offset, std::size_t line);

private:
    // Up to the next line feed; a line past LongestRow is read to its end but
    // not kept, or, unless `toItsEnd`, left there.
    bool readLine(std::string& text, bool& tooLong, bool toItsEnd = true);
    bool readColumns(const std::vector<std::string>& header);
    // Into `row`, whose strings and buffers are used again: a log of
    // millions of rows is read without an allocation a row.
    bool parseInto(std::string_view text, LogRow& row) const;
    bool refill();
    bool readRow(std::string_view& text, bool& tooLong);

    std::istream& in_;
    std::string notALog_;
    std::vector<int> columnOf_; // for each named column, its field
    std::size_t fields_ = 0;
    std::size_t line_ = 0;
    bool headerless_ = false;
    std::optional<std::string> firstRow_; // read to tell the header from a row, not yet given
    std::uint64_t offset_ = 0, rowOffset_ = 0;
    bool lastEnded_ = true;
    // Read from the stream a block at a time: a byte at a time costs more
    // than all the rest of reading a row.
    std::vector<char> block_;
    std::size_t blockAt_ = 0, blockEnd_ = 0;
    std::string text_; // a row that did not lie whole in the block
    mutable std::vector<std::string_view> fieldViews_;
    mutable std::string quoted_; // a row whose fields hold doubled quotes, unquoted
    mutable std::vector<std::string> slowFields_;
};

// The fields of one CSV line with quotes as the log writes them (a quote
// doubled inside a quoted field); none when a quote is left open.
std::optional<std::vector<std::string>> CsvFields(const std::string& line);

// A log row's time, 2026-12-07T16:30:01.123+01:00, as a moment; none for
// any other text, or a year outside FirstYear to LastYear.
std::optional<std::chrono::system_clock::time_point> ReadLogTime(std::string_view text);

// Bytes written as HexText writes them; none unless there are `count`.
std::optional<std::vector<unsigned char>> ReadHexBytes(std::string_view text, std::size_t count);

// "2 torn or malformed rows skipped: lines 57, 112 and 3 more", for `count`
// rows of which `lines` are the first; every reader says it so.
std::string BadRowsText(std::size_t count, const std::vector<std::size_t>& lines);

} // namespace kora
