#include "record/logrows.h"

#include "record/logevents.h"

#include <charconv>

namespace kora {

namespace {

const char* const SettingChanges[] = {"escrowed bills now ", "escrow mode now ", "poll period now ",
                                      "bills enabled now "};
const char* const RunReasons[] = {"logging begins mid-run", "log continues after rotation"};
constexpr std::string_view CountsSoFar = "; counts so far ";
constexpr std::string_view Continues = ", continues from the log: ";
constexpr std::string_view NoEchoSuffix = ", the acceptor does not echo the bit";
constexpr std::string_view Adapter = "; adapter ";
constexpr std::string_view ReadFrom = "; read from ";

// Takes `word` off the front of `text`; false, leaving it, when it is not there.
bool take(std::string_view& text, std::string_view word)
{
    if (!text.starts_with(word))
        return false;
    text.remove_prefix(word.size());
    return true;
}

// Takes a count off the front of `text`: the digits up to the first other character.
std::optional<long> takeCount(std::string_view& text, long most)
{
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    const auto count = ReadCount(text.substr(0, digits), most);
    if (count)
        text.remove_prefix(digits);
    return count;
}

// "kora232 1.4", "kora232-headless 1.4.0".
bool isProgram(std::string_view part)
{
    if (!take(part, "kora232 ") && !take(part, "kora232-headless "))
        return false;
    if (part.empty() || part.front() < '0' || part.front() > '9')
        return false;
    return part.find_first_not_of("0123456789.") == std::string_view::npos;
}

// "port 1 (": where the first one begins and where its device does.
std::optional<std::pair<std::size_t, std::size_t>> portAt(std::string_view text)
{
    for (std::size_t at = text.find("port "); at != std::string_view::npos;
         at = text.find("port ", at + 1)) {
        const std::size_t digits = at + 5;
        const std::size_t end = text.find_first_not_of("0123456789", digits);
        if (end != digits && end != std::string_view::npos && text.substr(end).starts_with(" ("))
            return std::pair(at, end + 2);
    }
    return std::nullopt;
}

// The device ends at the last ')' that ends the text or a part of it: the
// settings after it hold no parentheses.
std::size_t deviceEnd(std::string_view text, std::size_t from)
{
    for (std::size_t at = text.rfind(')'); at != std::string_view::npos && at >= from;
         at = at ? text.rfind(')', at - 1) : std::string_view::npos)
        if (at + 1 == text.size() || text.substr(at + 1).starts_with(", "))
            return at;
    return std::string_view::npos;
}

// A clause `marker` + value at the end of `text`, taken off it into `value`.
// What does not read back as a value is no such clause (a device path of an
// older row may hold the marker) and stays.
void takeClause(std::string_view& text, std::string_view marker, std::string& value)
{
    const std::size_t at = text.rfind(marker);
    if (at == std::string_view::npos)
        return;
    if (const auto read = ReadClauseValue(text.substr(at + marker.size()))) {
        value = *read;
        text = text.substr(0, at);
    }
}

// "frame 02 0B ..., bit 1", perhaps followed by NoEcho, then by ReadFrom.
bool readContinuation(std::string_view text, StartText& start)
{
    takeClause(text, ReadFrom, start.readFrom);
    start.continuesFrom = std::string(text);
    start.ignoresBit = text.ends_with(NoEchoSuffix);
    if (start.ignoresBit)
        text.remove_suffix(NoEchoSuffix.size());
    constexpr std::size_t HexLength = 11 * 3 - 1;
    if (!take(text, "frame ") || text.size() < HexLength)
        return false;
    start.continuesFrame = ReadGoodFrame(text.substr(0, HexLength));
    text.remove_prefix(HexLength);
    return start.continuesFrame && (text == ", bit 0" || text == ", bit 1");
}

// The settings' parts that the readers use.
void readSettings(StartText& start)
{
    std::string_view rest = start.settings;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(", ");
        const std::string_view part = rest.substr(0, comma);
        if (part == "escrow mode on" || part == "escrow mode off")
            start.escrowMode = part == "escrow mode on";
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
    }
}

} // namespace

std::optional<long> ReadCount(std::string_view text, long most)
{
    long count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (text.empty() || text.front() == '-' || error != std::errc() ||
        end != text.data() + text.size() || count > most)
        return std::nullopt;
    return count;
}

