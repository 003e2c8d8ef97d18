// The server answering from a recorded session.
#include "acceptorserver.h"

#include <algorithm>

namespace kora::sim {

namespace {

std::string sentText(const ReplayStep& step, bool silent)
{
    if (step.unplug)
        return "unplugged for " + std::to_string(step.unplug->count()) + "ms";
    if (silent || (step.ahead.empty() && !step.answer))
        return "no reply";
    std::string text;
    if (!step.ahead.empty())
        text += "ahead " + hexText(step.ahead) + " | ";
    text += step.answer ? "reply " + hexText(*step.answer) : std::string("no reply");
    if (!step.behind.empty())
        text += " | behind " + hexText(step.behind);
    return text;
}

} // namespace

// On the server's thread, under the lock. False once the session is over.
bool AcceptorServer::replayAnswer(const HostMessage& message, Clock::time_point now,
                                  std::vector<std::string>& logLines)
{
    const ReplayStep step = replay_->next(message);
    if (!step.notice.empty())
        notices_.push_back(step.notice);
    if (!step.played)
        return false;
    const bool silent = faults_.silentAt(now);
    if (log_)
        logLines.push_back(stamp(now) + "host " + hexText(message.bytes) + " | " +
                           sentText(step, silent) + " | replay " + replay_->progress());
    if (step.unplug) {
        dropLink();
        faults_.unpluggedUntil = now + *step.unplug;
        return true;
    }
    if (silent) {
        ++counters_.silenced;
        return true;
    }
    std::vector<std::uint8_t> bytes = step.ahead;
    if (step.answer) {
        const auto shaped = shapeReply(*step.answer, faults_, noise_);
        bytes.insert(bytes.end(), shaped.begin(), shaped.end());
    }
    if (bytes.empty() && step.behind.empty())
        return true;
    auto due = now + faults_.takeDelay();
    if (step.replyTime) {
        // The recorded time runs to the answer's last byte; pacing takes its share.
        const auto sending = faults_.paced ? kByteTime * static_cast<long>(bytes.size())
                                           : std::chrono::nanoseconds{0};
        due += std::max(std::chrono::nanoseconds{0},
                        std::chrono::nanoseconds(*step.replyTime) - sending);
    }
    due = std::max(due, outgoing_.empty() ? now : outgoing_.back().due);
    if (!bytes.empty())
        outgoing_.push_back({due, std::move(bytes), faults_.paced, step.answer.has_value(), now});
    if (!step.behind.empty())
        outgoing_.push_back({due, step.behind, faults_.paced, false, now});
    if (step.answer)
        scheduleNoiseAfter(due);
    return true;
}

void AcceptorServer::tellNotices()
{
    std::vector<std::string> notices;
    {
        std::lock_guard lock(mutex_);
        notices.swap(notices_);
    }
    if (notice_)
        for (const std::string& line : notices)
            notice_(line);
}

} // namespace kora::sim
