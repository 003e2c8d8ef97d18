// Whether an output may replace what stands at its path, on POSIX systems.
#include "record/outputpath.h"

#include <sys/stat.h>

namespace kora {

namespace {

const char* kindOfFile(mode_t mode)
{
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISSOCK(mode))
        return "a socket";
    return nullptr;
}

} // namespace

std::string OutputPathRefusal(const std::string& path, const std::string& log)
{
    // Followed through symbolic links: the file that would be lost is the
    // one they lead to. A path that cannot be looked at is left to the
    // write itself, which says why it fails.
    struct stat out = {};
    if (::stat(path.c_str(), &out) != 0)
        return {};
    const char* nothing = "; nothing was written";
    if (struct stat kept = {}; !log.empty() && ::stat(log.c_str(), &kept) == 0 &&
                               kept.st_dev == out.st_dev && kept.st_ino == out.st_ino)
        return (path == log ? std::string("it is the session log itself")
                            : "it is the session log " + log + " under another name") +
               nothing;
    if (!S_ISREG(out.st_mode)) {
        const char* kind = kindOfFile(out.st_mode);
        return (kind ? std::string("it is ") + kind + ", not a regular file"
                     : std::string("it is not a regular file")) +
               nothing;
    }
    return {};
}

} // namespace kora
