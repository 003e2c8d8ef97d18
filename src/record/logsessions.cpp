#include "record/logsessions.h"

#include <stdexcept>
#include <utility>

namespace kora {

LogSessions::Place LogSessions::place(const LogRow& row)
{
    Place p;
    const bool fileBegins = std::exchange(fileBegins_, false);
    // A start that never opened its port is no session, and a process that
    // came after the one whose session is still open ended that one.
    if (row.kind == "failed") {
        open_ = false;
        return p;
    }
    if (fileBegins && open_ && row.start && row.start->reason == RotationReason) {
        p.joins = true;
    } else if (row.kind == "start" && !IsSettingChange(row.events)) {
        p.begins = p.startRow = true;
        open_ = true;
        ++count_;
    } else if (!open_ && (count_ == 0 || fileBegins)) { // before the first start row
        p.begins = true;
        open_ = true;
        ++count_;
    } else if (!open_) {
        return p;
    }
    p.session = count_;
    p.ends = row.kind == "stop";
    open_ = !p.ends;
    return p;
}

LogSessionFile::LogSessionFile(const std::string& path, int session, const Seen& seen)
    : in_(path), reader_(in_.stream())
{
    if (!in_.isOpen())
        throw std::invalid_argument("cannot read " + path + ": " + in_.openError());
    if (!reader_.notALog().empty())
        throw std::invalid_argument(path + " is not a session log: " + reader_.notALog());
    index(session, seen);
    if (sessions_ == 0)
        throw std::invalid_argument(path + " holds no session (no row that can be read)");
    if (session > sessions_)
        throw std::invalid_argument(path + " has no session " + std::to_string(session) +
                                    ": it holds " + std::to_string(sessions_));
    session_ = session == 0 ? sessions_ : session;
    rewind();
}

void LogSessionFile::index(int wanted, const Seen& seen)
{
    LogSessions sessions;
    int kept = 0; // the session being kept, when it is open
    std::optional<LogRow> row;
    for (std::size_t line = 0; reader_.next(row, line);) {
        if (!row) {
            if (kept && sessions.open() == kept && badCount_++ < BadLinesNamed)
                badLines_.push_back(line);
            continue;
        }
        const LogSessions::Place at = sessions.place(*row);
        if (at.begins && (wanted == 0 || at.session == wanted)) {
            kept = at.session;
            begin_ = at.startRow ? reader_.offset() : reader_.rowOffset();
            beginLine_ = at.startRow ? line : line - 1;
            polls_ = badCount_ = 0;
            badLines_.clear();
        }
        sessions_ = std::max(sessions_, at.session);
        if (at.session != 0 && seen)
            seen(*row, at.session);
        if (at.session != 0 && at.session == kept && row->kind == "poll")
            ++polls_;
    }
}

std::string LogSessionFile::badRowsText() const
{
    std::string bad = BadRowsText(badCount_, badLines_);
    if (!bad.empty())
        bad = "session " + std::to_string(session_) + ": " + bad;
    if (const std::string damage = in_.damage(); !damage.empty())
        bad += (bad.empty() ? "" : "; ") + damage;
    return bad;
}

std::optional<LogRow> LogSessionFile::next()
{
    std::optional<LogRow> row;
    for (std::size_t line = 0; !ended_ && reader_.next(row, line);) {
        if (!row)
            continue;
        const LogSessions::Place at = place_.place(*row);
        if (at.session != session_ || at.begins || at.ends)
            break; // its stop row, or the next session's first
        if (row->kind == "poll")
            return row;
    }
    ended_ = true;
    return std::nullopt;
}

void LogSessionFile::rewind()
{
    reader_.seek(begin_, beginLine_);
    place_.resume(session_);
    ended_ = false;
}

} // namespace kora
