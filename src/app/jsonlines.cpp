#include "app/jsonlines.h"

#include <cerrno>
#include <cstdio>
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
    if (failed_)
        return false;
    const std::string line = object.str() + '\n';
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool JsonLines::readerGone()
{
    if (failed_)
        return true;
    // No event asked for: poll still reports an error (a pipe without a
    // reader), a hang-up (a terminal gone) and a descriptor that is not open.
    pollfd p{fd_, 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
        failed_ = true;
    return failed_;
}

} // namespace kora
