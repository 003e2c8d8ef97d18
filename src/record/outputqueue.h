#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kora {

// What a row asks of the writer beyond its text: that it reach the disk once
// written, and what a new file must begin with, after its header, should the
// writer have to open the file again before this row. Lines that ask nothing
// (standard output's) leave both empty.
struct RowMeta
{
    bool sync = false;
    std::string continuation;
};

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

    // What the writer takes at once: the text of every push since it last
    // took, the meta of the first of them, and whether any asked for sync.
    struct Batch
    {
        std::string text;
        RowMeta first;
        bool sync = false;
    };
    // Where the writer puts each batch, on its thread: a descriptor, or a
    // file that the writer keeps track of. Destroyed on that thread once
    // everything queued is out.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        // 0, or the errno that ends the writing. The batch is the sink's.
        virtual int write(Batch& batch) = 0;
    };

    // `ownsFd`: the descriptor is closed once everything queued is out.
    OutputQueue(int fd, bool ownsFd, std::size_t bound = DefaultBound());
    OutputQueue(std::unique_ptr<Sink> sink, std::size_t bound = DefaultBound());
    // What is still queued goes on being written in the background, and
    // Settle() waits for it.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Queues the text; never waits. False when it cannot go out: a write has
    // failed, or the queue would pass its bound (it refuses all text from
    // then on, and what it holds still goes out). Empty text still wakes the
    // writer, for a sink that has something of its own to write.
    bool push(std::string_view text, RowMeta meta = {});

    // The errno of the write that failed, 0 while none has.
    int error() const;
    bool overflowed() const;
    std::size_t bound() const { return bound_; }

    // Pushes are numbered from 1 in their order: the number of the last one,
    // and whether every push up to `number` is out (written, and synced when
    // one asked); true too once a write has failed, which holds nothing back.
    std::uint64_t lastPushed() const;
    bool outThrough(std::uint64_t number) const;

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
