#include "acceptorserver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace kora::sim {

namespace {

// Sleeps to an absolute point on the monotonic clock that steady_clock reads,
// so that a run of paced bytes does not drift by the sum of its wake-up lags.
void sleepUntil(std::chrono::steady_clock::time_point when)
{
    const auto since = when.time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(secs.count());
    ts.tv_nsec = static_cast<long>(std::chrono::nanoseconds(since - secs).count());
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

void writeAll(int fd, const std::uint8_t* bytes, std::size_t count)
{
    // A host that stopped reading fills the line's buffer; what does not fit
    // is lost, as it would be on a real line.
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

} // namespace

AcceptorServer::AcceptorServer(ServerOptions options)
    : log_(std::move(options.log)), deviceLost_(std::move(options.deviceLost)),
      replay_(std::move(options.replay)), notice_(std::move(options.notice)),
      link_(options.device, options.symlink), model_(options.stepTime)
{
    if (options.lastExchange)
        model_.resume(*options.lastExchange);
    link_.open();
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    thread_ = std::thread([this] { run(); });
}

AcceptorServer::~AcceptorServer()
{
    stop();
    ::close(wakeFd_);
}

void AcceptorServer::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    wake();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

bool AcceptorServer::stopped() const
{
    std::lock_guard lock(mutex_);
    return stopping_;
}

void AcceptorServer::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void AcceptorServer::run()
{
    for (;;) {
        runTasks();
        int timeoutMs = -1;
        int fd = -1;
        std::vector<std::string> logLines;
        {
            std::unique_lock lock(mutex_);
            if (stopping_) {
                lock.unlock();
                runTasks(); // any posted before the stop still wait for an answer
                return;
            }
            relinkIfDue(logLines);
            fd = link_.fd();
            if (const auto next = nextDue(); next != Clock::time_point::max())
                timeoutMs = static_cast<int>(std::max<long long>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count()));
        }
        writeLog(logLines);
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        ::poll(fds, 2, timeoutMs);
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        bool hungUp = fds[1].revents & (POLLHUP | POLLERR | POLLNVAL);
        if (fds[1].revents & POLLIN) {
            logLines.clear();
            hungUp = !onInput(logLines);
            writeLog(logLines);
            tellNotices();
        }
        if (hungUp && link_.servesDevice()) {
            endOnLostDevice();
            return;
        }
        if (hungUp)
            ::poll(fds, 1, 100); // look again now and then, not in a spin
        sendDue();
    }
}

void AcceptorServer::runTasks()
{
    std::unique_lock lock(mutex_);
    while (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        task();
    }
}

// Returns false when the line hung up or failed.
bool AcceptorServer::onInput(std::vector<std::string>& logLines)
{
    std::uint8_t buf[512];
    const ssize_t n = ::read(link_.fd(), buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (n <= 0)
        return false;
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    const auto dropped = reader_.discardedBytes();
    const auto messages =
        reader_.feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
    counters_.discardedBytes = reader_.discardedBytes();
    counters_.rejectedFrames = reader_.rejectedFrames();
    if (log_ && reader_.discardedBytes() != dropped)
        logLines.push_back(stamp(now) + "skipped " +
                           std::to_string(reader_.discardedBytes() - dropped) + " byte(s)");
    for (const HostMessage& m : messages) {
        if (!faults_.takeDeaf()) {
            answer(m, now, logLines);
            continue;
        }
        ++counters_.unheard;
        if (log_)
            logLines.push_back(stamp(now) + "host " + hexText(m.bytes) + " | unheard (deaf)");
    }
    return true;
}

// A device that is gone does not come back by itself, unlike a pty of our
// own, and polling it would only spin: the run ends.
void AcceptorServer::endOnLostDevice()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    if (deviceLost_)
        deviceLost_(link_.path() + " hung up");
    runTasks(); // any posted before the stop still wait for an answer
}

void AcceptorServer::answer(const HostMessage& message, Clock::time_point now,
                            std::vector<std::string>& logLines)
{
    advanceModel(now);
    // The acceptor takes every message in, also under a replay, so that it
    // carries on from where the replay leaves it.
    const AcceptorModel::Answer a = model_.answer(message);
    ++counters_.messages;
    if (replay_ && replayAnswer(message, now, logLines))
        return;
    if (a.repeated)
        ++counters_.repeats;
    const bool silent = faults_.silentAt(now);
    if (log_)
        logLines.push_back(stamp(now) + "host " + hexText(message.bytes) +
                           (silent ? " | no reply" : " | reply " + hexText(a.reply)) +
                           (a.repeated ? " (repeat)" : "") + " | " + replyText(a.reply) + " | " +
                           faults_.text(now));
    if (silent) {
        ++counters_.silenced;
        return;
    }
    // Built now, sent when due: a late reply to a stack order still tells
    // what the acceptor saw when the order came.
    const Ms work = model_.queue() && message.stackOrder() ? kStackOrderReplyTime : Ms{0};
    // Never ahead of a reply still waiting, nor its noise ahead of that.
    const auto due =
        std::max(now + work + faults_.takeDelay(), outgoing_.empty() ? now : outgoing_.back().due);
    outgoing_.push_back(
        {due, shapeReply(a.reply, faults_, noise_), faults_.paced, true, now, work});
    scheduleNoiseAfter(due);
}

void AcceptorServer::scheduleNoiseAfter(Clock::time_point due)
{
    if (faults_.noiseBytes > 0 && ++repliesSinceNoise_ >= faults_.noiseEvery) {
        repliesSinceNoise_ = 0;
        scheduleNoise(due);
    }
}

void AcceptorServer::scheduleNoise(Clock::time_point after)
{
    // A random moment up to 120 ms on, so that some bursts find the host idle
    // and some find it waiting for its next reply.
    Transmission burst{after + Ms{noise_() % 121}, {}, faults_.paced, false};
    for (int i = 0; i < faults_.noiseBytes; ++i)
        burst.bytes.push_back(static_cast<std::uint8_t>(noise_() & 0x7F));
    const auto at =
        std::upper_bound(bursts_.begin(), bursts_.end(), burst.due,
                         [](Clock::time_point due, const Transmission& t) { return due < t.due; });
    bursts_.insert(at, std::move(burst));
}

AcceptorServer::Clock::time_point AcceptorServer::nextDue() const
{
    auto next = Clock::time_point::max();
    if (!outgoing_.empty())
        next = outgoing_.front().due;
    if (!bursts_.empty())
        next = std::min(next, bursts_.front().due);
    if (faults_.unpluggedUntil != Clock::time_point{})
        next = std::min(next, faults_.unpluggedUntil);
    return next;
}

void AcceptorServer::sendDue()
{
    for (;;) {
        Transmission t;
        {
            std::lock_guard lock(mutex_);
            const auto now = Clock::now();
            std::deque<Transmission>* from = nullptr;
            if (!outgoing_.empty() && outgoing_.front().due <= now)
                from = &outgoing_;
            // A reply goes first when both are due at once, so noise never
            // lands ahead of the reply it follows.
            if (!bursts_.empty() && bursts_.front().due <= now &&
                (!from || bursts_.front().due < from->front().due))
                from = &bursts_;
            if (!from)
                return;
            t = std::move(from->front());
            from->pop_front();
        }
        transmit(t);
    }
}

// Runs on the server's thread only, which alone opens and closes the link, so
// the descriptor stays valid while the bytes go out.
void AcceptorServer::transmit(const Transmission& t)
{
    const int fd = link_.fd();
    if (fd < 0 || t.bytes.empty())
        return;
    const std::size_t last = t.bytes.size() - 1;
    if (t.paced) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < last; ++i) {
            sleepUntil(start + kByteTime * static_cast<long>(i + 1));
            writeAll(fd, &t.bytes[i], 1);
        }
        sleepUntil(start + kByteTime * static_cast<long>(last + 1));
    } else {
        writeAll(fd, t.bytes.data(), last);
    }
    if (!t.reply) {
        writeAll(fd, &t.bytes[last], 1);
        return;
    }
    // Stamped and counted before the final byte leaves, so that a host that
    // already holds the whole reply never reads an older time or count.
    std::lock_guard lock(mutex_);
    lastReplyEnd_ = Clock::now();
    ++counters_.replies;
    writeAll(fd, &t.bytes[last], 1);
}

