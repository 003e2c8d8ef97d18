#pragma once

#include <cstdio>
#include <cstdlib>

// What must hold whatever the input: a broken invariant ends the run, which
// libFuzzer reports as a crash with the input that broke it.
inline void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
