#include "record/outputqueue.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace kora {

namespace {

// The queues destroyed before their writer ended, so that the program's end
// can wait for them and know whether all of their text got out, and a file
// one of them held can be opened again once it is let go.
struct Tally
{
    std::mutex m;
    std::condition_variable settled;
    int busy = 0;
    bool lost = false;
};

// Never destroyed: a writer may still finish while the program exits.
Tally& tally()
{
    static Tally* const t = new Tally;
    return *t;
}

// The queue's text straight to a descriptor.
class FdSink final : public OutputQueue::Sink
{
public:
    FdSink(int fd, bool ownsFd) : fd_(fd), ownsFd_(ownsFd) {}
    ~FdSink() override
    {
        if (ownsFd_)
            outputfd::close(fd_);
    }
    FdSink(const FdSink&) = delete;
    FdSink& operator=(const FdSink&) = delete;
    int write(OutputQueue::Batch& batch) override { return outputfd::writeAll(fd_, batch.text); }

private:
    int fd_ = -1;
    bool ownsFd_ = false;
};

} // namespace

struct OutputQueue::Shared
{
    std::mutex m;
    std::condition_variable wake;    // text queued, or the owner gone
    std::condition_variable written; // the queue emptied, or a write failed
    Batch queued;                    // not yet taken by the writer
    bool pushed = false;             // something queued since the writer last took
    std::uint64_t pushes = 0;        // numbered from 1
    std::uint64_t outThrough = 0;    // every push up to this one is out
    std::size_t inFlight = 0;        // taken, not yet written
    bool writing = false;
    std::unique_ptr<Sink> sink;
    int error = 0;
    bool overflowed = false;
    bool letGo = false;   // the owner is gone
    bool tallied = false; // let go before the writer ended: counted in the tally
    bool done = false;    // the writer has ended

    bool empty() const { return !pushed && !writing; }
    void writeOut();
    void finish(std::unique_lock<std::mutex>& lock);
};

void OutputQueue::Shared::writeOut()
{
    outputfd::blockSignalsInThisThread();
    std::unique_lock lock(m);
    for (;;) {
        wake.wait(lock, [this] { return pushed || letGo; });
        if (!pushed)
            break;
        // All that is waiting leaves in one write: a stalled reader that
        // comes back takes it in as few wake-ups as its pipe allows.
        Batch batch = std::exchange(queued, Batch{});
        const std::uint64_t through = pushes;
        pushed = false;
        inFlight = batch.text.size();
        writing = true;
        lock.unlock();
        const int failed = sink->write(batch);
        lock.lock();
        inFlight = 0;
        writing = false;
        if (!failed)
            outThrough = through;
        if (failed) {
            error = failed;
            queued = {};
            pushed = false;
        }
        written.notify_all();
        if (failed)
            break;
    }
    finish(lock);
}

void OutputQueue::Shared::finish(std::unique_lock<std::mutex>& lock)
{
    done = true;
    written.notify_all();
    const bool wasTallied = tallied;
    const bool lostText = error != 0;
    lock.unlock();
    // Closes the file: only now may another writer have it.
    sink.reset();
    if (!wasTallied)
        return;
    Tally& t = tally();
    const std::lock_guard guard(t.m);
    --t.busy;
    t.lost = t.lost || lostText;
    t.settled.notify_all();
}

std::size_t OutputQueue::DefaultBound()
{
    constexpr std::size_t EightMiB = std::size_t{8} << 20;
    const char* text = std::getenv("KORA_OUTPUT_QUEUE_BYTES");
    if (!text || !*text)
        return EightMiB;
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(text, &end, 10);
    return *end == '\0' && bytes > 0 ? static_cast<std::size_t>(bytes) : EightMiB;
}

OutputQueue::OutputQueue(int fd, bool ownsFd, std::size_t bound)
    : OutputQueue(std::make_unique<FdSink>(fd, ownsFd), bound)
{}

OutputQueue::OutputQueue(std::unique_ptr<Sink> sink, std::size_t bound)
    : shared_(std::make_shared<Shared>()), bound_(bound)
{
    shared_->sink = std::move(sink);
    // Detached from the start: a writer stuck on a reader that never reads
    // must not hold up the program's end.
    std::thread([shared = shared_] { shared->writeOut(); }).detach();
}

OutputQueue::~OutputQueue()
{
    Shared& s = *shared_;
    const std::lock_guard lock(s.m);
    s.letGo = true;
    // Also a writer with nothing left to write: it still holds its file.
    if (!s.done) {
        s.tallied = true;
        Tally& t = tally();
        const std::lock_guard guard(t.m);
        ++t.busy;
    }
    s.wake.notify_one();
}

bool OutputQueue::push(std::string_view text, RowMeta meta)
{
    Shared& s = *shared_;
    const std::lock_guard lock(s.m);
    if (s.error || s.overflowed)
        return false;
    if (s.queued.text.size() + s.inFlight + text.size() > bound_) {
        s.overflowed = true;
        return false;
    }
    Batch& b = s.queued;
    b.sync = b.sync || meta.sync;
    if (!s.pushed)
        b.first = std::move(meta);
    b.text.append(text);
    ++s.pushes;
    s.pushed = true;
    s.wake.notify_one();
    return true;
}

std::uint64_t OutputQueue::lastPushed() const
{
    const std::lock_guard lock(shared_->m);
    return shared_->pushes;
}

bool OutputQueue::outThrough(std::uint64_t number) const
{
    const std::lock_guard lock(shared_->m);
    return shared_->error != 0 || shared_->outThrough >= number;
}

int OutputQueue::error() const
{
    const std::lock_guard lock(shared_->m);
    return shared_->error;
}

bool OutputQueue::overflowed() const
{
    const std::lock_guard lock(shared_->m);
    return shared_->overflowed;
}

bool OutputQueue::drain(Clock::time_point deadline)
{
    Shared& s = *shared_;
    std::unique_lock lock(s.m);
    s.written.wait_until(lock, deadline, [&s] { return s.error || s.empty(); });
    return !s.error && s.empty();
}

bool OutputQueue::Settle(Clock::time_point deadline)
{
    Tally& t = tally();
    std::unique_lock lock(t.m);
    t.settled.wait_until(lock, deadline, [&t] { return t.busy == 0; });
    return t.busy == 0 && !t.lost;
}

} // namespace kora
