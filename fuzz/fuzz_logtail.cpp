// Arbitrary bytes as the end of a session log, read as a poller restarting
// on its device reads it, whole and cut at a point within: what it gives to
// carry on from is a good frame and a bit. The same bytes as a file name
// and an adapter's identity read back from the start row that names them.
#include "invariant.h"
#include "protocol/reply.h"
#include "record/logrows.h"
#include "record/logtail.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace kora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::size_t bound : {LogTailBytes, size / 2 + 1}) {
        std::istringstream in(text);
        std::string why;
        const auto c =
            ContinuationFromStream(in, LogOwner{"/dev/ttyUSB0", "/dev/ttyUSB0"}, &why, bound);
        require(c.has_value() == why.empty(), "a reason when there is nothing to carry on from");
        if (!c)
            continue;
        require(GoodFrame(c->lastFrame), "the last frame is a good one");
        require(c->nextBit <= 1 && (c->escrowAtReport == 0 || c->escrowAtReport == 1),
                "a bit and an escrow mode");
        require(c->text.rfind("frame ", 0) == 0, "the text names the frame");
    }
    const auto start =
        ReadStartText("port 1 (/dev/ttyUSB0), 9600, E, 7, 1, kora232 1.5.0" + AdapterClause(text) +
                      ", continues from the log: frame 02 0B 20 01 10 00 4B 01 "
                      "03 03 73, bit 1" +
                      ReadFromClause(text));
    require(start && start->adapter == text && start->readFrom == text &&
                start->device == "/dev/ttyUSB0",
            "a name and an identity read back whatever they hold");
    return 0;
}
