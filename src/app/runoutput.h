#pragma once

#include "app/jsonlines.h"
#include "record/sessionlog.h"

namespace kora {

// The end of a headless run's output, once its last line and row are
// queued: the lines and the log get OutputQueue::Grace, together, to get out. Gives
// the exit status: 0 when every line and row got out, or nobody reads the
// lines any more; 4 when not, with the reason on standard error.
int FinishOutput(JsonLines& lines, SessionLog& log);

} // namespace kora
