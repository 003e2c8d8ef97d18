#pragma once

#include "record/loginput.h"
#include "record/logreader.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// Where each row of a log stands among its sessions; every reader of the log
// numbers sessions with it. A start row begins a session unless it changes a
// setting mid-run (IsSettingChange). Rows before the first start row form a
// session of their own, with no start row: a file whose beginning was cut
// off. A stop row ends its session; rows after it, up to the next start row,
// stand outside any session, and so does a failed row (a start whose port
// never opened), which ends a session still open.
class LogSessions
{
public:
    struct Place
    {
        int session = 0;       // from 1, in file order; 0: outside any session
        bool begins = false;   // the first row of its session
        bool startRow = false; // the first, and the session's start row
        bool ends = false;     // its stop row
        // A start row that continues, in the next file, the run a rotation
        // cut: the session goes on.
        bool joins = false;
    };

    Place place(const LogRow& row);
    // The rows that follow are the next file of a log read with its
    // rotations, oldest first: a session the last file ended in goes on
    // into it, and rows before its first start row, with no session open,
    // form a session of their own, as at the beginning of a log.
    void nextFile() { fileBegins_ = true; }
    // The session open now, where a torn or malformed row falls; 0 for none.
    int open() const { return open_ ? count_ : 0; }
    // Reads on inside session `session`, as after going back to its rows.
    void resume(int session) { count_ = session, open_ = true; }

private:
    int count_ = 0;
    bool open_ = false;
    bool fileBegins_ = false;
};

// One session of a log file, its poll rows read as they are needed, however
// large the file: opening it reads the file once to number its sessions and
// keeps where the one asked for begins, how many poll rows it holds and which
// of its rows were torn or malformed.
class LogSessionFile
{
public:
    static constexpr std::size_t BadLinesNamed = 10;
    // Shown each row of every session as the file is first read, with the
    // number of its session.
    using Seen = std::function<void(const LogRow& row, int session)>;

    // Session `session` from 1 in file order, 0 for the last. Throws
    // std::invalid_argument, with a message for the operator, for a file it
    // cannot read, one that is no session log, or no such session.
    LogSessionFile(const std::string& path, int session, const Seen& seen = {});

    int session() const { return session_; }
    int sessions() const { return sessions_; }
    std::size_t polls() const { return polls_; }
    // "session 1: 2 torn or malformed rows skipped: lines 57, 112", and
    // where compressed data ends damaged; empty when none was.
    std::string badRowsText() const;

    // The session's next poll row; none once its stop row, the next start
    // row or the end of the file is reached. Other rows are passed over.
    std::optional<LogRow> next();
    // Back to the session's first row.
    void rewind();

private:
    void index(int wanted, const Seen& seen);

    LogInput in_;
    LogReader reader_;
    LogSessions place_;
    int session_ = 0;
    int sessions_ = 0;
    std::uint64_t begin_ = 0; // the offset of its first row after any start row
    std::size_t beginLine_ = 0;
    std::size_t polls_ = 0;
    std::vector<std::size_t> badLines_;
    std::size_t badCount_ = 0;
    bool ended_ = false;
};

} // namespace kora
