#include "record/linkplots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kora {

namespace {

std::string plural(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

std::string clock(double seconds)
{
    const auto s = static_cast<long long>(std::floor(seconds));
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string width(double seconds)
{
    char text[32];
    if (seconds >= 60 && std::fmod(seconds, 60.0) == 0)
        std::snprintf(text, sizeof text, "%g min", seconds / 60);
    else
        std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

} // namespace

void ReplyHistogram::add(std::optional<double> replyMs)
{
    if (!replyMs)
        ++timeouts;
    else if (*replyMs < FineEndMs) // false for a time that is not a number
        ++fine[static_cast<std::size_t>(std::max(0.0, *replyMs) / FineBinMs)];
    else
        ++slow;
}

std::uint64_t ReplyHistogram::replies() const
{
    std::uint64_t n = slow;
    for (const std::uint64_t bin : fine)
        n += bin;
    return n;
}

std::uint64_t ReplyHistogram::tallest() const
{
    return std::max({*std::max_element(fine.begin(), fine.end()), slow, timeouts});
}

std::string ReplyHistogram::describe() const
{
    const std::uint64_t within = replies() - slow;
    std::string text = plural(within, "reply", "replies") + " within 40 ms";
    const auto most = std::max_element(fine.begin(), fine.end());
    if (within > 0) {
        const double from = static_cast<double>(most - fine.begin()) * FineBinMs;
        char bin[64];
        std::snprintf(bin, sizeof bin, ", most often %.1f-%.1f ms (%llu)", from, from + FineBinMs,
                      static_cast<unsigned long long>(*most));
        text += bin;
    }
    return text + "; " + std::to_string(slow) + " from 40 to 400 ms; " +
           plural(timeouts, "time-out", "time-outs");
}

Timeline::Timeline(double columnSeconds, std::size_t columns, Span span)
    : width_(columnSeconds), most_(std::max<std::size_t>(columns, 2)), span_(span)
{}

void Timeline::add(double at, int outcome)
{
    TimelineColumn& column = columnAt(at);
    if (outcome == 0)
        ++column.good;
    else if (outcome == 2)
        ++column.checksum;
    else
        ++column.noReply;
    column.lost = column.lost || away_;
}

void Timeline::lost(double at)
{
    columnAt(at).lost = true; // the columns before it saw the device
    away_ = true;
}

void Timeline::back(double at)
{
    columnAt(at).lost = true;
    away_ = false;
}

// The column that holds `at`, with empty columns up to it; the oldest drop
// out of the latest span, the whole span widens its columns instead.
TimelineColumn& Timeline::columnAt(double at)
{
    auto index = static_cast<std::int64_t>(std::floor(std::max(0.0, at) / width_));
    const auto last = [this] { return first_ + static_cast<std::int64_t>(columns_.size()) - 1; };
    if (span_ == Span::Whole) {
        while (index >= static_cast<std::int64_t>(most_)) {
            mergePairs();
            index = static_cast<std::int64_t>(std::floor(std::max(0.0, at) / width_));
        }
    } else if (columns_.empty() || index - last() >= static_cast<std::int64_t>(most_)) {
        columns_.clear();
        first_ = std::max<std::int64_t>(0, index - static_cast<std::int64_t>(most_) + 1);
    }
    if (index < first_) // a time before the columns kept: the oldest one holds it
        return columns_.empty() ? columns_.emplace_back() : columns_.front();
    while (last() < index) {
        columns_.emplace_back().lost = away_; // no polls while away, but away all the same
        if (columns_.size() > most_)
            columns_.pop_front(), ++first_;
    }
    return columns_[static_cast<std::size_t>(index - first_)];
}

void Timeline::mergePairs()
{
    std::deque<TimelineColumn> merged;
    for (std::size_t i = 0; i < columns_.size(); i += 2) {
        TimelineColumn c = columns_[i];
        if (i + 1 < columns_.size()) {
            const TimelineColumn& d = columns_[i + 1];
            c.good += d.good, c.noReply += d.noReply, c.checksum += d.checksum;
            c.lost = c.lost || d.lost;
        }
        merged.push_back(c);
    }
    columns_ = std::move(merged);
    width_ *= 2;
}

Timeline Timeline::fitted(std::size_t most) const
{
    Timeline fit = *this;
    fit.span_ = Span::Whole;
    fit.most_ = std::max<std::size_t>(most, 2);
    while (fit.first_ == 0 && fit.columns_.size() > fit.most_)
        fit.mergePairs();
    return fit;
}

std::string Timeline::describe() const
{
    TimelineColumn sum;
    std::uint64_t away = 0;
    for (const TimelineColumn& c : columns_) {
        sum.good += c.good, sum.noReply += c.noReply, sum.checksum += c.checksum;
        away += c.lost ? 1 : 0;
    }
    const double end = firstSeconds() + static_cast<double>(columns_.size()) * width_;
    std::string text = width(width_) + " columns from " + clock(firstSeconds()) + " to " +
                       clock(end) + ": " + plural(sum.good, "good reply", "good replies") + ", " +
                       plural(sum.noReply, "no reply", "no replies") + ", " +
                       plural(sum.checksum, "checksum error", "checksum errors");
    if (away > 0)
        text += "; the device away in " + plural(away, "column", "columns");
    return text;
}

} // namespace kora
