#pragma once

#include "protocol/runstate.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kora {

// The range of each number a log row holds, one definition that the
// writer keeps to and the reader takes: every row written reads back.
//
// A counter: what the operator may type, three hundred million (more bills
// than an acceptor takes in its life), and six million bills stacked on top
// of that, where the engine's count stops. Seven of them still sum within a
// long of 32 bits (Windows).
inline constexpr long MostTypedCount = 300'000'000;
inline constexpr long MostCounted = MostTypedCount + 6'000'000;
inline constexpr long MostTotal = 7 * MostCounted;
// A row's time: years a clock that lost its battery (1970) to long past any
// kiosk, so that any two differ by a span the clocks can hold. A wall clock
// outside them is written as the nearest end.
inline constexpr int FirstLogYear = 1970, LastLogYear = 2200;
// A reply time is any finite length from 0 up, as the steady clock measured
// it: a poller stopped for a while (SIGSTOP, a stalled PC) waits long for a
// reply that came in time. Figures drawn of it clamp it where they draw it.

using BillCounts = std::array<long, 7>;

// A count as the log writes it, digits alone, from 0 to `most`.
std::optional<long> ReadCount(std::string_view text, long most = MostCounted);

// A start row that changes a setting mid-run ("escrowed bills now
// returned", "escrow mode now off", "poll period now 800 ms", "bills
// enabled now 1 2 4") stays within the session it stands in; every other
// start row begins one. Every reader of the log asks here.
bool IsSettingChange(std::string_view events);

// A row of kind plan: a bench test begins ("plan begins: {...}", the plan's
// text, digest, the unit and the operator as JSON) or ends ("plan ends:
// PASS"). It stands within its session and changes nothing counted.
inline constexpr std::string_view PlanBegins = "plan begins: ";
inline constexpr std::string_view PlanEnds = "plan ends: ";
bool IsPlanRow(std::string_view events);

// A start row's reason when the writer found its log rotated and went on
// in a new file.
inline constexpr std::string_view RotationReason = "log continues after rotation";

// The start row's words for a log that was not gone on from, before why
// as ClauseValue writes it: ", not continued from the log: <why>".
inline constexpr std::string_view NotContinued = ", not continued from the log: ";

// What the start row of a session says. A device path may hold ", " or
// parentheses, and a row may be 64 KiB long, so the fields are found with
// plain searches from the ends of the text.
struct StartText
{
    // "logging begins mid-run" or "log continues after rotation": the run
    // was under way before this row; empty for a start.
    std::string reason;
    std::string port;      // "1"; empty when the row names none
    std::string device;    // "/dev/ttyUSB0"
    std::string settings;  // "9600, E, 7, 1, poll every 250 ms, escrow mode on, ..."
    std::string writtenBy; // "kora232 1.4.0"; empty when the row does not name it
    std::optional<bool> escrowMode;
    // A process that continues from its own log: "frame 02 0B ..., bit 1",
    // perhaps with ", the acceptor does not echo the bit"; empty otherwise.
    std::string continuesFrom;
    std::optional<ReplyFrame> continuesFrame;
    bool ignoresBit = false;
    // Why a process did not go on from its log's frames; empty otherwise.
    std::string notContinued;
    std::optional<BillCounts> countsSoFar; // "; counts so far bill 1=0 ..."
    // What tells the adapter from any other ("; adapter usb 0403:6001 serial
    // A10K2"); empty in a row that names none (1.4.0).
    std::string adapter;
    // The file the continuation was read from when it was not the log
    // itself ("...; read from /var/log/kora232/x.csv.1"): the one a rotation
    // left while no poller ran.
    std::string readFrom;
};

// A value of a start row's clause (an adapter's identity, a file name) as
// the row holds it: '%', ';', ',', '(', ')', '"' and control characters as
// %XX, so that no value can end a clause or pass for a part of the row.
std::string ClauseValue(std::string_view value);
// ClauseValue read back; none for a '%' not followed by two hex digits.
std::optional<std::string> ReadClauseValue(std::string_view text);

// The start row's clause naming the adapter, "; adapter <identity>", and
// the continuation's naming the file it was read from, "; read from <path>".
std::string AdapterClause(std::string_view identity);
std::string ReadFromClause(std::string_view path);

// None when a part of it that is used cannot be trusted: counts so far or a
// continuation frame that do not read back.
std::optional<StartText> ReadStartText(std::string_view events);

// CountsText read back: "bill 1=2 ... bill 7=2 total=12"; none unless every
// count is within MostCounted and the total is their sum.
std::optional<BillCounts> ReadCountsText(std::string_view text);

// The counters a stop row gives ("<counts>; ..." or "logging ends; <counts>;
// ..."), left unset when it gives none. False when it gives counts that do
// not read back.
bool ReadStopCounts(std::string_view events, std::optional<BillCounts>& counts);

// The operator's adjustment of a counter: "counter bill 3 set to 25 by the
// operator (was 2)".
struct Adjustment
{
    std::chrono::system_clock::time_point time{};
    int bill = 0;
    long from = 0, to = 0;
};
std::optional<Adjustment> ReadAdjustment(std::string_view events);

} // namespace kora
