#pragma once

#include "protocol/acceptorlink.h"

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <vector>

namespace kora {

// A link whose far end is a byte stream from the fuzzer. Each poll gets a
// few "arrivals"; once they are used up the device counts as gone, so a poll
// without a full reply ends at once instead of sleeping out its time-out.
class StreamLink : public AcceptorLink
{
public:
    void schedule(std::vector<std::vector<std::uint8_t>> chunks, bool failing)
    {
        arrivals.assign(chunks.begin(), chunks.end());
        open = true;
        failOps = failing;
    }

    bool isOpen() const override { return open; }
    void write(std::string_view text) override
    {
        check();
        sent += text.size();
    }
    int waitingCount() override
    {
        check();
        return static_cast<int>(waiting.size());
    }
    std::vector<std::uint8_t> readAll() override
    {
        check();
        std::vector<std::uint8_t> all(waiting.begin(), waiting.end());
        waiting.clear();
        return all;
    }
    void discardInput() override { waiting.clear(); }
    void waitForInput(Deadline, int) override
    {
        if (arrivals.empty()) {
            open = false;
            return;
        }
        waiting.insert(waiting.end(), arrivals.front().begin(), arrivals.front().end());
        arrivals.pop_front();
    }

    std::size_t arrivalsLeft() const { return arrivals.size(); }

    std::size_t sent = 0;

private:
    void check() const
    {
        if (failOps)
            throw std::runtime_error("port refused the operation");
    }

    std::deque<std::uint8_t> waiting;
    std::deque<std::vector<std::uint8_t>> arrivals;
    bool open = true;
    bool failOps = false;
};

} // namespace kora
