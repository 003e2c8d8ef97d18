#include "linesplitter.h"

#include <algorithm>

namespace kora::sim {

bool LineSplitter::feed(std::string_view bytes, const Sink& sink)
{
    while (!notText_ && !bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        std::string_view piece = bytes.substr(0, newline);
        // The bytes ahead of the first sign of binary data still count, so
        // that the lines seen do not depend on how the stream was cut up.
        const std::size_t nul = piece.find('\0');
        const std::size_t runLeft = kLongestRun - 1 - run_;
        const bool binary = nul != std::string_view::npos || piece.size() > runLeft;
        piece = piece.substr(0, std::min(nul, runLeft));
        run_ += piece.size();
        if (!skipping_) {
            const std::size_t lineLeft = kLongestLine - text_.size();
            text_.append(piece.substr(0, lineLeft));
            if (piece.size() > lineLeft) {
                skipping_ = true;
                if (!deliver(sink, true))
                    return false;
            }
        }
        if (binary) {
            notText_ = true;
            break;
        }
        if (newline == std::string_view::npos)
            return true;
        bytes.remove_prefix(newline + 1);
        run_ = 0;
        const bool skipped = skipping_;
        skipping_ = false;
        if (!skipped && !deliver(sink, false))
            return false;
    }
    return !notText_;
}

void LineSplitter::finish(const Sink& sink)
{
    if (!notText_ && !skipping_ && !text_.empty())
        deliver(sink, false);
    text_.clear();
    run_ = 0;
    skipping_ = false;
}

bool LineSplitter::deliver(const Sink& sink, bool tooLong)
{
    Line line{++lines_, std::move(text_), tooLong};
    text_.clear();
    return sink(line);
}

} // namespace kora::sim
