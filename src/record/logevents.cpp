#include "record/logevents.h"

#include "protocol/billcycles.h"
#include "protocol/reply.h"
#include "record/logreader.h"
#include "record/pollreport.h"

#include <algorithm>
#include <charconv>

namespace kora {

namespace {

constexpr std::string_view Before = "frame before the host message ";
constexpr std::string_view OtherBit = "frame with the other bit ";
constexpr std::string_view AtStop = "frame read at the stop ";
constexpr std::string_view Lost = "device lost: ";
constexpr std::string_view Back = "reconnected";

constexpr std::string_view NoEcho = "the acceptor does not echo";
constexpr std::string_view ClockSet = "wall clock set by ";

// How each part of a row's events begins. Parts are joined with ", ", which
// some parts hold too ("bill 3 stacked, counted, count 1, total 1"), so a
// piece that does not begin as a part begins belongs to the part before it.
const std::string_view PartBeginnings[] = {Before,
                                           OtherBit,
                                           AtStop,
                                           "bill ",
                                           "a bill ",
                                           "stacked with no credit",
                                           NoEcho,
                                           "stack order sent",
                                           "return order sent",
                                           Lost,
                                           Back,
                                           ClockSet,
                                           "escrowed bills now "};

std::vector<std::string_view> eventParts(std::string_view events)
{
    std::vector<std::string_view> parts;
    for (std::size_t from = 0; !events.empty();) {
        const std::size_t comma = events.find(", ", from);
        const std::string_view piece = events.substr(from, comma - from);
        const bool begins = std::any_of(std::begin(PartBeginnings), std::end(PartBeginnings),
                                        [&](std::string_view b) { return piece.starts_with(b); });
        if (begins || parts.empty())
            parts.push_back(piece);
        else // the part before grows over this piece: both lie in `events`
            parts.back() = std::string_view(
                parts.back().data(),
                static_cast<std::size_t>(piece.data() + piece.size() - parts.back().data()));
        if (comma == std::string_view::npos)
            break;
        from = comma + 2;
    }
    return parts;
}

// A bill's cycle in words says "after 3.2 s"; a verdict never does.
bool isVerdict(std::string_view part)
{
    return (part.starts_with("bill ") || part.starts_with("stacked with no credit")) &&
           !IsCycleText(std::string(part));
}

// "frame ... 02 0B ... 7B: bill 3 stacked, counted, count 1, total 1".
std::optional<LoggedFrame> readLoggedFrame(std::string_view part)
{
    constexpr std::size_t HexLength = 11 * 3 - 1;
    const auto bytes =
        part.size() >= HexLength ? ReadGoodFrame(part.substr(0, HexLength)) : std::nullopt;
    if (!bytes || part.substr(HexLength, 2) != ": ")
        return std::nullopt;
    const auto count = ReadFrameDid(std::string(part.substr(HexLength + 2)));
    if (!count)
        return std::nullopt;
    return LoggedFrame{*bytes, *count};
}

} // namespace

std::optional<ReplyFrame> ReadGoodFrame(std::string_view hex)
{
    const auto bytes = ReadHexBytes(hex, 11);
    if (!bytes)
        return std::nullopt;
    ReplyFrame frame;
    std::copy(bytes->begin(), bytes->end(), frame.raw().begin());
    return GoodFrame(frame) ? std::optional(frame) : std::nullopt;
}

bool PollParts::endsLost() const
{
    return !link.empty() && link.back() != Back;
}

bool PollParts::reconnected() const
{
    return std::find(link.begin(), link.end(), Back) != link.end();
}

std::string ClockStepText(std::chrono::milliseconds step)
{
    return std::string(ClockSet) + std::to_string(step.count()) + " ms";
}

namespace {
// "-3600123 ms" after ClockSet: a step, never 0.
std::optional<std::chrono::milliseconds> readClockStep(std::string_view text)
{
    long long ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc() || ms == 0 ||
        std::string_view(end, text.data() + text.size()) != " ms")
        return std::nullopt;
    return std::chrono::milliseconds(ms);
}
} // namespace

std::optional<PollParts> ReadPollEvents(std::string_view events)
{
    PollParts parts;
    for (const std::string_view part : eventParts(events)) {
        if (part.starts_with(Before) || part.starts_with(OtherBit) || part.starts_with(AtStop)) {
            // A frame a stop read had no host message after it; it stands
            // where a frame before the next one would.
            const bool early = !part.starts_with(OtherBit);
            const std::string_view place = part.starts_with(Before)   ? Before
                                           : part.starts_with(AtStop) ? AtStop
                                                                      : OtherBit;
            const auto frame = readLoggedFrame(part.substr(place.size()));
            if (!frame)
                return std::nullopt;
            (early ? parts.early : parts.otherBit).push_back(*frame);
        } else if (part.starts_with(Lost) || part == Back) {
            parts.link.emplace_back(part);
        } else if (part.starts_with(ClockSet)) {
            const auto step = readClockStep(part.substr(ClockSet.size()));
            if (!step)
                return std::nullopt;
            parts.clockStep += *step;
        } else if (part.starts_with(NoEcho)) {
            parts.bitEchoMissing = true;
        } else if (isVerdict(part)) {
            parts.answer = ReadFrameDid(std::string(part));
            if (!parts.answer || parts.answer->reason == CountReason::NotStacked)
                return std::nullopt;
        }
    }
    return parts;
}

} // namespace kora
