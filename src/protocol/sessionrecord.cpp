#include "protocol/sessionrecord.h"

#include "protocol/pollreport.h"

namespace kora {

void SessionRecord::start(const std::string& what)
{
    stats_.start(LinkStats::Clock::now());
    polls_ = 0;
    pending_.clear();
    write(MarkRow("start", 0, what));
}

void SessionRecord::poll(const RunState& s, const PollTiming& t, int counted, long count,
                         long total)
{
    ++polls_;
    stats_.addPoll(s.NRFlag, t.replied ? std::optional(*t.replied - t.sent) : std::nullopt);
    if (!log_.isOpen()) { // a row is text for the log alone: without one, no time goes into it
        pending_.clear();
        return;
    }
    std::string events = pending_;
    const std::string own = PollEvents(s, counted, count, total);
    if (!own.empty())
        events += (events.empty() ? "" : ", ") + own;
    pending_.clear();
    write(PollRow(s, t, polls_, events));
}

void SessionRecord::deviceLost(const std::string& reason)
{
    pending_ += (pending_.empty() ? "" : ", ") + ("device lost: " + reason);
}

void SessionRecord::reconnected()
{
    stats_.addReconnect();
    pending_ += (pending_.empty() ? "" : ", ") + std::string("reconnected");
}

void SessionRecord::stop(const std::string& counts)
{
    write(MarkRow("stop", polls_, counts + "; " + stats_.text(LinkStats::Clock::now())));
}

void SessionRecord::write(const std::vector<std::string>& row)
{
    if (log_.isOpen() && !log_.write(row) && onLogFailure)
        onLogFailure(log_.failure());
}

} // namespace kora
