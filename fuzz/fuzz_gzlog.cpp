// Arbitrary bytes as a session log compressed by gzip, read as the report
// reads a rotation: compressed whole, it reads as the same bytes plain;
// compressed and cut short, it reads up to the cut and says so; arbitrary
// bytes behind gzip's first two, it ends whatever they are.
#include "invariant.h"
#include "record/sessionanalysis.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace kora;

namespace {

std::string plainPath, gzipPath;

std::string gzip(const std::string& text)
{
    z_stream z{};
    require(deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK,
            "a gzip writer");
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    require(deflate(&z, Z_FINISH) == Z_STREAM_END, "compressed whole");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// What the report shows of each session, in words.
std::vector<std::string> read(const std::string& path, LogsRead& what)
{
    std::vector<std::string> sessions;
    what = AnalyseLogs({path}, [&](const SessionSummary& s) {
        require(s.number == static_cast<int>(sessions.size()) + 1, "sessions numbered in order");
        std::string counted;
        for (const long n : s.counted)
            counted += std::to_string(n) + ' ';
        sessions.push_back(counted + s.bills.text() + s.link.text({}) + s.badRowsText());
    });
    return sessions;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* dir = std::getenv("TMPDIR");
    const std::string base =
        std::string(dir ? dir : "/tmp") + "/fuzz_gzlog." + std::to_string(getpid());
    plainPath = base + ".csv";
    gzipPath = base + ".csv.gz";
    std::atexit([] {
        std::remove(plainPath.c_str());
        std::remove(gzipPath.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    LogsRead compressed, plain;
    if (size % 3 == 0) { // gzip's magic, then anything
        write(gzipPath, "\x1f\x8b" + text);
        read(gzipPath, compressed);
        return 0;
    }
    std::string packed = gzip(text);
    const std::size_t cut = size % 3 == 2 ? 1 + size % (packed.size() - 1) : 0;
    packed.resize(packed.size() - cut);
    write(gzipPath, packed);
    write(plainPath, text);
    const auto fromGzip = read(gzipPath, compressed);
    const auto fromPlain = read(plainPath, plain);
    require(compressed.skipped.size() == plain.skipped.size() || cut,
            "a compressed log is refused as the plain one is");
    if (text.starts_with("\x1f\x8b")) // the plain file is read as compressed too
        return 0;
    if (cut == 0) {
        require(fromGzip == fromPlain, "a compressed log reads as the plain one");
        require(compressed.damaged.empty(), "no damage in a whole one");
    } else {
        require(compressed.damaged.size() == compressed.read.size(), "a cut one is said cut");
    }
    return 0;
}
