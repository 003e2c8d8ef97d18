#include "record/sessionlog.h"

#include "record/pollreport.h"

#include <cerrno>
#include <cstring>

namespace kora {

namespace {
std::string quoted(const std::string& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string out = "\"";
    for (const char c : value)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

// Start, stop, adjust and plan rows are what a report is made of; a power cut must
// not take one that was written.
bool mustReachTheDisk(const std::vector<std::string>& row)
{
    if (row.size() < 2)
        return false;
    const std::string& kind = row[1];
    return kind == "start" || kind == "stop" || kind == "adjust" || kind == "plan";
}
} // namespace

const std::vector<std::string>& SessionLog::Columns()
{
    return LogColumnNames();
}

SessionLog::~SessionLog()
{
    finish(OutputQueue::Clock::now() + OutputQueue::Grace);
}

std::string SessionLog::Describe(int error)
{
    if (error == EWOULDBLOCK)
        return "in use by another program (only one program may write a log)";
    if (error == NotALog)
        return "a file that is not a session log stands at the path; it is left as it is";
    return std::strerror(error);
}

bool SessionLog::open(const std::string& path, std::string* why)
{
    close();
    failure_.clear();
    int error = 0;
    std::string notALog;
    std::unique_ptr<OutputQueue::Sink> file =
        logfile::open(path, CsvLine(Columns()), &error, &notALog);
    // This program's own writer of the file, let go a moment ago, may still
    // hold it while its last rows leave.
    if (!file && error == EWOULDBLOCK) {
        OutputQueue::Settle(OutputQueue::Clock::now() + OutputQueue::Grace);
        file = logfile::open(path, CsvLine(Columns()), &error, &notALog);
    }
    if (!file) {
        if (why)
            *why = path + ": " +
                   (error == NotALog ? "not a session log (" + notALog + "); it is left as it is"
                                     : Describe(error));
        return false;
    }
    path_ = path;
    queue_ = std::make_unique<OutputQueue>(std::move(file));
    queue_->push(""); // the header of a new file now, not with the first row
    return true;
}

void SessionLog::close()
{
    if (queue_ && !failed())
        queue_.reset();
}

bool SessionLog::write(const std::vector<std::string>& row, RowMeta meta)
{
    if (!queue_ || failed())
        return false;
    meta.sync = meta.sync || mustReachTheDisk(row);
    if (queue_->push(CsvLine(row), std::move(meta)))
        return true;
    failed();
    return false;
}

bool SessionLog::drain(OutputQueue::Clock::time_point deadline)
{
    return !queue_ || queue_->drain(deadline);
}

std::uint64_t SessionLog::mark() const
{
    return queue_ ? queue_->lastPushed() : 0;
}

bool SessionLog::outThrough(std::uint64_t mark)
{
    return !queue_ || mark > queue_->lastPushed() || queue_->outThrough(mark);
}

bool SessionLog::finish(OutputQueue::Clock::time_point deadline)
{
    if (queue_ && !queue_->drain(deadline) && !failed())
        lose(path_ + ": the last rows were still unwritten when the program ended");
    close();
    return !lost_;
}

// Takes in a failure of the queue, if there is one, and closes the log.
bool SessionLog::failed()
{
    if (const int error = queue_->error())
        lose(path_ + ": " + Describe(error));
    else if (queue_->overflowed())
        lose(path_ + ": nobody took the last " + std::to_string(queue_->bound()) +
             " bytes; later rows would have been lost");
    else
        return false;
    queue_.reset();
    return true;
}

void SessionLog::lose(const std::string& why)
{
    failure_ = why;
    lost_ = true;
}

std::string SessionLog::CsvLine(const std::vector<std::string>& row)
{
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i)
        line += (i ? "," : "") + quoted(row[i]);
    return line + "\r\n";
}

} // namespace kora
