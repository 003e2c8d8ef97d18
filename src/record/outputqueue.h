#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kora {

// Text bound for a file descriptor, written out by a thread of its own as the
// descriptor takes it, so that whoever makes the text never waits on a slow
// or stalled reader: a pipe nobody empties, a terminal paused with Ctrl-S.
// The queue is bounded; text that would pass the bound is refused rather
// than kept without end. The descriptor's own flags are left alone (standard
// output is shared with the shell that started the program).
class OutputQueue
{
public:
    using Clock = std::chrono::steady_clock;
    // How long an end waits for output: a reader that takes longer has
    // stalled, and the program must end all the same.
    static constexpr std::chrono::seconds Grace{1};

    // 8 MiB, or KORA_OUTPUT_QUEUE_BYTES when it is set to a number of bytes.
    static std::size_t DefaultBound();

    // `ownsFd`: the descriptor is closed once everything queued is out.
    OutputQueue(int fd, bool ownsFd, std::size_t bound = DefaultBound());
    // What is still queued goes on being written in the background, and
    // Settle() waits for it.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Queues the text; never waits. False when it cannot go out: a write has
    // failed, or the queue would pass its bound (it refuses all text from
    // then on, and what it holds still goes out).
    bool push(std::string_view text);

    // The errno of the write that failed, 0 while none has.
    int error() const;
    bool overflowed() const;
    std::size_t bound() const { return bound_; }

    // Waits until all text queued so far is written, a write fails or the
    // deadline passes. True when all of it is out.
    bool drain(Clock::time_point deadline);

    // Waits, until the deadline at most, for the text of queues already
    // destroyed. True when all of it got out.
    static bool Settle(Clock::time_point deadline);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::size_t bound_ = 0;
};

// The raw system calls the queue's thread makes, one file per system.
namespace outputfd {
// Writes all of `text`, waiting for the descriptor as long as it takes.
// Gives 0, or the errno of the write that failed.
int writeAll(int fd, std::string_view text);
void close(int fd);
// Leaves the signals the program handles to its main thread.
void blockSignalsInThisThread();
} // namespace outputfd

} // namespace kora
