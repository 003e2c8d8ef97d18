// What syncing a session log row costs: the time from SessionLog::write to
// the row written (and synced) by the log's writer thread, with and without
// a sync, and the bytes the disk under the log takes for each synced row.
//
//   bench_sessionlog [FOLDER] [ROWS]    (default: the system's temporary folder, 300)
#include "record/pollreport.h"
#include "record/sessionlog.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <vector>

using namespace kora;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

// A poll row as long as an idle poll's: some 150 bytes.
std::vector<std::string> pollRow(long n)
{
    return {"2026-12-07T10:00:00.000+00:00",
            "poll",
            std::to_string(n),
            "good",
            "02 08 10 7F 10 00 03 77 ",
            "02 0B 20 01 10 00 4B 01 03 03 73 ",
            "12.4",
            "Idling Cassette",
            ""};
}

// Sectors written to the block device that holds `path`, or -1.
long long sectorsWritten(const std::string& path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    std::ifstream in("/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                     std::to_string(minor(st.st_dev)) + "/stat");
    long long field = 0;
    for (int i = 0; i < 7 && in >> field; ++i) {
    }
    return in ? field : -1;
}

struct Figures
{
    std::vector<double> ms;
    std::vector<double> kib; // the disk's writes while each row was on its way
};

// Rows a poll period apart, each waited for until written (and synced).
Figures run(const std::string& path, int rows, bool sync)
{
    std::filesystem::remove(path);
    SessionLog log;
    std::string why;
    if (!log.open(path, &why)) {
        std::fprintf(stderr, "bench_sessionlog: %s\n", why.c_str());
        std::exit(1);
    }
    log.drain(Clock::now() + 5s);
    Figures f;
    for (long n = 1; n <= rows; ++n) {
        std::this_thread::sleep_for(20ms);
        const long long before = sectorsWritten(path);
        const auto t0 = Clock::now();
        log.write(pollRow(n), {sync, ""});
        log.drain(Clock::now() + 5s);
        const auto t1 = Clock::now();
        const long long after = sectorsWritten(path);
        f.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (before >= 0 && after >= before)
            f.kib.push_back(static_cast<double>(after - before) * 512 / 1024);
    }
    log.finish(Clock::now() + 5s);
    std::filesystem::remove(path);
    return f;
}

void print(const char* what, const Figures& f)
{
    std::printf("%-28s median %7.3f ms, 99th percentile %7.3f ms", what, percentile(f.ms, 0.5),
                percentile(f.ms, 0.99));
    if (!f.kib.empty())
        std::printf("; disk writes while on its way: median %.1f KiB", percentile(f.kib, 0.5));
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    const int rows = argc > 2 ? std::max(10, std::atoi(argv[2])) : 300;
    const std::string path = folder + "/bench_sessionlog.csv";
    std::printf("%d rows 20 ms apart, written to %s, from SessionLog::write to written:\n", rows,
                path.c_str());
    print("without sync (5 s floor)", run(path, rows, false));
    print("each row synced", run(path, rows, true));
    return 0;
}
