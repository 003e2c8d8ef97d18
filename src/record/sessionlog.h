#pragma once

#include "record/outputqueue.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kora {

// A CSV file (RFC 4180, UTF-8) that a session appends one row to per poll,
// and at START and STOP. Each row is queued as soon as it is made and leaves
// in one write(2) as the file takes it, so a crash loses nothing already
// written, a stalled reader of a pipe delays rows without losing them and
// the poll that makes a row never waits for it. A file that a crash left with
// a torn last row gets its next row on a line of its own. A write that fails
// (a full disk, a device error, a pipe whose reader went away) closes the
// log, which says why once.
//
// A regular file is held against every other program for as long as it is
// written (one log, one writer). Before each write the writer makes sure
// that the file at the path is still its own: one renamed, removed or
// truncated (rotated) is followed by a new file at the path, which begins
// with the header and the continuation of the row about to be written. Rows
// that a power cut must not take (start, stop and adjust rows, those that
// ask for it, and at least one row every SyncFloor) are synced to the disk
// once written.
class SessionLog
{
public:
    // The columns, in order; the header row names them.
    static const std::vector<std::string>& Columns();
    // The longest that written rows wait for the disk while none asks to.
    static constexpr std::chrono::seconds SyncFloor{5};
    // The refusal of a file that holds rows that are no session log's: not
    // an errno.
    static constexpr int NotALog = -1;
    // Why a log cannot be had from `error`, the errno of the refusal.
    static std::string Describe(int error);

    SessionLog() = default;
    // The rows still queued get OutputQueue::Grace to get out.
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Opens `path` for appending, never truncating; writes the header when
    // the file is empty. False, with the reason in `why`, when it cannot,
    // also when another program writes it or it holds something that is no
    // session log (its first row neither a log's header nor a log's row),
    // which is then left as it is. A file put at the path later, when the
    // log is rotated, is refused the same way: the log fails.
    bool open(const std::string& path, std::string* why);
    // Rows already written still go out, in the background; see
    // OutputQueue::Settle.
    void close();
    bool isOpen() const { return queue_ != nullptr; }
    // The file being written, or the one written last; empty before any.
    const std::string& path() const { return path_; }

    // Queues one row. False when the log has failed, found at this row or
    // before it: the log is then closed, and failure() says why. The row's
    // kind adds its own wish for sync to the meta's; the continuation is a
    // row, as CsvLine gives it.
    bool write(const std::vector<std::string>& row, RowMeta meta = {});
    const std::string& failure() const { return failure_; }

    // Waits until every row written so far is out, or the deadline; true
    // when they are.
    bool drain(OutputQueue::Clock::time_point deadline);

    // The rows written so far, as a mark; and whether every row up to a mark
    // is out (written, and synced when it asked), asked without waiting. A
    // log that is closed, has failed or was opened again since the mark
    // holds nothing back: true.
    std::uint64_t mark() const;
    bool outThrough(std::uint64_t mark);

    // Waits until every row written so far is out, or the deadline, and
    // closes the log. False when some row of this log never got out, now
    // or before; failure() says why.
    bool finish(OutputQueue::Clock::time_point deadline);

    // The row as one CSV line: quoted where RFC 4180 needs it, CRLF ended.
    static std::string CsvLine(const std::vector<std::string>& row);

private:
    bool failed();
    void lose(const std::string& why);

    std::unique_ptr<OutputQueue> queue_;
    std::string path_;
    std::string failure_;
    bool lost_ = false; // some row never got out
};

namespace logfile {
// The log's file, one implementation per system: opened for appending,
// never truncating, and for writes that wait for a slow reader; a FIFO that
// nobody reads fails rather than waiting for one. `header` is what a new or
// empty file begins with. Null, with the errno in `error`, when it cannot be
// had; SessionLog::NotALog, with why in `notALog`, for a file that holds
// something other than a session log.
std::unique_ptr<OutputQueue::Sink> open(const std::string& path, const std::string& header,
                                        int* error, std::string* notALog = nullptr);
} // namespace logfile

} // namespace kora
