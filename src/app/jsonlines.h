#pragma once

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

// Writes JSON objects to a file descriptor, one line each, each line in one
// write(2) as soon as it is made, so that a reader sees every event at once.
// Once a write fails (a reader that went away: EPIPE with SIGPIPE ignored)
// nothing more is written.
class JsonLines
{
public:
    explicit JsonLines(int fd) : fd_(fd) {}

    // False when the line could not be written, now or before.
    bool write(const JsonObject& object);
    // True once nobody can read the lines any more: a write failed, or the
    // descriptor reports an error or a hang-up (the reading end of a pipe
    // closed) though nothing was written. Never blocks.
    bool readerGone();

private:
    int fd_;
    bool failed_ = false;
};

} // namespace kora
