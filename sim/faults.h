#pragma once

#include "framing.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kora::sim {

// One byte on a 9600-baud line: start bit, 7 data bits, parity and stop bit.
constexpr std::chrono::nanoseconds kByteTime{1'041'667};

// Ways the line can misbehave, for tests and demos. Apart from deafness,
// which loses host messages before the acceptor sees them, they act on
// transmission only: the acceptor still takes every message in, and a repeat
// after a spoiled reply brings the good one.
struct Faults
{
    using Clock = std::chrono::steady_clock;

    bool silent = false;
    Clock::time_point silentUntil{}; // silent until then as well
    std::chrono::milliseconds late{0};
    int lateNext = 0; // the next N replies go lateNextBy late, the rest as `late` says
    std::chrono::milliseconds lateNextBy{0};
    int deafNext = 0;     // the next N host messages never reach the acceptor
    int truncate = 0;     // send only the first K bytes (1-10); 0 sends all
    bool corrupt = false; // every reply's checksum wrong
    int corruptNext = 0;  // the next N replies' checksums wrong
    int garbage = 0;      // noise bytes ahead of each reply
    bool paced = true;    // one byte every kByteTime, else all at once
    int noiseBytes = 0;   // a burst of N noise bytes between replies; 0 for none
    int noiseEvery = 0;   // one burst every K replies
    // The line is away until then (a host sees it unplugged); unset when in.
    Clock::time_point unpluggedUntil{};

    bool silentAt(Clock::time_point now) const { return silent || now < silentUntil; }
    // How late the reply about to go out is; counts a `lateNext` reply as used.
    std::chrono::milliseconds takeDelay();
    // True when the host message just in is lost; counts it as used.
    bool takeDeaf();
    // "late 600ms, garbage 3, noise 32 every 5, paced"
    std::string text(Clock::time_point now) const;
};

// The bytes that go on the line for one reply: noise, then the reply cut
// and spoiled as the faults say. Counts a `corruptNext` reply as used.
std::vector<std::uint8_t> shapeReply(const ReplyBytes& reply, Faults& faults,
                                     std::minstd_rand& noise);

} // namespace kora::sim
