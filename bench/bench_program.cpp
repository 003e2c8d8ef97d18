// kora232 as a user runs it, in its own process: the share of one core it
// uses while polling an absent and a live acceptor, its peak resident
// memory, and the time from launch to its first frame on screen; with
// --headless, the same polling figures and memory for kora232-headless. The
// acceptor is simulated in this process, so its work is not counted.
//
//   bench_program KORA232 [LAUNCHES [REPEATS]]
//   bench_program --headless KORA232_HEADLESS [REPEATS]
//   bench_program --beside BARE KORA232 KORA232_HEADLESS [LAUNCHES [REPEATS [SECONDS]]]
//
// --beside sets kora232 beside bench_bare_window, the floor any Qt window
// on this machine costs: launch pairs, then polling runs of SECONDS (20).
//
// Each polling figure is the median of REPEATS runs (default 3), interleaved
// so that a passing disturbance on a shared machine spoils one run, not one
// case.
// The display is whatever the environment gives kora232 (QT_QPA_PLATFORM,
// DISPLAY).
#include "acceptorserver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kSettle = 1500ms;   // START, the port's opening, the first polls
constexpr auto kMeasured = 10s;    // the polling figures cover this much
constexpr double kCpuTarget = 1.0; // percent of one core
constexpr double kShownTarget = 100;
constexpr double kResidentTargetMiB = 40;
constexpr double kHeadlessCpuTarget = 0.3;
constexpr double kHeadlessResidentTargetMiB = 20;
constexpr double kLaunchRatioTarget = 1.25; // kora232 against the bare window
constexpr double kPollRatioTarget = 1.15;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// A kora232 or kora232-headless process with its standard output on a pipe.
class Child
{
public:
    Child(const std::string& program, const std::vector<std::string>& arguments)
    {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        launched = Clock::now();
        const int failed =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        outFd = out[0];
        if (failed)
            throw std::runtime_error("cannot start " + program);
    }
    ~Child()
    {
        if (pid > 0)
            end();
        close(outFd);
    }

    // The next line of the child's output, or nothing if none came in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout)
    {
        const auto until = Clock::now() + timeout;
        for (;;) {
            if (const auto nl = pending.find('\n'); nl != std::string::npos) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{outFd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
            char buf[256];
            const ssize_t n = read(outFd, buf, sizeof buf);
            if (n <= 0)
                return std::nullopt;
            pending.append(buf, static_cast<std::size_t>(n));
        }
    }

    // User plus system CPU time so far, in seconds, as the kernel accounts it.
    double cpuSeconds() const
    {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i == 14 || i == 15) // utime, stime
                ticks += std::stod(field);
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // Time on a CPU so far, in seconds, summed over the child's threads from
    // the scheduler's own account (nanoseconds, not clock ticks); negative
    // where the kernel keeps none.
    double runSeconds() const
    {
        const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
        std::error_code error;
        double ns = 0;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream in(task.path() / "schedstat");
            double taskNs = 0;
            if (!(in >> taskNs))
                return -1;
            ns += taskNs;
        }
        return error ? -1 : ns / 1e9;
    }

    // Stops the child if it still runs; gives its peak resident set in KiB.
    long end()
    {
        kill(pid, SIGTERM);
        return reap();
    }

    // Waits for the child to end by itself; gives its peak resident set in KiB.
    long reap()
    {
        int status = 0;
        wait4(pid, &status, 0, &usage);
        ended = Clock::now();
        pid = -1;
        return usage.ru_maxrss;
    }

    // The child's user plus system time, once reaped.
    double reapedCpuMs() const
    {
        const auto ms = [](const timeval& t) {
            return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
        };
        return ms(usage.ru_utime) + ms(usage.ru_stime);
    }

    Clock::time_point launched;
    Clock::time_point ended;

private:
    pid_t pid = -1;
    int outFd = -1;
    rusage usage{};
    std::string pending;
};

struct Polling
{
    double cpuPercent = 0; // by utime + stime
    double runPercent = 0; // by the scheduler's run time
    std::uint64_t messages = 0;
    long peakKiB = 0;
};

enum class Acceptor { Absent, Live, LiveInBursts, LiveLogged };

// The program measured: the window, which prints a line once shown and then
// presses START, the headless poller, whose first line says it polls, or the
// bare window (bench_bare_window), which rewrites its rows once shown.
struct Subject
{
    std::string program;
    bool headless = false;
    bool bare = false;

