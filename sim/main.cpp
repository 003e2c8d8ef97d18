// acceptor-sim: a bill acceptor on a pseudo-terminal, for running and testing
// the host program without hardware.
#include "acceptorserver.h"
#include "linesplitter.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

using namespace kora::sim;

namespace {

const char* const kUsage = R"(Usage: acceptor-sim [options]
Plays a bill acceptor on a serial line. By default it opens a new
pseudo-terminal and prints its path on the first line of standard output;
commands typed on standard input act at once. At exit it prints its tally.

Options:
  --device PATH      serve an existing serial device instead
  --link PATH        keep PATH a symbolic link to the pseudo-terminal
  --step DURATION    time between the acceptor's steps (default 300ms)
  --scenario FILE    run the commands in FILE, one a line
  --run COMMANDS     run commands separated by ';', e.g. --run "wait 1s; insert 3"
  --silent           start silent         (as: silent on)
  --late MS          answer MS ms late     (as: late MS)
  --truncate K       send K bytes a reply  (as: truncate K)
  --corrupt          wrong checksums       (as: corrupt on)
  --garbage N        N noise bytes a reply (as: garbage N)
  --unpaced          each reply at once    (as: paced off)
  --last-bit B       start as an acceptor whose last host message carried
                     ack bit B (0 or 1); goes with --last-reply
  --last-reply HEX   ... and whose last reply was HEX, 11 bytes such as
                     "02 0B 20 10 10 18 4B 01 03 03 7A"; a first message with
                     bit B gets it again; a bill in it is not in the tally
  --replay LOG       answer each host message as the next poll row of a
                     session log the host program wrote (--log) recorded;
                     the tally counts each bill the recording counted
  --session N        replay session N of LOG, from 1 (default: the last)
  --replay-loop      start the session again at its end (else: idle replies)
  --replay-timing    keep each reply's recorded delay (else: at once)
  --verbose          log every exchange on standard error
  -v, --version      print the version
  -h, --help         this text

Exit status:
  0  stopped on quit or a signal; --help, --version
  1  the line could not be served: a --device that cannot be opened or hung
     up, or no pseudo-terminal to be had
  2  a command line it cannot take: an unknown option or one without its
     value, a --run or --scenario line that is no command, a --link or
     --device path it must not use, a --last-bit or --last-reply wrong or
     alone, a --replay log that is no session log or lacks the --session

)";

struct Options
{
    ServerOptions server;
    std::vector<std::string> startCommands; // faults from the command line
    std::vector<std::string> scenario;
    bool verbose = false;
    std::string lastBit;
    std::string lastReply;
    ReplayOptions replay;                // when its path is given
    std::vector<std::string> replayOnly; // options given that need --replay
};

std::vector<std::string> splitRun(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t semi; (semi = text.find(';', from)) != std::string::npos; from = semi + 1)
        lines.push_back(text.substr(from, semi - from));
    lines.push_back(text.substr(from));
    return lines;
}

std::string tooLong(const std::string& line)
{
    return "longer than " + std::to_string(LineSplitter::kLongestLine) + " bytes: " + excerpt(line);
}

void checkLine(const std::string& line, const std::string& where)
{
    if (line.size() > LineSplitter::kLongestLine)
        throw std::invalid_argument(where + tooLong(line));
    if (const ParsedLine p = parseCommand(line); !p.error.empty())
        throw std::invalid_argument(where + excerpt(line) + ": " + p.error);
}

void readScenario(const std::string& path, std::vector<std::string>& lines)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::invalid_argument("cannot read " + path + ": " + std::strerror(errno));
    LineSplitter splitter;
    const auto keep = [&](const LineSplitter::Line& line) {
        const std::string where = path + " line " + std::to_string(line.number) + ": ";
        if (line.tooLong)
            throw std::invalid_argument(where + tooLong(line.text));
        checkLine(line.text, where);
        lines.push_back(line.text);
        return true;
    };
    std::vector<char> buf(1 << 16);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        if (!splitter.feed({buf.data(), static_cast<std::size_t>(in.gcount())}, keep))
            throw std::invalid_argument(path + " is not text");
    }
    if (in.bad())
        throw std::invalid_argument("cannot read " + path + ": " + std::strerror(errno));
    splitter.finish(keep);
}

int sessionNumber(const std::string& text)
{
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc{} || end != text.data() + text.size() || n < 1)
        throw std::invalid_argument("--session must be a number from 1, not " + excerpt(text));
    return n;
}

// The log is read and checked here, so that a bad one ends the run before
// the line is served.
void takeReplay(Options& o)
{
    if (o.replay.path.empty()) {
        if (!o.replayOnly.empty())
            throw std::invalid_argument(o.replayOnly.front() + " goes with --replay");
        return;
    }
    if (o.lastBit.size() + o.lastReply.size() > 0)
        throw std::invalid_argument("--replay and --last-bit or --last-reply do not go together");
    auto replay = std::make_shared<Replay>(o.replay);
    for (const std::string& said : {replay->badRows(), replay->waitsCut(), replay->clockSteps()})
        if (!said.empty())
            std::cerr << "acceptor-sim: " << o.replay.path << ": " << said << '\n';
    o.server.replay = std::move(replay);
}

void takeLastExchange(Options& o)
{
    if (o.lastBit.empty() && o.lastReply.empty())
        return;
    if (o.lastBit.empty() || o.lastReply.empty())
        throw std::invalid_argument("--last-bit and --last-reply go together");
    if (o.lastBit != "0" && o.lastBit != "1")
        throw std::invalid_argument("--last-bit must be 0 or 1, not " + excerpt(o.lastBit));
    const auto reply = parseReplyHex(o.lastReply);
    if (!reply)
        throw std::invalid_argument("--last-reply must be 11 bytes in hex, not " +
                                    excerpt(o.lastReply));
    o.server.lastExchange = {static_cast<std::uint8_t>(o.lastBit == "1"), *reply};
}

