#pragma once

#include "fakeport.h"

#include <deque>
#include <optional>

namespace kora::test {

// An acceptor that answers each host message with the next entry of a
// script, at once: a reply built from what it reports, echoing the
// message's acknowledgement bit; the reply before again, byte for byte; a
// burst of noise; or nothing. What the faces do with each poll then depends
// on the messages alone, never on timing.
class ScriptedPort : public FakePort
{
public:
    enum class Kind { Report, Repeat, Noise, Silence };
    struct Entry
    {
        Kind kind = Kind::Report;
        std::uint8_t state = 0x01; // reply byte 4
        int credit = 0;
    };

    explicit ScriptedPort(std::deque<Entry> script) : entries(std::move(script)) {}

    void write(std::string_view text) override
    {
        FakePort::write(text);
        if (entries.empty())
            return;
        const Entry e = entries.front();
        entries.pop_front();
        const std::uint8_t ack = text.size() > 2 ? std::uint8_t(text[2]) & 1 : 0;
        switch (e.kind) {
        case Kind::Report: last = reply(ack, e), waiting = last; break;
        case Kind::Repeat: waiting = last; break;
        case Kind::Noise: waiting = std::vector<std::uint8_t>(13, 0x55); break;
        case Kind::Silence: break;
        }
    }
    int waitingCount() override { return FakePort::waitingCount(), int(waiting.size()); }
    std::vector<std::uint8_t> readAll() override
    {
        FakePort::readAll();
        return std::exchange(waiting, {});
    }
    void waitForInput(Deadline deadline, int wanted) override
    {
        if (waiting.empty())
            FakePort::waitForInput(deadline, wanted);
    }
    bool done() const { return entries.empty(); }
    // A reply that comes after the poll's wait has ended, for the next read.
    void arriveLate(const Entry& e, std::uint8_t ack)
    {
        last = reply(ack, e);
        waiting.insert(waiting.end(), last.begin(), last.end());
    }

private:
    static std::vector<std::uint8_t> reply(std::uint8_t ack, const Entry& e)
    {
        std::vector<std::uint8_t> r{0x02, 0x0B, std::uint8_t(0x20 | ack), e.state, 0x10,
                                    std::uint8_t(e.credit << 3), 0x4B, 0x01, 0x03, 0x03, 0};
        for (int i = 1; i <= 8; ++i)
            r[10] ^= r[std::size_t(i)];
        return r;
    }

    std::deque<Entry> entries;
    std::vector<std::uint8_t> waiting;
    std::vector<std::uint8_t> last;
};

} // namespace kora::test
