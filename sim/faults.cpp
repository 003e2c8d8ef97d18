#include "faults.h"

namespace kora::sim {

namespace {

std::string msLeft(Faults::Clock::time_point until, Faults::Clock::time_point now)
{
    return std::to_string(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()) + "ms";
}

} // namespace

std::string Faults::text(Clock::time_point now) const
{
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (silent)
        add("silent");
    else if (now < silentUntil)
        add("silent for " + msLeft(silentUntil, now));
    if (lateNext > 0)
        add("late " + std::to_string(lateNextBy.count()) + "ms for " + std::to_string(lateNext) +
            " repl" + (lateNext == 1 ? "y" : "ies"));
    if (late.count() > 0)
        add("late " + std::to_string(late.count()) + "ms");
    if (deafNext > 0)
        add("deaf " + std::to_string(deafNext));
    if (truncate > 0)
        add("truncate " + std::to_string(truncate));
    if (corrupt)
        add("corrupt");
    else if (corruptNext > 0)
        add("corrupt " + std::to_string(corruptNext));
    if (garbage > 0)
        add("garbage " + std::to_string(garbage));
    if (noiseBytes > 0)
        add("noise " + std::to_string(noiseBytes) + " every " + std::to_string(noiseEvery));
    add(paced ? "paced" : "unpaced");
    if (now < unpluggedUntil)
        add("unplugged for " + msLeft(unpluggedUntil, now));
    return text;
}

std::chrono::milliseconds Faults::takeDelay()
{
    if (lateNext == 0)
        return late;
    --lateNext;
    return lateNextBy;
}

bool Faults::takeDeaf()
{
    if (deafNext == 0)
        return false;
    --deafNext;
    return true;
}

std::vector<std::uint8_t> shapeReply(const ReplyBytes& reply, Faults& faults,
                                     std::minstd_rand& noise)
{
    std::vector<std::uint8_t> out;
    for (int i = 0; i < faults.garbage; ++i)
        out.push_back(static_cast<std::uint8_t>(noise() & 0x7F));
    ReplyBytes sent = reply;
    if (faults.corrupt || faults.corruptNext > 0) {
        sent[kReplySize - 1] ^= 0x01;
        if (!faults.corrupt)
            --faults.corruptNext;
    }
    const std::size_t keep = faults.truncate > 0 && faults.truncate < static_cast<int>(kReplySize)
                                 ? static_cast<std::size_t>(faults.truncate)
                                 : kReplySize;
    out.insert(out.end(), sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(keep));
    return out;
}

} // namespace kora::sim
