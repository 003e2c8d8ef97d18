#include "app/runoutput.h"

#include "app/sayline.h"

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
        Say(Priority::Error, why);
    }
    if (!rowsOut)
        Say(Priority::Error, "the log is incomplete: " + log.failure());
    return linesOut && rowsOut ? 0 : 4;
}

} // namespace kora
