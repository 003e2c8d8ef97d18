// The session log's file on POSIX systems.
#include "record/sessionlog.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kora::logfile {

namespace {
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

Opened openForAppending(const std::string& path)
{
    Opened opened;
    // Opened non-blocking, so that a FIFO nobody reads is refused rather
    // than waited for; then blocking, so that a reader that falls behind
    // holds up the log's own writer, not the rows.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat st = {};
    const int flags = fd < 0 ? -1 : ::fcntl(fd, F_GETFL);
    if (fd < 0 || ::fstat(fd, &st) != 0 || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        opened.error = errno;
        if (fd >= 0)
            ::close(fd);
        return opened;
    }
    opened.fd = fd;
    opened.wantsHeader = !S_ISREG(st.st_mode) || st.st_size == 0;
    opened.endsMidRow = S_ISREG(st.st_mode) && endsMidRow(path, st.st_size);
    return opened;
}

} // namespace kora::logfile
