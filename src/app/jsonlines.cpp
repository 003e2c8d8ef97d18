#include "app/jsonlines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace kora {

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json)
{
    if (!members_.empty())
        members_ += ',';
    members_ += JsonString(name);
    members_ += ':';
    members_ += json;
    return *this;
}

JsonObject& JsonObject::text(std::string_view name, std::string_view value)
{
    return raw(name, JsonString(value));
}

JsonObject& JsonObject::number(std::string_view name, long long value)
{
    return raw(name, std::to_string(value));
}

JsonObject& JsonObject::flag(std::string_view name, bool value)
{
    return raw(name, value ? "true" : "false");
}

bool JsonLines::write(const JsonObject& object)
{
    return queue_.push(object.str() + '\n');
}

JsonLines::End JsonLines::ended()
{
    if (const int error = queue_.error())
        // EIO: the terminal the lines went to has hung up.
        return error == EPIPE || error == EIO ? End::ReaderGone : End::Failed;
    if (queue_.overflowed())
        return End::Overflow;
    // No event asked for: poll still reports an error (a pipe without a
    // reader), a hang-up (a terminal gone) and a descriptor that is not open.
    pollfd p{fd_, 0, 0};
    if (!readerGone_ && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
        readerGone_ = true;
    return readerGone_ ? End::ReaderGone : End::No;
}

std::string JsonLines::endText()
{
    switch (ended()) {
    case End::No:
        break;
    case End::ReaderGone:
        return "standard output closed";
    case End::Failed:
        return std::string("cannot write to standard output: ") + std::strerror(queue_.error());
    case End::Overflow:
        return "nobody took the last " + std::to_string(queue_.bound()) +
               " bytes of standard output; lines would have been lost";
    }
    return {};
}

bool JsonLines::finish(OutputQueue::Clock::time_point deadline)
{
    const bool allOut = queue_.drain(deadline);
    const End end = ended();
    return end == End::ReaderGone || (allOut && end == End::No);
}

} // namespace kora
