// What a restart's reading of its own log costs: the tail, and, when the
// tail holds no start row, the reading back for the last one.
// Usage: bench_logtail LOG DEVICE [IDENTITY]
#include "record/logtail.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_logtail LOG DEVICE [IDENTITY]\n");
        return 2;
    }
    const kora::LogOwner owner{argv[2], argc > 3 ? argv[3] : ""};
    for (int run = 1; run <= 3; ++run) {
        const auto begin = std::chrono::steady_clock::now();
        std::string why;
        const auto c = kora::ContinuationFromLog(argv[1], owner, &why);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - begin;
        std::printf("run %d: %.1f ms, %s\n", run, took.count(), c ? c->text.c_str() : why.c_str());
    }
    return 0;
}
