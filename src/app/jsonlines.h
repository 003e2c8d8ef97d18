#pragma once

#include "record/outputqueue.h"

#include <string>
#include <string_view>

namespace kora {

// Text as a JSON string, quotes included: quotes, backslashes and control
// bytes escaped, everything else (UTF-8) as it is.
std::string JsonString(std::string_view text);

// One JSON object, its members in the order they are added. Each kind of
// value has its own name, so that a literal never picks the wrong one (a
// string literal would otherwise become a bool).
class JsonObject
{
public:
    JsonObject& text(std::string_view name, std::string_view value);
    JsonObject& number(std::string_view name, long long value);
    JsonObject& flag(std::string_view name, bool value);
    // A value that is JSON already: an array, an object, a number, null.
    JsonObject& raw(std::string_view name, std::string_view json);

    std::string str() const { return "{" + members_ + "}"; }

private:
    std::string members_;
};

// JSON objects for a file descriptor, one line each, queued as soon as each
// is made and written out as the descriptor takes them, so that a reader sees
// every event at once and a reader that stalls never holds up the caller.
class JsonLines
{
public:
    enum class End {
        No,         // the lines go on
        ReaderGone, // the reader went away: a pipe without one, a terminal hung up
        Failed,     // a write failed otherwise: a full disk, a device error
        Overflow,   // the reader fell a whole queue behind: lines would be lost
    };

    explicit JsonLines(int fd) : fd_(fd), queue_(fd, false) {}

    // Queues the line; never waits. False once the lines cannot go on.
    bool write(const JsonObject& object);
    // Whether, and why, the lines cannot go on. Never blocks; also notices a
    // reader gone while nothing was being written.
    End ended();
    // What the end is, in words, for standard error.
    std::string endText();
    // Waits until every line queued is out, or the deadline. True when all
    // of them are, or nobody reads them any more.
    bool finish(OutputQueue::Clock::time_point deadline);

private:
    int fd_;
    OutputQueue queue_;
    bool readerGone_ = false;
};

} // namespace kora
