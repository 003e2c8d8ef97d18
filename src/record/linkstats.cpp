#include "record/linkstats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kora {

namespace {
std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}
} // namespace

void LinkStats::start(Clock::time_point now)
{
    *this = LinkStats{blank_};
    started_ = now;
}

double LinkStats::sinceStart(Clock::time_point at) const
{
    return started_ ? std::chrono::duration<double>(at - *started_).count() : 0.0;
}

void LinkStats::deviceLost(Clock::time_point at)
{
    timeline_.lost(sinceStart(at));
}

void LinkStats::addReconnect(Clock::time_point at)
{
    ++reconnects_;
    timeline_.back(sinceStart(at));
}

void LinkStats::addPoll(int outcome, std::optional<Clock::duration> replyTime, Clock::time_point at)
{
    timeline_.add(sinceStart(at), outcome);
    // A checksum error has a reply but no time worth plotting.
    if (outcome == 1)
        histogram_.add(std::nullopt);
    else if (replyTime)
        histogram_.add(std::chrono::duration<double, std::milli>(*replyTime).count());
    if (outcome == 0)
        ++good_;
    else if (outcome == 2)
        ++checksum_;
    else
        ++noReply_;
    if (!replyTime)
        return;
    const double ms = std::chrono::duration<double, std::milli>(*replyTime).count();
    // Clamped as a double: a time past what an int holds, or not a number, lands in the last bin.
    const double tenths =
        std::isnan(ms) ? Bins - 1.0 : std::clamp(ms * 10.0 + 0.5, 0.0, Bins - 1.0);
    const int bin = static_cast<int>(tenths);
    ++replyBins_[static_cast<std::size_t>(bin)];
    ++replies_;
    maxReplyMs_ = std::max(maxReplyMs_, ms);
}

double LinkStats::successRate() const
{
    return polls() == 0 ? 0.0 : static_cast<double>(good_) / static_cast<double>(polls());
}

std::optional<double> LinkStats::medianReplyMs() const
{
    if (replies_ == 0)
        return std::nullopt;
    const std::uint64_t middle = (replies_ + 1) / 2;
    std::uint64_t seen = 0;
    for (int bin = 0; bin < Bins; ++bin) {
        seen += replyBins_[static_cast<std::size_t>(bin)];
        if (seen >= middle)
            return bin / 10.0;
    }
    return std::nullopt;
}

std::optional<double> LinkStats::maxReplyMs() const
{
    return replies_ == 0 ? std::nullopt : std::optional(maxReplyMs_);
}

double LinkStats::runningSeconds(Clock::time_point now) const
{
    if (!started_)
        return 0.0;
    return std::chrono::duration<double>(stopped_.value_or(now) - *started_).count();
}

std::vector<std::pair<std::string, std::string>> LinkStats::fields(Clock::time_point now) const
{
    const auto ms = [](std::optional<double> v) { return v ? fixed(*v, 1) : std::string(); };
    return {
        {"polls", std::to_string(polls())},           {"good", std::to_string(good_)},
        {"no_reply", std::to_string(noReply_)},       {"checksum", std::to_string(checksum_)},
        {"success_rate", fixed(successRate(), 4)},    {"reply_median_ms", ms(medianReplyMs())},
        {"reply_max_ms", ms(maxReplyMs())},           {"reconnects", std::to_string(reconnects_)},
        {"running_s", fixed(runningSeconds(now), 1)},
    };
}

std::string LinkStats::text(Clock::time_point now) const
{
    std::string text;
    for (const auto& [name, value] : fields(now))
        text += (text.empty() ? "" : ", ") + name + ' ' + (value.empty() ? "-" : value);
    return text;
}

} // namespace kora
