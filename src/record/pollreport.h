#pragma once

#include "protocol/poll.h"
#include "protocol/pollnotes.h"
#include "protocol/runstate.h"

#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kora {

// Local time in ISO 8601 with milliseconds and the offset from UTC, as
// 2026-12-07T16:30:01.123+01:00.
std::string IsoLocalTime(std::chrono::system_clock::time_point t);

// Two upper-case hexadecimal digits and one blank per byte, as the history
// shows a frame.
std::string HexText(std::span<const Byte> bytes);

// "good", "no-reply" or "checksum", for NRFlag 0, 1 and 2.
const char* OutcomeName(int nrFlag);

// The names of the status flags that are set, from the flag table, in its
// order; and the same blank between: "Idling Cassette".
std::vector<const char*> SetFlags(const RunState& s);
std::string SetFlagNames(const RunState& s);

// Per-bill counts and their total in words: "bill 1=0 bill 2=3 ... total=3".
std::string CountsText(const std::array<long, 7>& counts);

// What a frame did to the counts, in words: "bill 3 stacked, counted, count
// 2, total 5", "bill 3 stacked, not counted: repeat"; for a frame that
// reports no stacked bill, "repeat" or "read".
std::string FrameDid(const FrameNote& note);

// FrameDid read back from a log; none for text it never writes.
std::optional<FrameCount> ReadFrameDid(const std::string& text);

// What this poll did beyond its outcome, in words: every frame read that is
// not the poll's answer, with its bytes and what it did; the answer's stacked
// bill and whether it was counted; the acceptor found not to echo the bit;
// a stack or return order sent.
std::string PollEvents(const RunState& s, const PollNotes& notes);

// The events of a row of kind "read", the frames a stop found already in
// (ReadFramesLeft): "frame read at the stop 02 0B ...: bill 3 stacked,
// counted, count 1, total 1", then the bill cycles they ended.
std::string LeftFramesEvents(const PollNotes& notes);

// The session log's column names, in order: its header.
const std::vector<std::string>& LogColumnNames();

// A log row, a value per column, for a poll that just ended.
// Rows are stamped with `at`, or with the time they are made.
using RowStamp = std::optional<std::chrono::system_clock::time_point>;
std::vector<std::string> PollRow(const RunState& s, const PollTiming& t, long poll,
                                 const std::string& events, RowStamp at = std::nullopt);
// A start or stop row: time, kind and what happened.
std::vector<std::string> MarkRow(const std::string& kind, long poll, const std::string& events,
                                 RowStamp at = std::nullopt);

// The moment a row is stamped with: now, to the millisecond.
std::chrono::system_clock::time_point RowNow();

} // namespace kora