void AcceptorServer::advanceModel(Clock::time_point now) const
{
    const auto elapsed = std::chrono::floor<Ms>(now - origin_);
    model_.advance(elapsed - model_.now());
}

void AcceptorServer::writeLog(const std::vector<std::string>& lines) const
{
    if (log_)
        for (const std::string& line : lines)
            log_(line);
}

std::string AcceptorServer::stamp(Clock::time_point now) const
{
    char text[32];
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now - origin_).count();
    std::snprintf(text, sizeof text, "%10.3f ", static_cast<double>(us) / 1000.0);
    return text;
}

void AcceptorServer::onLinkThread(std::function<void()> task)
{
    std::packaged_task<void()> job(std::move(task));
    auto done = job.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            job();
            return done.get();
        }
        tasks_.push_back(std::move(job));
    }
    wake();
    done.get();
}

// On the server's thread, under the lock.
void AcceptorServer::dropLink()
{
    link_.close();
    outgoing_.clear();
    bursts_.clear();
    reader_.reset();
    faults_.unpluggedUntil = {};
}

void AcceptorServer::relinkIfDue(std::vector<std::string>& logLines)
{
    const auto now = Clock::now();
    if (faults_.unpluggedUntil == Clock::time_point{} || faults_.unpluggedUntil > now)
        return;
    try {
        dropLink();
        link_.open();
        logLines.push_back(stamp(now) + "plugged in again: " + link_.path());
    } catch (const std::exception& e) {
        // Out of pseudo-terminals or a device still away: try again shortly.
        faults_.unpluggedUntil = now + std::chrono::seconds(1);
        logLines.push_back(stamp(now) + "cannot plug in again: " + e.what());
    }
}

void AcceptorServer::closeLink()
{
    onLinkThread([this] { dropLink(); });
}

std::string AcceptorServer::reopenLink()
{
    onLinkThread([this] {
        dropLink();
        link_.open();
    });
    return devicePath();
}

void AcceptorServer::unplugFor(Ms duration)
{
    onLinkThread([this, duration] {
        dropLink();
        faults_.unpluggedUntil = Clock::now() + duration;
    });
}

bool AcceptorServer::linkOpen() const
{
    std::lock_guard lock(mutex_);
    return link_.isOpen();
}

std::string AcceptorServer::devicePath() const
{
    std::lock_guard lock(mutex_);
    return link_.isOpen() ? link_.path() : std::string{};
}

std::string AcceptorServer::symlinkPath() const
{
    return link_.symlinkPath(); // fixed at construction
}

} // namespace kora::sim
