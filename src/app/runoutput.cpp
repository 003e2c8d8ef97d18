#include "app/runoutput.h"

#include <cstdio>
#include <string>

namespace kora {

int FinishOutput(JsonLines& lines, SessionLog& log)
{
    const auto deadline = OutputQueue::Clock::now() + OutputQueue::Grace;
    const JsonLines::End before = lines.ended(); // told when it happened
    const bool linesOut = lines.finish(deadline);
    const bool rowsOut = log.finish(deadline);
    if (!linesOut && before == JsonLines::End::No) {
        const std::string why = lines.ended() == JsonLines::End::No
                                    ? "standard output took too long; its last lines are lost"
                                    : lines.endText();
        std::fprintf(stderr, "kora232-headless: %s\n", why.c_str());
    }
    if (!rowsOut)
        std::fprintf(stderr, "kora232-headless: the log is incomplete: %s\n",
                     log.failure().c_str());
    return linesOut && rowsOut ? 0 : 4;
}

} // namespace kora
