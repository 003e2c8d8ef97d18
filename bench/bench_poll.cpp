// The poll transaction against the simulated acceptor on a pseudo-terminal,
// paced at the line rate: how long after the reply's last byte the poll
// returns, and what a poll costs in CPU with and without an acceptor, and
// with the reply in one burst.
#include "acceptorserver.h"
#include "protocol/poll.h"
#include "serial/mscomm.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace kora;
using Clock = std::chrono::steady_clock;

namespace {

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

RunState started()
{
    RunState s;
    s.BillEnable.fill(1);
    s.Allow = 1;
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int goodPolls = argc > 1 ? std::atoi(argv[1]) : 200;
    const int silentPolls = argc > 2 ? std::atoi(argv[2]) : 20;

    sim::AcceptorServer server;
    server.setPaced(true);
    PortMap ports;
    ports.pin(1, QString::fromStdString(server.devicePath()));
    MSComm port(ports);
    port.setSettings(QStringLiteral("9600, E, 7, 1"));
    port.open();

    RunState s = started();
    std::vector<double> latencyMs;
    double cpu = 0;
    for (int i = 0; i < goodPolls; ++i) {
        const double c0 = threadCpuMs();
        PollAcceptor(s, port, 1);
        const auto returned = Clock::now();
        cpu += threadCpuMs() - c0;
        if (s.NRFlag == 0)
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(returned - server.lastReplyEnd())
                    .count());
    }
    std::printf("good polls:          %zu of %d answered\n", latencyMs.size(), goodPolls);
    if (!latencyMs.empty()) {
        std::printf(
            "added latency:       median %.3f ms, p99 %.3f ms (last reply byte to return)\n",
            percentile(latencyMs, 0.5), percentile(latencyMs, 0.99));
        std::printf("CPU per good poll:   %.3f ms with the reply paced at the line rate\n",
                    cpu / goodPolls);
    }

    // The same polls with each reply put on the line at once, as an adapter
    // that hands bytes over in blocks delivers it: the difference is the cost
    // of waking once per byte of a reply that arrives at the line rate.
    server.setPaced(false);
    double burstCpu = 0;
    for (int i = 0; i < goodPolls; ++i) {
        const double b0 = threadCpuMs();
        PollAcceptor(s, port, 1);
        burstCpu += threadCpuMs() - b0;
    }
    std::printf("CPU per good poll:   %.3f ms with each reply in one burst\n",
                burstCpu / goodPolls);

    server.setSilent(true);
    const double c0 = threadCpuMs();
    const auto t0 = Clock::now();
    for (int i = 0; i < silentPolls; ++i)
        PollAcceptor(s, port, 1);
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const double silentCpu = (threadCpuMs() - c0) / silentPolls;
    std::printf("no acceptor:         %.1f ms per poll, CPU %.3f ms per poll (%.2f%% of a core)\n",
                wall / silentPolls, silentCpu, 100.0 * silentCpu / (wall / silentPolls));
    return 0;
}
