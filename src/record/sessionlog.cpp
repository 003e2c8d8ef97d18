#include "record/sessionlog.h"

#include "record/pollreport.h"

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
} // namespace

const std::vector<std::string>& SessionLog::Columns()
{
    return LogColumnNames();
}

SessionLog::~SessionLog()
{
    finish(OutputQueue::Clock::now() + OutputQueue::Grace);
}

bool SessionLog::open(const std::string& path, std::string* why)
{
    close();
    failure_.clear();
    const logfile::Opened file = logfile::openForAppending(path);
    if (file.fd < 0) {
        if (why)
            *why = path + ": " + std::strerror(file.error);
        return false;
    }
    path_ = path;
    queue_ = std::make_unique<OutputQueue>(file.fd, true);
    if (file.endsMidRow)
        queue_->push("\r\n");
    if (file.wantsHeader)
        queue_->push(CsvLine(Columns()));
    return true;
}

void SessionLog::close()
{
    if (queue_ && !failed())
        queue_.reset();
}

bool SessionLog::write(const std::vector<std::string>& row)
{
    if (!queue_ || failed())
        return false;
    if (queue_->push(CsvLine(row)))
        return true;
    failed();
    return false;
}

bool SessionLog::drain(OutputQueue::Clock::time_point deadline)
{
    return !queue_ || queue_->drain(deadline);
}

bool SessionLog::caughtUp()
{
    return !queue_ || queue_->error() != 0 || queue_->drain(OutputQueue::Clock::now());
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
        lose(path_ + ": " + std::strerror(error));
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
