#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The acceptor's side of the line: host messages in, replies out. Written
// independently of the program's own frame code so that each side checks the
// other.
namespace kora::sim {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::size_t kHostMessageSize = 8;
constexpr std::size_t kReplySize = 11;

// Free bytes 7-9 of every reply: model 'K', revision 1.3.
constexpr std::uint8_t kModel = 0x4B;
constexpr std::uint8_t kRevisionMajor = 0x01;
constexpr std::uint8_t kRevisionMinor = 0x03;

using HostBytes = std::array<std::uint8_t, kHostMessageSize>;
using ReplyBytes = std::array<std::uint8_t, kReplySize>;

// XOR of a run of bytes; both frames check their inner bytes this way.
std::uint8_t xorOf(std::span<const std::uint8_t> bytes);

// One complete host message whose start, length, end and checksum are right.
struct HostMessage
{
    HostBytes bytes{};

    std::uint8_t ack() const { return bytes[2] & 0x01; }
    std::uint8_t enables() const { return bytes[3] & 0x7F; }
    bool billEnabled(int bill) const { return (bytes[3] >> (bill - 1)) & 1; }
    bool escrowMode() const { return bytes[4] & 0x10; }
    bool stackOrder() const { return bytes[4] & 0x20; }
    bool returnOrder() const { return bytes[4] & 0x40; }
    // Bits this acceptor does not know, or orders that contradict each other.
    bool asksTheImpossible() const;
};

// Checks the fixed bytes and the checksum of an 8-byte window.
bool isHostMessage(std::span<const std::uint8_t> window);

// Collects host messages from a byte stream. Anything that is not a whole,
// checked message is dropped, and reading starts again at the next 02 08, so
// line noise or a half-sent message costs at most that message.
class HostMessageReader
{
public:
    // Returns the messages completed by these bytes, in order.
    std::vector<HostMessage> feed(std::span<const std::uint8_t> bytes);
    void reset() { pending_.clear(); }

    std::uint64_t discardedBytes() const { return discarded_; }
    std::uint64_t rejectedFrames() const { return rejected_; }

private:
    void dropUntilNextStart(std::size_t from);

    std::vector<std::uint8_t> pending_;
    std::uint64_t discarded_ = 0;
    std::uint64_t rejected_ = 0;
};

// What one reply reports, before framing.
struct ReplyContent
{
    std::uint8_t state = 0;  // byte 4: one of the state bits
    std::uint8_t events = 0; // byte 5
    std::uint8_t health = 0; // byte 6 bits 0-2: power-up, invalid command, failure
    int credit = 0;          // byte 6 bits 3-5: bill 1-7, 0 for none
};

// 02 0B (20|ack) state events health+credit model revision 03 checksum.
ReplyBytes buildReply(std::uint8_t ack, const ReplyContent& content);

// "02 0B 20 ..." for logs and messages.
std::string hexText(std::span<const std::uint8_t> bytes);

// Eleven bytes written as hexText writes them, or with blanks anywhere
// between whole bytes ("020B2010 ..."); none for anything else. The bytes are
// taken as given, checksum and all, so that a test can hand over any reply.
std::optional<ReplyBytes> parseReplyHex(std::string_view text);

} // namespace kora::sim
