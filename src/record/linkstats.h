#pragma once

#include "record/linkplots.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kora {

// How the link has fared since START: polls by outcome, reply times and
// reconnects after a lost device. Reply times go into 0.1 ms bins up to the
// 0.4 s wait, so a session of days keeps the same small footprint and the
// median is exact to a bin.
class LinkStats
{
public:
    using Clock = std::chrono::steady_clock;

    // The timeline's span: the last ten minutes for a live view, or a whole
    // session for a report.
    explicit LinkStats(Timeline timeline = Timeline::LastTenMinutes()) : blank_(timeline) {}

    void start(Clock::time_point now);
    // STOP: the running time stands still until the next start.
    void stop(Clock::time_point now) { stopped_ = now; }
    // outcome as NRFlag: 0 good, 1 no reply, 2 checksum error.
    void addPoll(int outcome, std::optional<Clock::duration> replyTime,
                 Clock::time_point at = Clock::now());
    void deviceLost(Clock::time_point at = Clock::now());
    void addReconnect(Clock::time_point at = Clock::now());

    std::uint64_t polls() const { return good_ + noReply_ + checksum_; }
    std::uint64_t good() const { return good_; }
    std::uint64_t noReply() const { return noReply_; }
    std::uint64_t checksum() const { return checksum_; }
    std::uint64_t reconnects() const { return reconnects_; }
    double successRate() const; // 0 to 1; 0 before the first poll
    std::optional<double> medianReplyMs() const;
    std::optional<double> maxReplyMs() const;
    double runningSeconds(Clock::time_point now) const;
    const ReplyHistogram& histogram() const { return histogram_; }
    const Timeline& timeline() const { return timeline_; }

    // Name and value, in a fixed order, for a log, a window or JSON:
    // polls, good, no_reply, checksum, success_rate, reply_median_ms,
    // reply_max_ms, reconnects, running_s. A reply time that has no value
    // yet is empty.
    std::vector<std::pair<std::string, std::string>> fields(Clock::time_point now) const;
    // "polls 120, good 118, ..." from the fields.
    std::string text(Clock::time_point now) const;

private:
    static constexpr int Bins = 4001; // 0.0 to 400.0 ms, the last also holds anything later
    double sinceStart(Clock::time_point at) const;

    Timeline blank_;
    Timeline timeline_ = blank_;
    ReplyHistogram histogram_;
    std::optional<Clock::time_point> started_;
    std::optional<Clock::time_point> stopped_;
    std::uint64_t good_ = 0, noReply_ = 0, checksum_ = 0, reconnects_ = 0;
    std::vector<std::uint32_t> replyBins_ = std::vector<std::uint32_t>(Bins, 0);
    std::uint64_t replies_ = 0;
    double maxReplyMs_ = 0;
};

} // namespace kora
