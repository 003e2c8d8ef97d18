#include "framing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kora::sim {

std::uint8_t xorOf(std::span<const std::uint8_t> bytes)
{
    std::uint8_t x = 0;
    for (std::uint8_t b : bytes)
        x ^= b;
    return x;
}

bool HostMessage::asksTheImpossible() const
{
    const bool unknownBits = (bytes[3] & 0x80) || (bytes[4] & 0x8F) || bytes[5] != 0;
    return unknownBits || (stackOrder() && returnOrder());
}

bool isHostMessage(std::span<const std::uint8_t> window)
{
    if (window.size() != kHostMessageSize)
        return false;
    const bool framed = window[0] == kStx && window[1] == kHostMessageSize && window[6] == kEtx;
    const bool ackByte = (window[2] & 0xFE) == 0x10;
    return framed && ackByte && xorOf(window.subspan(1, 5)) == window[7];
}

std::vector<HostMessage> HostMessageReader::feed(std::span<const std::uint8_t> bytes)
{
    std::vector<HostMessage> done;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    dropUntilNextStart(0);
    while (pending_.size() >= kHostMessageSize) {
        const std::span<const std::uint8_t> window(pending_.data(), kHostMessageSize);
        if (isHostMessage(window)) {
            HostMessage m;
            std::copy(window.begin(), window.end(), m.bytes.begin());
            done.push_back(m);
            pending_.erase(pending_.begin(), pending_.begin() + kHostMessageSize);
            dropUntilNextStart(0);
        } else {
            ++rejected_;
            dropUntilNextStart(1);
        }
    }
    return done;
}

// Keeps pending_ from the first 02 08 at or after `from`; a lone 02 at the very
// end is kept too, since its 08 may be on the way.
void HostMessageReader::dropUntilNextStart(std::size_t from)
{
    std::size_t i = from;
    for (; i < pending_.size(); ++i) {
        if (pending_[i] != kStx)
            continue;
        if (i + 1 == pending_.size() || pending_[i + 1] == kHostMessageSize)
            break;
    }
    discarded_ += i;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
}

ReplyBytes buildReply(std::uint8_t ack, const ReplyContent& content)
{
    ReplyBytes r{};
    r[0] = kStx;
    r[1] = kReplySize;
    r[2] = static_cast<std::uint8_t>(0x20 | (ack & 0x01));
    r[3] = content.state & 0x7F;
    r[4] = content.events & 0x1F;
    r[5] = static_cast<std::uint8_t>((content.health & 0x07) | ((content.credit & 0x07) << 3));
    r[6] = kModel;
    r[7] = kRevisionMajor;
    r[8] = kRevisionMinor;
    r[9] = kEtx;
    r[10] = xorOf(std::span<const std::uint8_t>(r).subspan(1, 8));
    return r;
}

std::string hexText(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char two[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        if (!text.empty())
            text += ' ';
        text += two;
    }
    return text;
}

std::optional<ReplyBytes> parseReplyHex(std::string_view text)
{
    ReplyBytes bytes{};
    std::size_t count = 0;
    std::size_t at = 0;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (at < text.size()) {
        if (blank(text[at])) {
            ++at;
            continue;
        }
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(
            text.data() + at, text.data() + std::min(at + 2, text.size()), value, 16);
        if (ec != std::errc{} || end != text.data() + at + 2 || count == kReplySize)
            return std::nullopt;
        bytes[count++] = static_cast<std::uint8_t>(value);
        at += 2;
    }
    if (count != kReplySize)
        return std::nullopt;
    return bytes;
}

} // namespace kora::sim
