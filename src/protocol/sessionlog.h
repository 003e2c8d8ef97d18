#pragma once

#include <string>
#include <vector>

namespace kora {

// A CSV file (RFC 4180, UTF-8) that a session appends one row to per poll,
// and at START and STOP. Each row leaves in one write(2) as soon as it is
// made, so a crash loses nothing already written; a file that a crash left
// with a torn last row gets its next row on a line of its own. Writing never
// blocks: a full disk, a device error or a pipe with no reader fails the
// write, and the log closes and says why once.
class SessionLog
{
public:
    // The columns, in order; the header row names them.
    static const std::vector<std::string>& Columns();

    SessionLog() = default;
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Opens `path` for appending, never truncating; writes the header when
    // the file is empty. False, with the reason in `why`, when it cannot.
    bool open(const std::string& path, std::string* why);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // One row, a value per column. False when the write failed; the log is
    // then closed, and failure() says why.
    bool write(const std::vector<std::string>& row);
    const std::string& failure() const { return failure_; }

    // The row as one CSV line: quoted where RFC 4180 needs it, CRLF ended.
    static std::string CsvLine(const std::vector<std::string>& row);

private:
    bool writeAll(const std::string& text);

    int fd_ = -1;
    std::string path_;
    std::string failure_;
    bool tornRow_ = false;   // the file ends mid-row; start the next on a new line
    bool headerDue_ = false; // goes out with the first row
};

} // namespace kora
