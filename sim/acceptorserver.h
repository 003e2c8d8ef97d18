#pragma once

#include "acceptormodel.h"
#include "commands.h"
#include "faults.h"
#include "ptylink.h"
#include "replay.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kora::sim {

struct ServerOptions
{
    std::string device;  // serve this device; empty: a new pseudo-terminal
    std::string symlink; // keep this path a symbolic link to the device
    Ms stepTime = kDefaultStepTime;
    // Start as an acceptor that has answered a host before.
    std::optional<AcceptorModel::LastExchange> lastExchange;
    // Called from the server's thread with each exchange and command; must
    // not call back into the server.
    std::function<void(const std::string&)> log;
    // Called once, from the server's thread, when the device hangs up or
    // fails; the server has stopped serving by then. Must not call back into
    // the server.
    std::function<void(const std::string&)> deviceLost;
    // A recorded session answers the host instead, while it lasts.
    std::shared_ptr<Replay> replay;
    // Called from the server's thread with news for the operator (a replay
    // played to its end); must not call back into the server.
    std::function<void(const std::string&)> notice;
};

struct CommandResult
{
    bool ok = true;
    std::string message; // text to show (tally, status, help) or why it failed
    bool quit = false;   // the command was `quit`
};

struct Counters
{
    std::uint64_t messages = 0;       // good host messages taken in, repeats included
    std::uint64_t repeats = 0;        // answered with the previous reply
    std::uint64_t replies = 0;        // put on the line, whole or cut short
    std::uint64_t silenced = 0;       // held back by silence
    std::uint64_t rejectedFrames = 0; // framed but wrong (end byte, checksum)
    std::uint64_t discardedBytes = 0; // skipped while looking for 02 08
    std::uint64_t unheard = 0;        // good host messages lost to deafness
};

// How long an acceptor in queue mode takes to answer a stack order.
constexpr Ms kStackOrderReplyTime{900};

// A simulated acceptor serving a serial line on its own thread. Every public
// member is safe to call from any thread.
class AcceptorServer
{
public:
    using Clock = std::chrono::steady_clock;

    // Opens the line and starts serving. Throws std::invalid_argument when the
    // options name a line or link path it must not use, std::system_error
    // when the line cannot be opened.
    explicit AcceptorServer(ServerOptions options = {});
    ~AcceptorServer();
    AcceptorServer(const AcceptorServer&) = delete;
    AcceptorServer& operator=(const AcceptorServer&) = delete;

    // Where a host connects: the pseudo-terminal's slave or the device.
    // Empty while the link is closed.
    std::string devicePath() const;
    std::string symlinkPath() const;

    // One line of the control language. `wait D` blocks the caller for D, or
    // until stop().
    CommandResult command(const std::string& line);

    void setSilent(bool on);
    void silenceFor(Ms duration);
    // Every reply `delay` late from now on. Replies already waiting go no
    // later than that, still in order: `late off` lets them all go at once.
    void setLate(Ms delay);
    // Only the next `replies` replies go `delay` late; none already waiting
    // moves.
    void lateNext(Ms delay, int replies);
    // The next `messages` good host messages are lost before the acceptor
    // sees them; 0 ends it.
    void deafNext(int messages);
    void setSticky(int replies);
    void setQueue(bool on);
    void setTruncate(int bytes); // 0: whole replies
    void setCorrupt(bool on);
    void corruptNext(int replies);
    void setGarbage(int bytes);
    void setPaced(bool on);
    // A burst of `bytes` random 7-bit bytes once every `everyPolls` replies
    // (at least 1), sent on its own at a random moment up to 120 ms after
    // that reply's time; 0 bytes: none.
    void setNoise(int bytes, int everyPolls);
    Faults faults() const;
    void setStepTime(Ms stepTime);

    Tally tally() const;
    Outcomes outcomes() const { return tally().outcomes(); }
    Counters counters() const;
    std::uint64_t messagesServed() const { return counters().messages; }
    std::uint64_t repliesSent() const { return counters().replies; }
    // When the last byte of the last reply went to the line; already set, as
    // is repliesSent(), by the time a host can have read that byte.
    Clock::time_point lastReplyEnd() const;
    // The acceptor's state and the faults in force, one line.
    std::string status() const;

    // Closes the line as if the device were unplugged; the host sees it gone.
    void closeLink();
    // A new pseudo-terminal (or the device again); returns its path.
    std::string reopenLink();
    // Closes the line as closeLink() does and returns at once; the server
    // reopens it as reopenLink() does when `duration` has passed. Called again
    // while unplugged, sets the time anew.
    void unplugFor(Ms duration);
    bool linkOpen() const;

    // Stops serving and ends any `wait`. The line stays open until destruction.
    void stop();
    bool stopped() const;

private:
    struct Transmission
    {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
        bool paced = true;
        bool reply = true; // else noise, which is neither stamped nor counted
        Clock::time_point queued{};
        Ms work{0}; // the acceptor's own time to answer, which no fault shortens
    };

    void run();
    void runTasks();
    bool onInput(std::vector<std::string>& logLines);
    void endOnLostDevice();
    void answer(const HostMessage& message, Clock::time_point now,
                std::vector<std::string>& logLines);
    bool replayAnswer(const HostMessage& message, Clock::time_point now,
                      std::vector<std::string>& logLines);
    void tellNotices();
    void scheduleNoise(Clock::time_point after);
    void scheduleNoiseAfter(Clock::time_point due);
    Clock::time_point nextDue() const;
    void sendDue();
    void relinkIfDue(std::vector<std::string>& logLines);
    void dropLink();
    void transmit(const Transmission& t);
    void advanceModel(Clock::time_point now) const;
    void wake();
    void writeLog(const std::vector<std::string>& lines) const;
    std::string stamp(Clock::time_point now) const;
    void onLinkThread(std::function<void()> task);
    CommandResult apply(const Command& c);
    // Plays a test deck on the caller's thread, note by note, until it is
    // played or the server stops; says what became of it.
    CommandResult playDeck(const Deck& deck);
    // Waits `d` unless the server stops first; false once it has.
    bool pause(Ms d);
    // Waits until the acceptor idles with no bill waiting, at most `most`.
    bool waitIdle(Ms most);

    const std::function<void(const std::string&)> log_;
    const std::function<void(const std::string&)> deviceLost_;
    const std::shared_ptr<Replay> replay_;
    const std::function<void(const std::string&)> notice_;
    const Clock::time_point origin_ = Clock::now();

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    PtyLink link_;
    // Reading the acceptor lets its time catch up first, also in const reads.
    mutable AcceptorModel model_;
    HostMessageReader reader_;
    Faults faults_;
    Counters counters_;
    Clock::time_point lastReplyEnd_{};
    std::deque<Transmission> outgoing_; // replies, in order
    std::deque<Transmission> bursts_;   // noise, by due time
    int repliesSinceNoise_ = 0;
    std::deque<std::packaged_task<void()>> tasks_;
    std::minstd_rand noise_{232};
    std::vector<std::string> notices_; // for notice_, told outside the lock

    int wakeFd_ = -1;
    std::thread thread_;
};

} // namespace kora::sim
