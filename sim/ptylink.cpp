#include "ptylink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <random>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace kora::sim {

namespace {

[[noreturn]] void throwErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

termios rawTermios()
{
    termios t{};
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

void setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        throwErrno("fcntl");
}

std::string readLink(const std::string& path)
{
    std::vector<char> buf(4096);
    const ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    return n < 0 ? std::string{} : std::string(buf.data(), static_cast<std::size_t>(n));
}

// The path may be taken over only when it holds nothing of the user's:
// nothing at all, or a symbolic link to a pseudo-terminal or to nothing, as a
// run that crashed leaves behind.
void refuseUnlessFreeToReplace(const std::string& path)
{
    struct stat st
    {};
    if (lstat(path.c_str(), &st) < 0)
        return;
    char* const real = S_ISLNK(st.st_mode) ? realpath(path.c_str(), nullptr) : nullptr;
    const bool dangling = S_ISLNK(st.st_mode) && !real && errno == ENOENT;
    const bool toPty = real && std::string_view(real).starts_with("/dev/pts/");
    std::free(real);
    if (!dangling && !toPty)
        throw std::invalid_argument(path +
                                    " exists and is not a link to a pseudo-terminal; not replaced");
}

// symlink() never replaces an existing name, so a name already taken, by
// whatever, only costs another try with other letters, as in mkstemp.
std::string symlinkUnderFreshName(const std::string& target, const std::string& near)
{
    static constexpr std::string_view letters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::minstd_rand pick(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = near + '.';
        for (int i = 0; i < 6; ++i)
            name += letters[pick() % letters.size()];
        if (::symlink(target.c_str(), name.c_str()) == 0)
            return name;
        if (errno != EEXIST)
            throw std::invalid_argument("cannot make the link " + near + ": " +
                                        std::strerror(errno));
    }
    throw std::invalid_argument("cannot make the link " + near + ": " + std::strerror(EEXIST));
}

} // namespace

PtyLink::PtyLink(std::string device, std::string symlink)
    : device_(std::move(device)), symlink_(std::move(symlink))
{}

PtyLink::~PtyLink()
{
    close();
}

void PtyLink::open()
{
    close();
    if (!symlink_.empty())
        refuseUnlessFreeToReplace(symlink_);
    if (device_.empty())
        openNewPty();
    else
        openDevice();
    try {
        pointSymlink();
    } catch (...) {
        close(); // a line no host can find by its path is no use
        throw;
    }
}

void PtyLink::openNewPty()
{
    termios t = rawTermios();
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, &t, nullptr) < 0)
        throwErrno("openpty");
    fd_ = master;
    slaveFd_ = slave;
    // A program started from this process (a host under test) must not keep
    // either end: a master held there would outlive an unplug, and the host
    // would never see its line hang up.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    // Termios on the master reaches the one shared line discipline; set it
    // there as well in case the slave's settings were not taken.
    tcsetattr(fd_, TCSANOW, &t);
    char name[256] = {};
    path_ = ttyname_r(slave, name, sizeof name) == 0 ? name : "";
    setNonBlocking(fd_);
}

void PtyLink::openDevice()
{
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throwErrno("open " + device_);
    if (!isatty(fd)) {
        // A file or /dev/null reads as always ready and would keep a core busy.
        ::close(fd);
        throw std::invalid_argument(device_ + " is not a terminal");
    }
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        // A real line to an acceptor runs 9600 baud, 7 data bits, even parity.
        cfmakeraw(&t);
        t.c_cflag = (t.c_cflag & ~(CSIZE | CSTOPB | PARODD)) | CS7 | PARENB | CLOCAL | CREAD;
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        tcsetattr(fd, TCSANOW, &t);
    }
    fd_ = fd;
    path_ = device_;
}

void PtyLink::close()
{
    removeSymlink();
    if (fd_ >= 0)
        ::close(fd_);
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    fd_ = -1;
    slaveFd_ = -1;
}

void PtyLink::pointSymlink()
{
    if (symlink_.empty() || path_.empty())
        return;
    // A new link under a temporary name, then a rename, so that the path is
    // never missing or half-made while it moves.
    const std::string fresh = symlinkUnderFreshName(path_, symlink_);
    if (::rename(fresh.c_str(), symlink_.c_str()) < 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        throw std::invalid_argument("cannot make the link " + symlink_ + ": " +
                                    std::strerror(error));
    }
}

void PtyLink::removeSymlink()
{
    // A link left to a closed pty would lead a host to whoever gets that
    // number next; remove it, but only if it is still ours.
    if (!symlink_.empty() && !path_.empty() && readLink(symlink_) == path_)
        ::unlink(symlink_.c_str());
}

} // namespace kora::sim