namespace {

bool escaped(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F || std::string_view("%;,()\"").find(c) != std::string_view::npos;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string ClauseValue(std::string_view value)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (escaped(c))
            text += {'%', Digits[u >> 4], Digits[u & 0x0F]};
        else
            text += c;
    }
    return text;
}

std::optional<std::string> ReadClauseValue(std::string_view text)
{
    std::string value;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            if (escaped(text[at]))
                return std::nullopt;
            value += text[at];
            continue;
        }
        const int high = at + 1 < text.size() ? hexValue(text[at + 1]) : -1;
        const int low = at + 2 < text.size() ? hexValue(text[at + 2]) : -1;
        if (high < 0 || low < 0)
            return std::nullopt;
        value += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return value;
}

std::string AdapterClause(std::string_view identity)
{
    return std::string(Adapter) + ClauseValue(identity);
}

std::string ReadFromClause(std::string_view path)
{
    return std::string(ReadFrom) + ClauseValue(path);
}

bool IsSettingChange(std::string_view events)
{
    for (const char* change : SettingChanges)
        if (events.starts_with(change))
            return true;
    return false;
}

bool IsPlanRow(std::string_view events)
{
    return events.starts_with(PlanBegins) || events.starts_with(PlanEnds);
}

std::optional<StartText> ReadStartText(std::string_view text)
{
    StartText start;
    for (const char* reason : RunReasons)
        if (text.starts_with(std::string(reason) + ": ")) {
            start.reason = reason;
            text.remove_prefix(start.reason.size() + 2);
        }
    if (const std::size_t at = text.rfind(CountsSoFar); at != std::string_view::npos) {
        start.countsSoFar = ReadCountsText(text.substr(at + CountsSoFar.size()));
        if (!start.countsSoFar)
            return std::nullopt;
        text = text.substr(0, at);
    }
    takeClause(text, NotContinued, start.notContinued);
    if (const std::size_t at = text.rfind(Continues); at != std::string_view::npos) {
        if (!readContinuation(text.substr(at + Continues.size()), start))
            return std::nullopt;
        text = text.substr(0, at);
    }
    takeClause(text, Adapter, start.adapter);
    if (const auto port = portAt(text)) {
        const std::size_t end = deviceEnd(text, port->second);
        if (end != std::string_view::npos) {
            start.port = std::string(text.substr(port->first + 5, port->second - port->first - 7));
            start.device = std::string(text.substr(port->second, end - port->second));
            text = text.substr(std::min(text.size(), end + 3));
        }
    }
    const std::size_t last = text.rfind(", ");
    const std::string_view program = last == std::string_view::npos ? text : text.substr(last + 2);
    if (isProgram(program)) {
        start.writtenBy = std::string(program);
        text = last == std::string_view::npos ? std::string_view() : text.substr(0, last);
    }
    start.settings = std::string(text);
    readSettings(start);
    return start;
}

std::optional<BillCounts> ReadCountsText(std::string_view text)
{
    BillCounts counts{};
    long sum = 0;
    for (int bill = 1; bill <= 7; ++bill) {
        const std::string name = "bill " + std::to_string(bill) + '=';
        const auto count = take(text, name) ? takeCount(text, MostCounted) : std::nullopt;
        if (!count || !take(text, " "))
            return std::nullopt;
        counts[static_cast<std::size_t>(bill - 1)] = *count;
        sum += *count;
    }
    const auto total = take(text, "total=") ? ReadCount(text, MostTotal) : std::nullopt;
    return total == sum ? std::optional(counts) : std::nullopt;
}

bool ReadStopCounts(std::string_view events, std::optional<BillCounts>& counts)
{
    take(events, "logging ends; ");
    counts.reset();
    if (!events.starts_with("bill 1="))
        return true;
    counts = ReadCountsText(events.substr(0, events.find("; ")));
    return counts.has_value();
}

std::optional<Adjustment> ReadAdjustment(std::string_view text)
{
    Adjustment a;
    if (!take(text, "counter bill ") || text.empty() || text.front() < '1' || text.front() > '7')
        return std::nullopt;
    a.bill = text.front() - '0';
    text.remove_prefix(1);
    const auto to = take(text, " set to ") ? takeCount(text, MostCounted) : std::nullopt;
    const auto from =
        to && take(text, " by the operator (was ") ? takeCount(text, MostCounted) : std::nullopt;
    if (!from || text != ")")
        return std::nullopt;
    a.from = *from, a.to = *to;
    return a;
}

} // namespace kora
