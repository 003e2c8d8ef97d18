// Preloaded into a poller, notes what a power cut would leave of its log:
// after each fdatasync of a regular file, the file's size then, written to
// the file KORA_SYNC_NOTE names (by a rename, so that a kill at any moment
// leaves a whole figure). A test cuts the log back to that size. With
// KORA_SYNC_MS, each sync takes that long first: a slow disk.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void noteSize(int fd)
{
    const char* note = std::getenv("KORA_SYNC_NOTE");
    struct stat st = {};
    if (!note || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const std::string part = std::string(note) + ".part";
    const int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        return;
    const std::string size = std::to_string(static_cast<long long>(st.st_size));
    const bool whole = ::write(out, size.data(), size.size()) == ssize_t(size.size());
    ::close(out);
    if (whole)
        std::rename(part.c_str(), note);
}

} // namespace

extern "C" int fdatasync(int fd)
{
    using Sync = int (*)(int);
    static const auto real = reinterpret_cast<Sync>(::dlsym(RTLD_NEXT, "fdatasync"));
    if (const char* ms = std::getenv("KORA_SYNC_MS"))
        ::usleep(static_cast<useconds_t>(std::atoi(ms)) * 1000);
    const int result = real(fd);
    if (result == 0)
        noteSize(fd);
    return result;
}
