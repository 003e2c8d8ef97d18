// The output queue's system calls on POSIX systems.
#include "record/outputqueue.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace kora::outputfd {

int writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A descriptor that another program made non-blocking: wait for
            // room as a blocking one would. An error shows at the next write.
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, -1);
            continue;
        }
        return n < 0 ? errno : EIO;
    }
    return 0;
}

void close(int fd)
{
    ::close(fd);
}

void blockSignalsInThisThread()
{
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

} // namespace kora::outputfd
