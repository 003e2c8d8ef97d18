#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kora::sim {

// One row of the host program's session log, by column name.
struct LogRow
{
    std::size_t line = 0; // in the file, from 1
    std::string time;
    std::string kind; // start, poll, stop
    std::string poll;
    std::string outcome; // good, no-reply, checksum
    std::string host;
    std::string reply;
    std::string replyMs;
    std::string flags;
    std::string events;
};

// The fields of one CSV line (RFC 4180 quoting, no line breaks inside a
// field); none for a line whose quotes do not close, as a torn row leaves.
std::optional<std::vector<std::string>> splitCsvLine(const std::string& line);

// Reads one session of a session log, row by row, however large the file:
// opening it indexes the sessions in one pass and keeps only the one asked
// for, where it begins, how many poll rows it holds and which rows were torn
// or malformed.
class SessionLogReader
{
public:
    // A row longer than this is taken as torn, never held whole.
    static constexpr std::size_t kLongestRow = 64 * 1024;
    // Bad rows named by number in badRows(); the rest are only counted.
    static constexpr std::size_t kBadRowsNamed = 10;

    // Session `session` from 1 in file order, 0 for the last. Throws
    // std::invalid_argument, with a message for the operator, for a file it
    // cannot read, one that is no session log, or no such session.
    SessionLogReader(const std::string& path, int session);

    int session() const { return session_; }
    int sessions() const { return sessions_; }
    std::size_t polls() const { return polls_; }
    // "skipped 2 torn or malformed rows of session 1: lines 57, 112"; empty
    // when none was.
    std::string badRows() const;

    // The session's next poll row; none once its stop row, the next start
    // row or the end of the file is reached. Bad rows are passed over.
    std::optional<LogRow> next();
    // Back to the session's first row.
    void rewind();

private:
    struct Line
    {
        std::string text;
        std::size_t number = 0;
        bool tooLong = false;
    };
    bool readLine(Line& line);
    std::optional<LogRow> parseRow(const std::string& text, std::size_t number) const;
    void readHeader();
    void index(int wanted);

    std::string path_;
    std::ifstream in_;
    std::vector<std::size_t> columns_; // field index of each LogRow member
    std::size_t fieldCount_ = 0;
    std::uint64_t offset_ = 0; // of the next line to read
    std::size_t lineNumber_ = 0;

    int session_ = 0;
    int sessions_ = 0;
    std::uint64_t begin_ = 0; // the line after the session's start row
    std::size_t beginLine_ = 0;
    std::size_t polls_ = 0;
    std::vector<std::size_t> badLines_;
    std::size_t badCount_ = 0;
    bool ended_ = false;
};

} // namespace kora::sim
