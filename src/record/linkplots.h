#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace kora {

// Reply times as the histogram shows them: 0-40 ms in 0.5 ms bins, where a
// healthy link answers, one bin for the rest of the 0.4 s wait, and the
// polls that got no reply. A checksum error has no reply time.
struct ReplyHistogram
{
    static constexpr int FineBins = 80;
    static constexpr double FineBinMs = 0.5;
    static constexpr double FineEndMs = FineBins * FineBinMs; // 40 ms

    std::array<std::uint64_t, FineBins> fine{};
    std::uint64_t slow = 0;     // 40-400 ms
    std::uint64_t timeouts = 0; // no reply

    // A poll's reply time, or none for a poll that got no reply.
    void add(std::optional<double> replyMs);
    std::uint64_t replies() const;
    // The fullest bin of all, the slow one and the time-outs included.
    std::uint64_t tallest() const;
    // The figures in words, for screen readers and the report: "210 replies
    // within 40 ms, most often 11.5-12.0 ms (150); 2 from 40 to 400 ms; 13
    // time-outs".
    std::string describe() const;
};

// One column of the timeline: the polls that ended in it, by outcome, and
// whether the device was away for any of it.
struct TimelineColumn
{
    std::uint32_t good = 0, noReply = 0, checksum = 0;
    bool lost = false;
    std::uint32_t polls() const { return good + noReply + checksum; }
};

// Polls over time in columns of equal width, from a run's START. The live
// view keeps the last few minutes; a report keeps the whole session and
// doubles the column width whenever the session outgrows its columns, so
// memory stays the same however long the session.
class Timeline
{
public:
    enum class Span { Latest, Whole };

    Timeline(double columnSeconds, std::size_t columns, Span span);
    // One column per 10 s over the last 10 minutes.
    static Timeline LastTenMinutes() { return {10.0, 60, Span::Latest}; }

    // Times are seconds since START and never go back.
    void add(double at, int outcome); // outcome as NRFlag: 0 good, 1 no reply, 2 checksum
    void lost(double at);             // the device went away
    void back(double at);             // and came back

    double columnSeconds() const { return width_; }
    // Where the first column begins, in seconds since START.
    double firstSeconds() const { return static_cast<double>(first_) * width_; }
    const std::deque<TimelineColumn>& columns() const { return columns_; }
    // The same polls in at most `most` columns, neighbours merged.
    Timeline fitted(std::size_t most) const;

    // "10 s columns from 0:00 to 1:00: 210 good replies, 13 no replies, 10
    // checksum errors; the device away in 1 column".
    std::string describe() const;

private:
    TimelineColumn& columnAt(double at);
    void mergePairs();

    double width_ = 10.0;
    std::size_t most_ = 60;
    Span span_ = Span::Latest;
    std::int64_t first_ = 0; // index of columns_.front() since START
    std::deque<TimelineColumn> columns_;
    bool away_ = false;
};

} // namespace kora