    std::vector<std::string> arguments(const std::string& device) const
    {
        if (bare)
            return {"--rows", "--report-shown"};
        if (headless)
            return {"--port", "1=" + device};
        return {"--port", "1=" + device, "--start", "--report-shown"};
    }
    const char* name() const
    {
        return bare ? "bare window" : headless ? "kora232-headless" : "kora232";
    }
};

// The program polls a port pinned to the simulator; CPU is counted over
// `measured` once polling has settled.
Polling measurePolling(const Subject& subject, Acceptor acceptor,
                       std::chrono::seconds measured = kMeasured)
{
    kora::sim::AcceptorServer server;
    server.setSilent(acceptor == Acceptor::Absent);
    server.setPaced(acceptor != Acceptor::LiveInBursts);
    std::vector<std::string> arguments = subject.arguments(server.devicePath());
    const std::string log = std::filesystem::temp_directory_path() /
                            ("kora232-bench-" + std::to_string(getpid()) + ".csv");
    if (acceptor == Acceptor::LiveLogged)
        arguments.insert(arguments.end(), {"--log", log});
    Child child(subject.program, arguments);
    if (!child.readLine(30s))
        throw std::runtime_error(std::string(subject.name()) + " did not start polling");
    std::this_thread::sleep_for(kSettle);

    const double cpu0 = child.cpuSeconds();
    const double run0 = child.runSeconds();
    const auto messages0 = server.messagesServed();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(measured);
    const double cpu = child.cpuSeconds() - cpu0;
    const double run = child.runSeconds() - run0;
    const double wall = msSince(t0) / 1e3;
    Polling p;
    p.messages = server.messagesServed() - messages0;
    p.cpuPercent = 100 * cpu / wall;
    p.runPercent = run0 < 0 ? -1 : 100 * run / wall;
    p.peakKiB = child.end();
    std::filesystem::remove(log);
    return p;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

template <typename Field> std::vector<double> each(const std::vector<Polling>& runs, Field field)
{
    std::vector<double> v;
    for (const Polling& p : runs)
        v.push_back(static_cast<double>(field(p)));
    return v;
}

void printPolling(const char* label, const std::vector<Polling>& runs, std::optional<double> target)
{
    const std::vector<double> cpu = each(runs, [](const Polling& p) { return p.cpuPercent; });
    std::printf("%s %5.2f %% of a core (runs %.2f-%.2f); scheduler run time %.2f %%; %.0f polls",
                label, median(cpu), *std::min_element(cpu.begin(), cpu.end()),
                *std::max_element(cpu.begin(), cpu.end()),
                median(each(runs, [](const Polling& p) { return p.runPercent; })),
                median(each(runs, [](const Polling& p) { return p.messages; })));
    if (target)
        std::printf("   target < %.1f %%", *target);
    std::printf("\n");
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Launches kora232 to its first frame and straight out again. The program
// times itself from its process start; the launcher times from just before
// the spawn to the line's arrival, which adds the pipe's hand-over.
void measureShown(const std::string& kora, int launches)
{
    std::vector<double> own;
    std::vector<double> seen;
    for (int i = -1; i < launches; ++i) { // the first one warms the caches
        Child child(kora, {"--report-shown", "--quit-after", "0"});
        const std::optional<std::string> line = child.readLine(30s);
        const double launcherMs = msSince(child.launched);
        child.reap();
        if (!line || line->rfind("shown ", 0) != 0)
            throw std::runtime_error("kora232 did not report its window shown");
        if (i >= 0) {
            own.push_back(std::stod(line->substr(6)));
            seen.push_back(launcherMs);
        }
    }
    std::printf("(c) launch to window shown, median of %d (after one warm-up):\n", launches);
    std::printf(
        "      as kora232 times itself:  %6.1f ms  (min %.1f, max %.1f)   target < %.0f ms\n",
        median(own), *std::min_element(own.begin(), own.end()),
        *std::max_element(own.begin(), own.end()), kShownTarget);
    std::printf("      as the launcher sees it:  %6.1f ms  (min %.1f, max %.1f)\n", median(seen),
                *std::min_element(seen.begin(), seen.end()),
                *std::max_element(seen.begin(), seen.end()));
}

std::string displayInUse()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    if (platform && *platform)
        return std::string("QT_QPA_PLATFORM=") + platform;
    return std::string("X11 display ") + (display ? display : "(none)");
}

// The polling figures (a) and (b) and the peak memory (d), each beside its
// target; the window's time to be shown (c) comes between them.
void measureAll(const Subject& subject, int launches, int repeats)
{
    std::printf("%s on %s; load average %s. Polling at 100 ms, CPU (utime+stime) counted "
                "over %lld s after %lld ms settling, median of %d runs:\n",
                subject.name(), subject.headless ? "no display" : displayInUse().c_str(),
                loadAverage().c_str(), static_cast<long long>(kMeasured.count()),
                static_cast<long long>(kSettle.count()), repeats);
    std::vector<Polling> absent, live, bursts, logged;
    for (int i = 0; i < repeats; ++i) {
        absent.push_back(measurePolling(subject, Acceptor::Absent));
        live.push_back(measurePolling(subject, Acceptor::Live));
        bursts.push_back(measurePolling(subject, Acceptor::LiveInBursts));
        logged.push_back(measurePolling(subject, Acceptor::LiveLogged));
    }
    const double cpuTarget = subject.headless ? kHeadlessCpuTarget : kCpuTarget;
    printPolling("(a) absent acceptor (never answers):", absent, cpuTarget);
    printPolling("(b) live acceptor, paced 9600 baud: ", live, cpuTarget);
    printPolling("    live, each reply in one burst:  ", bursts, std::nullopt);
    printPolling("    live, paced, logging to a file: ", logged, std::nullopt);
    if (!subject.headless)
        measureShown(subject.program, launches);
    const std::vector<double> peaks = each(live, [](const Polling& p) { return p.peakKiB; });
    std::printf("(d) peak resident memory, live runs: %5.1f MiB (largest ru_maxrss)   "
                "target < %.0f MiB\n",
                *std::max_element(peaks.begin(), peaks.end()) / 1024,
                subject.headless ? kHeadlessResidentTargetMiB : kResidentTargetMiB);
    std::printf("    load average at the end: %s\n", loadAverage().c_str());
}

// A launch to the first frame and straight out again (--quit-after 0).
// Both times as the launcher sees them, from just before the spawn: the
// programs' own account of their start is in clock ticks of 10 ms.
struct Launch
{
    double shownMs = 0;   // to the line that says the first frame is shown
    double processMs = 0; // to the exit
    double cpuMs = 0;     // user plus system time of the whole process
};

Launch launchOnce(const std::string& program)
{
    Child child(program, {"--report-shown", "--quit-after", "0"});
    const std::optional<std::string> line = child.readLine(30s);
    const double shownMs = msSince(child.launched);
    child.reap();
    if (!line || line->rfind("shown ", 0) != 0)
        throw std::runtime_error(program + " did not report its window shown");
    return {shownMs,
            std::chrono::duration<double, std::milli>(child.ended - child.launched).count(),
            child.reapedCpuMs()};
}

// bare[i] and kora[i] ran back to back, the bare window first where i is
// even, so the machine's state then falls on both. A launch may land on
// either CPU, and on this kind of machine one may run a fifth slower than the
// other for seconds, which the order of a pair can follow: the pairs with the
// bare window first and those with kora232 first then gather their ratios
// about two values, and the median of all the pairs may fall on either. The
// ratio judged is the geometric mean of the two groups' medians, where a
// factor from the order cancels; the ratio of the two programs' medians is
// printed beside it.
void printBeside(const char* what, const std::vector<double>& bare, const std::vector<double>& kora,
                 const char* unit, double target)
{
    std::vector<double> bareFirst, koraFirst;
    for (std::size_t i = 0; i < std::min(bare.size(), kora.size()); ++i)
        (i % 2 == 0 ? bareFirst : koraFirst).push_back(kora[i] / bare[i]);
    const double bareFirstRatio = median(bareFirst);
    // A single pair has no second order to set beside the first.
    const double koraFirstRatio = koraFirst.empty() ? bareFirstRatio : median(koraFirst);
    const double ratio = std::sqrt(bareFirstRatio * koraFirstRatio);
    const double bareMedian = median(bare);
    const double koraMedian = median(kora);
    std::printf("  %-34s %8.2f %-4s %8.2f %-4s  ratio %.2f (pairs %.2f/%.2f, medians %.2f)   "
                "target <= %.2f%s\n",
                what, bareMedian, unit, koraMedian, unit, ratio, bareFirstRatio, koraFirstRatio,
                koraMedian / bareMedian, target, ratio <= target ? "" : "  (missed)");
}

// kora232 beside the bare window, in pairs whose order alternates, so that
// whatever else the machine does falls on both alike: the launch to the
// first frame, then polling a prompt acceptor against the bare window
// rewriting its rows, and kora232-headless polling the same acceptor.
void measureBeside(const Subject& bare, const Subject& kora, const Subject& headless, int launches,
                   int repeats, std::chrono::seconds measured)
{
    std::printf("kora232 beside a bare Qt Widgets window of its size (bench_bare_window), on %s; "
                "load average %s\n",
                displayInUse().c_str(), loadAverage().c_str());
    std::vector<Launch> bareLaunches, koraLaunches;
    for (int i = -1; i < launches; ++i) { // the first pair warms the caches
        const bool bareFirst = i % 2 == 0;
        const Launch first = launchOnce(bareFirst ? bare.program : kora.program);
        const Launch second = launchOnce(bareFirst ? kora.program : bare.program);
        if (i < 0)
            continue;
        bareLaunches.push_back(bareFirst ? first : second);
        koraLaunches.push_back(bareFirst ? second : first);
    }
    const auto field = [](const std::vector<Launch>& v, double Launch::*f) {
        std::vector<double> out;
        for (const Launch& l : v)
            out.push_back(l.*f);
        return out;
    };
    std::printf(
        "Launch, median of %d pairs:            bare window     kora232   ratio (pairs with "
        "the bare window first/kora232 first, the medians')\n",
        launches);
    printBeside("to the first frame (--report-shown)", field(bareLaunches, &Launch::shownMs),
                field(koraLaunches, &Launch::shownMs), "ms", kLaunchRatioTarget);
    printBeside("whole process, --quit-after 0", field(bareLaunches, &Launch::processMs),
                field(koraLaunches, &Launch::processMs), "ms", kLaunchRatioTarget);
    printBeside("its CPU (utime+stime)", field(bareLaunches, &Launch::cpuMs),
                field(koraLaunches, &Launch::cpuMs), "ms", kLaunchRatioTarget);

    std::vector<Polling> bareRuns, koraRuns, headlessRuns;
    for (int i = 0; i < repeats; ++i) {
        const bool bareFirst = i % 2 == 0;
        (bareFirst ? bareRuns : koraRuns)
            .push_back(measurePolling(bareFirst ? bare : kora, Acceptor::Live, measured));
        (bareFirst ? koraRuns : bareRuns)
            .push_back(measurePolling(bareFirst ? kora : bare, Acceptor::Live, measured));
        headlessRuns.push_back(measurePolling(headless, Acceptor::Live, measured));
    }
    const auto percent = [](const std::vector<Polling>& v, bool scheduler) {
        return each(
            v, [scheduler](const Polling& p) { return scheduler ? p.runPercent : p.cpuPercent; });
    };
    std::printf("Polling a prompt acceptor (paced 9600 baud) at 100 ms against the bare window "
                "rewriting twelve rows ten times a second; %lld s runs, median of %d:\n",
                static_cast<long long>(measured.count()), repeats);
    printBeside("share of a core, scheduler run time", percent(bareRuns, true),
                percent(koraRuns, true), "%", kPollRatioTarget);
    printBeside("share of a core, utime+stime", percent(bareRuns, false), percent(koraRuns, false),
                "%", kPollRatioTarget);
    std::printf("  kora232 polls: %.0f in each run (median)\n",
                median(each(koraRuns, [](const Polling& p) { return p.messages; })));
    std::printf("kora232-headless polling the same acceptor: %.2f %% of a core by the scheduler's "
                "run time (%.2f %% by utime+stime), %.0f polls   target < %.1f %%\n",
                median(percent(headlessRuns, true)), median(percent(headlessRuns, false)),
                median(each(headlessRuns, [](const Polling& p) { return p.messages; })),
                kHeadlessCpuTarget);
    std::printf("load average at the end: %s\n", loadAverage().c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::string(argv[1]) == "--beside") {
        // bench_program --beside BARE KORA232 HEADLESS [LAUNCHES [REPEATS [SECONDS]]]
        signal(SIGPIPE, SIG_IGN);
        setvbuf(stdout, nullptr, _IOLBF, 0);
        const auto number = [&](int i, int otherwise) {
            return argc > i ? std::max(1, std::atoi(argv[i])) : otherwise;
        };
        try {
            measureBeside({argv[2], false, true}, {argv[3]}, {argv[4], true}, number(5, 101),
                          number(6, 3), std::chrono::seconds(number(7, 20)));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_program: %s\n", e.what());
            return 1;
        }
        return 0;
    }

    const bool headless = argc > 1 && std::string(argv[1]) == "--headless";
    const int first = headless ? 2 : 1; // the program's argument
    if (argc <= first) {
        std::fprintf(stderr, "usage: bench_program KORA232 [LAUNCHES [REPEATS]]\n"
                             "       bench_program --headless KORA232_HEADLESS [REPEATS]\n");
        return 2;
    }
    const Subject subject{argv[first], headless};
    const int launches = !headless && argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3; // third either way
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        measureAll(subject, launches, repeats);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_program: %s\n", e.what());
        return 1;
    }
    return 0;
}
