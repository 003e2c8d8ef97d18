// Arbitrary bytes as a session log replayed by the simulated acceptor, in
// process: refused before it plays, or played to its end with every wait
// within the bound and every answer a whole reply.
#include "invariant.h"
#include "replay.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace kora::sim;

namespace {

std::string path;

HostMessage message(std::uint8_t ack)
{
    HostMessage m;
    m.bytes = {0x02, 0x08, static_cast<std::uint8_t>(0x10 | ack), 0x7F, 0x10, 0x00, 0x03, 0};
    m.bytes[7] = xorOf(std::span<const std::uint8_t>(m.bytes).subspan(1, 5));
    return m;
}

void check(const ReplayStep& step)
{
    if (step.unplug)
        require(*step.unplug >= std::chrono::milliseconds{0} && *step.unplug <= Replay::LongestWait,
                "an outage within the bound");
    if (step.replyTime)
        require(*step.replyTime >= std::chrono::microseconds{0} &&
                    *step.replyTime <= Replay::LongestWait,
                "a reply's delay within the bound");
    require(step.ahead.size() % kReplySize == 0 && step.behind.size() % kReplySize == 0,
            "frames sent whole");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir ? dir : "/tmp") + "/fuzz_replay." + std::to_string(getpid()) + ".csv";
    std::atexit([] { std::remove(path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    ReplayOptions options;
    options.path = path;
    options.loop = size % 2 == 1;
    options.timing = size % 4 >= 2;
    try {
        Replay replay(options);
        replay.badRows();
        replay.waitsCut();
        for (int n = 0; n < 100; ++n) {
            const ReplayStep step = replay.next(message(static_cast<std::uint8_t>(n % 2)));
            check(step);
            require(!replay.progress().empty(), "progress in words");
            if (!step.played)
                break;
        }
    } catch (const std::invalid_argument&) { // refused before it plays
    }
    return 0;
}
