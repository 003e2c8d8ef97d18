#pragma once

#include "protocol/pollnotes.h"
#include "record/linkstats.h"
#include "record/pollreport.h"
#include "record/sessionlog.h"

#include <array>
#include <functional>
#include <string>

namespace kora {

// What a run leaves beyond the screen: the link statistics since START and,
// while a log is open, a row for START, every poll and STOP. Both faces of
// the program, the window and the headless poller, keep one.
class SessionRecord
{
public:
    // START pressed: until its port opens the run is no session, and a row
    // written meanwhile (a bench plan begun at START) waits for the start
    // row, or goes with a start that never opens.
    void awaitOpen();
    // The port opened: the statistics begin again and the log gets a start
    // row with what the run polls (port number, device, settings), then the
    // rows that waited for it.
    void start(const std::string& what);
    // A poll that just ended, with what it read and counted.
    void poll(const RunState& s, const PollNotes& notes);
    // What a stop found already in (ReadFramesLeft), judged, in a row of
    // kind read; nothing for none.
    void framesLeft(const PollNotes& notes);
    // The device went away, or came back; said in the next poll's row.
    void deviceLost(const std::string& reason);
    void reconnected();
    // A setting changed mid-run, in a row of kind start: "escrowed bills now
    // returned", "poll period now 800 ms"; `startTextNow` is the run's start
    // text with the change, for rows that must state the run as it is now.
    void change(const std::string& what, const std::string& startTextNow);
    // The operator set a counter to `count` from `was`, in a row of kind
    // adjust.
    void adjust(int bill, long count, long was);
    // A bench test's row of kind plan: "plan begins: {...}" or "plan ends:
    // PASS" (see IsPlanRow).
    void plan(const std::string& what);
    // The run as it is now, for a row that carries on a run under way:
    // "<start text as of now>; counts so far bill 1=0 ... total=N".
    std::string runSoFar() const;
    // STOP: a stop row with the counts and the statistics.
    void stop(const std::string& counts, RowStamp at = std::nullopt);
    // A START whose port never opened, in a row of kind failed, outside any
    // run: "port 1 (/dev/ttyUSB0): cannot be opened: ...". Written only when
    // the log's last row is not the same failure, so that a poller restarted
    // against a held port does not grow the log at each try.
    void failedStart(const std::string& what);
    // STOP before the port opened: the rows that waited go with it.
    void abandonStart();

    // Logging begun or ended by the operator; a run under way gets a start
    // or stop row so that the file says where its rows begin and end, and
    // with what: the settings as they are now and the counts so far.
    bool openLog(const std::string& path, std::string* why);
    void closeLog();
    bool logging() const { return log_.isOpen(); }

    long polls() const { return polls_; }
    const LinkStats& stats() const { return stats_; }
    SessionLog& log() { return log_; }

    // Told once when a log write fails; the log is closed by then.
    std::function<void(const std::string& why)> onLogFailure;
    // The run's counts per bill, from whoever counts (the session engine).
    std::function<std::array<long, 7>()> countsSoFar;

private:
    std::array<long, 7> countsNow() const;
    // The counts before this poll's `counted` bills.
    std::array<long, 7> countsBefore(const std::vector<int>& counted) const;
    std::string runSoFar(const std::array<long, 7>& counts) const;
    // The start row a new file at the log's path begins with should the log
    // be rotated before `row`: the run so far, before that row.
    std::string continuation(const std::vector<std::string>& row, long pollsBefore,
                             const std::array<long, 7>& countsBefore) const;
    // A row within the run, continued as it stands now.
    void write(const std::vector<std::string>& row);
    void write(const std::vector<std::string>& row, RowMeta meta);

    LinkStats stats_;
    SessionLog log_;
    long polls_ = 0;
    bool running_ = false;
    std::string what_;    // what the run polls, as of its last change
    std::string pending_; // link events for the next poll's row
    bool awaitingOpen_ = false;
    std::vector<std::vector<std::string>> held_; // rows written while awaiting the open
};

} // namespace kora