// Returns an exit status to leave with, or -1 to carry on.
int parseArguments(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage << commandHelp();
            return 0;
        }
        if (a == "--version" || a == "-v") {
            std::cout << "acceptor-sim " KORA_VERSION "\n";
            return 0;
        }
        if (a == "--device")
            o.server.device = value();
        else if (a == "--link")
            o.server.symlink = value();
        else if (a == "--step")
            o.startCommands.push_back("step " + value());
        else if (a == "--scenario")
            readScenario(value(), o.scenario);
        else if (a == "--run") {
            for (const std::string& line : splitRun(value())) {
                checkLine(line, "");
                o.scenario.push_back(line);
            }
        } else if (a == "--silent")
            o.startCommands.push_back("silent on");
        else if (a == "--late" || a == "--truncate" || a == "--garbage")
            o.startCommands.push_back(a.substr(2) + ' ' + value());
        else if (a == "--corrupt")
            o.startCommands.push_back("corrupt on");
        else if (a == "--unpaced")
            o.startCommands.push_back("paced off");
        else if (a == "--last-bit")
            o.lastBit = value();
        else if (a == "--last-reply")
            o.lastReply = value();
        else if (a == "--replay") {
            if ((o.replay.path = value()).empty())
                throw std::invalid_argument("--replay needs a session log");
        } else if (a == "--session") {
            o.replayOnly.push_back(a);
            o.replay.session = sessionNumber(value());
        } else if (a == "--replay-loop" || a == "--replay-timing") {
            o.replayOnly.push_back(a);
            (a == "--replay-loop" ? o.replay.loop : o.replay.timing) = true;
        } else if (a == "--verbose")
            o.verbose = true;
        else
            throw std::invalid_argument("unknown option " + a + " (try --help)");
    }
    for (const std::string& line : o.startCommands)
        checkLine(line, "");
    takeReplay(o);
    takeLastExchange(o);
    return -1;
}

// Output from the scenario, standard input and the exit path, one line at a time.
class Console
{
public:
    void show(const CommandResult& r)
    {
        if (r.message.empty())
            return;
        std::lock_guard lock(mutex_);
        (r.ok ? std::cout : std::cerr) << (r.ok ? "" : "error: ") << r.message << std::endl;
    }
    void log(const std::string& line)
    {
        std::lock_guard lock(mutex_);
        std::cerr << line << std::endl;
    }

private:
    std::mutex mutex_;
};

// Runs lines until one says quit (returns true) or the server stops.
bool runLines(AcceptorServer& server, Console& console, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        if (server.stopped())
            return false;
        const CommandResult r = server.command(line);
        console.show(r);
        if (r.quit)
            return true;
    }
    return false;
}

void readStandardInput(AcceptorServer& server, Console& console, int quitFd, int quitWrite)
{
    LineSplitter splitter;
    bool quit = false;
    const auto run = [&](const LineSplitter::Line& line) {
        if (line.tooLong)
            console.show({false,
                          "standard input line " + std::to_string(line.number) + " skipped, " +
                              tooLong(line.text),
                          false});
        else
            quit = runLines(server, console, {line.text});
        return !quit;
    };
    char buf[4096];
    for (bool more = true; more;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {quitFd, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents)
            return;
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            more = splitter.feed({buf, static_cast<std::size_t>(n)}, run);
        } else {
            splitter.finish(run); // no more input; keep serving until a signal or quit
            more = false;
        }
    }
    if (quit) {
        [[maybe_unused]] const ssize_t w = ::write(quitWrite, "q", 1);
    } else if (splitter.notText()) {
        console.show({false,
                      "standard input is not text (a NUL byte, or " +
                          std::to_string(LineSplitter::kLongestRun >> 20) +
                          " MiB without a newline); no longer read",
                      false});
    }
}

int serve(Options& o)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); // every thread inherits this
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    int quitPipe[2];
    if (signalFd < 0 || pipe(quitPipe) < 0)
        throw std::system_error(errno, std::generic_category(), "signalfd");

    auto quit = [&] { [[maybe_unused]] const ssize_t w = ::write(quitPipe[1], "q", 1); };
    Console console;
    if (o.verbose)
        o.server.log = [&console](const std::string& line) { console.log(line); };
    o.server.notice = [&console](const std::string& line) { console.show({true, line, false}); };
    std::atomic<bool> deviceLost = false;
    o.server.deviceLost = [&](const std::string& why) {
        console.log("acceptor-sim: " + why + "; stopping");
        deviceLost = true;
        quit();
    };
    AcceptorServer server(o.server);
    runLines(server, console, o.startCommands);
    std::cout << server.devicePath() << std::endl;

    std::thread scenario([&] {
        if (runLines(server, console, o.scenario))
            quit();
    });
    std::thread input([&] { readStandardInput(server, console, quitPipe[0], quitPipe[1]); });

    pollfd fds[2] = {{signalFd, POLLIN, 0}, {quitPipe[0], POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    quit(); // lets the input thread go too
    server.stop();
    scenario.join();
    input.join();
    console.show({true, server.tally().report(), false});
    return deviceLost ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        if (const int status = parseArguments(argc, argv, options); status >= 0)
            return status;
    } catch (const std::invalid_argument& e) {
        std::cerr << "acceptor-sim: " << e.what() << '\n';
        return 2;
    }
    try {
        return serve(options);
    } catch (const std::invalid_argument& e) { // a device or link path it must not use
        std::cerr << "acceptor-sim: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "acceptor-sim: " << e.what() << '\n';
        return 1;
    }
}
