#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kora::sim {

// Cuts a stream of commands into lines as it comes, in time linear in its
// length and holding at most kLongestLine bytes, whatever the stream holds.
class LineSplitter
{
public:
    static constexpr std::size_t kLongestLine = 4096;
    // So much without a newline, or a NUL byte anywhere, and it is not text.
    static constexpr std::size_t kLongestRun = std::size_t{1} << 20;

    struct Line
    {
        std::size_t number = 0; // from 1
        std::string text;       // of a line too long, its first kLongestLine bytes
        bool tooLong = false;   // given once, when it passes kLongestLine; the rest is skipped
    };
    // Takes one line; returns false to take no more.
    using Sink = std::function<bool(const Line&)>;

    // Returns false once the sink wants no more or the stream is not text.
    bool feed(std::string_view bytes, const Sink& sink);
    // The stream ended: a last line without its newline is a line as well.
    void finish(const Sink& sink);
    bool notText() const { return notText_; }

private:
    bool deliver(const Sink& sink, bool tooLong);

    std::string text_;
    std::size_t run_ = 0; // bytes since the last newline
    std::size_t lines_ = 0;
    bool skipping_ = false;
    bool notText_ = false;
};

} // namespace kora::sim
