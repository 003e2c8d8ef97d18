#include "protocol/sessionlog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// True when the file's last byte ends no row. The log itself is open for
// appending only, so the file is read apart.
bool endsMidRow(const std::string& path, off_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    char last = '\n';
    const bool torn = size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n';
    ::close(fd);
    return torn;
}
} // namespace

const std::vector<std::string>& SessionLog::Columns()
{
    static const std::vector<std::string> columns{"time",  "kind",     "poll",  "outcome", "host",
                                                  "reply", "reply_ms", "flags", "events"};
    return columns;
}

SessionLog::~SessionLog()
{
    close();
}

bool SessionLog::open(const std::string& path, std::string* why)
{
    close();
    failure_.clear();
    // Non-blocking, so that a FIFO nobody reads fails a write instead of
    // stopping the poll that makes it.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (why)
            *why = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    tornRow_ = S_ISREG(st.st_mode) && endsMidRow(path, st.st_size);
    // A device or a pipe has no size to tell; it gets the header with the
    // first row, so that opening it never fails on a write.
    headerDue_ = !S_ISREG(st.st_mode);
    if (S_ISREG(st.st_mode) && st.st_size == 0 && !write(Columns())) {
        if (why)
            *why = failure_;
        return false;
    }
    return true;
}

void SessionLog::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SessionLog::write(const std::vector<std::string>& row)
{
    if (fd_ < 0)
        return false;
    std::string line = CsvLine(row);
    if (headerDue_)
        line.insert(0, CsvLine(Columns()));
    if (tornRow_)
        line.insert(0, "\r\n");
    if (!writeAll(line)) {
        failure_ = path_ + ": " + std::strerror(errno);
        close();
        return false;
    }
    tornRow_ = false;
    headerDue_ = false;
    return true;
}

bool SessionLog::writeAll(const std::string& text)
{
    ssize_t n = -1;
    do
        n = ::write(fd_, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    if (n >= 0 && static_cast<std::size_t>(n) < text.size())
        errno = ENOSPC; // a short write: the disk filled up under it
    return n >= 0 && static_cast<std::size_t>(n) == text.size();
}

std::string SessionLog::CsvLine(const std::vector<std::string>& row)
{
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i)
        line += (i ? "," : "") + quoted(row[i]);
    return line + "\r\n";
}

} // namespace kora
