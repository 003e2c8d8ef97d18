// The session log's file on POSIX systems.
#include "record/logreader.h"
#include "record/sessionlog.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
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

// A pipe, a FIFO or a terminal has nothing to sync: not a fault of the log.
bool cannotSync(int error)
{
    return error == EINVAL || error == EROFS || error == ENOTSUP || error == EOPNOTSUPP;
}

// The folder's own record of a file just made, so that a power cut leaves
// the file with a name. 0, or the errno of a sync that failed.
int syncFolderOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0; // a folder that cannot be read keeps its files all the same
    const int failed = ::fsync(fd) == 0 || cannotSync(errno) ? 0 : errno;
    ::close(fd);
    return failed;
}

struct Opened
{
    int fd = -1;
    // errno when fd is -1; EWOULDBLOCK: another program writes it;
    // SessionLog::NotALog: its first row is no session log's
    int error = 0;
    std::string notALog; // then why
    struct stat st = {};
    std::string lead; // what the file needs before the next row
};

// Why a file that holds something is not a session log, read from its first
// row as every reader of the log reads it; empty when it is one. Rows
// appended under another program's header would be lost to every reader,
// and that file's own rows mixed with the log's.
std::string notASessionLog(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {}; // read apart; what cannot be read is the writer's to try
    const LogReader reader(in);
    return reader.notALog();
}

// Opened non-blocking, so that a FIFO nobody reads is refused rather than
// waited for; then blocking, so that a reader that falls behind holds up the
// log's own writer, not the rows. A regular file is held with flock, which
// only closing this very descriptor lets go (an fcntl lock goes with any
// descriptor of the file this program closes).
Opened openHeld(const std::string& path, const std::string& header)
{
    Opened o;
    o.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    const int flags = o.fd < 0 ? -1 : ::fcntl(o.fd, F_GETFL);
    if (o.fd < 0 || ::fstat(o.fd, &o.st) != 0 || flags < 0 ||
        (S_ISREG(o.st.st_mode) && ::flock(o.fd, LOCK_EX | LOCK_NB) != 0) ||
        ::fcntl(o.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        o.error = errno;
        if (o.fd >= 0)
            ::close(o.fd);
        o.fd = -1;
        return o;
    }
    const bool regular = S_ISREG(o.st.st_mode);
    if (regular && o.st.st_size > 0)
        o.notALog = notASessionLog(path);
    if (!o.notALog.empty()) {
        ::close(o.fd);
        o.fd = -1;
        o.error = SessionLog::NotALog;
        return o;
    }
    if (!regular || o.st.st_size == 0)
        o.lead = header;
    else if (endsMidRow(path, o.st.st_size))
        o.lead = "\r\n";
    return o;
}

// The log's file as its writer thread keeps it: its own, at its path, and
// on the disk where a row asks to be.
class FollowedFile final : public OutputQueue::Sink
{
public:
    FollowedFile(std::string path, std::string header, Opened o)
        : path_(std::move(path)), header_(std::move(header))
    {
        adopt(o);
    }
    ~FollowedFile() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FollowedFile(const FollowedFile&) = delete;
    FollowedFile& operator=(const FollowedFile&) = delete;

    int write(OutputQueue::Batch& batch) override
    {
        bool reopened = false;
        if (regular_ && replaced()) {
            if (const int failed = reopen())
                return failed;
            lead_ += batch.first.continuation;
            reopened = true;
        }
        batch.text.insert(0, lead_);
        lead_.clear();
        if (const int failed = outputfd::writeAll(fd_, batch.text))
            return failed;
        end_ += static_cast<off_t>(batch.text.size());
        return sync(batch.sync || reopened);
    }

private:
    void adopt(const Opened& o)
    {
        fd_ = o.fd;
        regular_ = S_ISREG(o.st.st_mode);
        device_ = o.st.st_dev;
        inode_ = o.st.st_ino;
        end_ = o.st.st_size;
        lead_ = o.lead;
    }

    // Renamed or removed (another file, or none, at the path) or truncated
    // (shorter than this writer left it): rotated.
    bool replaced() const
    {
        struct stat st = {};
        if (::stat(path_.c_str(), &st) != 0)
            return true;
        return st.st_dev != device_ || st.st_ino != inode_ || st.st_size < end_;
    }

    // Closed first: a truncated file is the same file, and this writer's own
    // lock on it would refuse the new descriptor.
    int reopen()
    {
        ::close(fd_);
        fd_ = -1;
        const Opened o = openHeld(path_, header_);
        if (o.fd < 0)
            return o.error;
        adopt(o);
        return syncFolderOf(path_);
    }

    int sync(bool wanted)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!syncable_ || (!wanted && now - lastSync_ < SessionLog::SyncFloor))
            return 0;
        lastSync_ = now;
        if (::fdatasync(fd_) == 0)
            return 0;
        if (!cannotSync(errno))
            return errno;
        syncable_ = false;
        return 0;
    }

    std::string path_;
    std::string header_;
    int fd_ = -1;
    bool regular_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t end_ = 0;    // the file's size once this writer's last row is in
    std::string lead_; // what the file needs before the next batch
    bool syncable_ = true;
    std::chrono::steady_clock::time_point lastSync_ = std::chrono::steady_clock::now();
};

} // namespace

std::unique_ptr<OutputQueue::Sink> open(const std::string& path, const std::string& header,
                                        int* error, std::string* notALog)
{
    const Opened o = openHeld(path, header);
    if (o.fd < 0) {
        if (error)
            *error = o.error;
        if (notALog)
            *notALog = o.notALog;
        return nullptr;
    }
    // A file just made: its name reaches the disk with its first rows.
    if (S_ISREG(o.st.st_mode) && o.st.st_size == 0)
        syncFolderOf(path);
    return std::make_unique<FollowedFile>(path, header, o);
}

} // namespace kora::logfile
