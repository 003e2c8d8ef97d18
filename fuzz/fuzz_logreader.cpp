// Arbitrary bytes as a session log, read and analysed as the report reads
// one: whatever the file, the analysis ends, and each session it hands over
// holds together.
#include "invariant.h"
#include "record/sessionanalysis.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace kora;

namespace {

void check(const SessionSummary& s, int& sessions)
{
    require(s.number == ++sessions, "sessions numbered from 1 in order");
    require(s.anomalies.size() <= SessionSummary::AnomaliesKept, "anomalies kept");
    require(s.badLines.size() <= SessionSummary::BadLinesNamed, "bad lines named");
    for (const long n : s.counted)
        require(n >= 0, "counts never below 0");
    require(s.badRowsText().empty() == (s.badRows == 0), "bad rows said when there are any");
    // What the report shows of a session, made as it makes it.
    const std::string shown =
        s.port() + s.device() + s.settings() + s.writtenBy() + s.link.text({}) + s.bills.text() +
        s.link.timeline().fitted(120).describe() + s.link.histogram().describe();
    require(!shown.empty(), "figures in words");
    s.countersExpected();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    int sessions = 0;
    AnalyseLog(in, [&sessions](const SessionSummary& s) { check(s, sessions); });
    return 0;
}
