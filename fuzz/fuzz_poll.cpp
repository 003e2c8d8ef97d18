// Drives arbitrary far-end byte streams through the poll transaction and the
// monitor update, checking what must hold whatever the line delivers.
#include "fakeport.h"
#include "invariant.h"
#include "protocol/poll.h"
#include "streamlink.h"
#include "ui/kora232.h"
#include "ui/monitor.h"

#include <QApplication>
#include <QLabel>
#include <QRegularExpression>
#include <cstdlib>

using namespace kora;

namespace {

QApplication* app = nullptr;
Kora232* window = nullptr;

bool isHistoryRow(const QString& text, int bytes)
{
    static const QRegularExpression hex8("^([0-9A-F]{2} ){8}$");
    static const QRegularExpression hex11("^([0-9A-F]{2} ){11}$");
    return text.isEmpty() || (bytes == 8 ? hex8 : hex11).match(text).hasMatch() ||
           (bytes == 11 && (text == "Acceptor Busy / Not Connected" || text == "Checksum Error"));
}

void checkInvariants(const RunState& s)
{
    require(s.NRFlag >= 0 && s.NRFlag <= 2, "NRFlag 0-2");
    require(s.Credit <= 7 && s.LastCredit <= 7, "Credit and LastCredit 0-7");
    require(s.Toggle <= 1, "Toggle 0-1");
    for (int r = 0; r <= 5; ++r) {
        require(isHistoryRow(window->lbOUT(r)->text(), 8), "host history row");
        require(isHistoryRow(window->lbIN(r)->text(), 11), "reply history row");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app = new QApplication(*argc, *argv);
    window = new Kora232(std::make_unique<test::FakePort>());
    return 0;
}

// Input: a sequence of polls, each a control byte followed by its arrivals.
// Control bits 0-3: bytes in each of up to three arrivals; bit 4: Escrow Mode
// box; bit 5: the port refuses operations; bits 6-7: number of arrivals.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RunState& s = window->state();
    s = RunState{};
    s.BillEnable.fill(1);
    s.Allow = 1;
    ClearTraffic(*window);
    ResetMonitor(*window);

    StreamLink link;
    std::size_t at = 0;
    for (int poll = 0; poll < 64 && at < size; ++poll) {
        const std::uint8_t ctrl = data[at++];
        std::vector<std::vector<std::uint8_t>> chunks;
        for (int a = 0; a < (ctrl >> 6) + 1 && at < size; ++a) {
            const std::size_t n = std::min<std::size_t>((ctrl & 0x0F) + 1, size - at);
            chunks.emplace_back(data + at, data + at + n);
            at += n;
        }
        link.schedule(std::move(chunks), (ctrl & 0x20) != 0);
        PollAcceptor(s, link, (ctrl & 0x10) ? 1 : 0);
        s.Delay = static_cast<Byte>(ctrl % 51);
        UpdateMonitor(s, *window);
        checkInvariants(s);
    }
    return 0;
}
