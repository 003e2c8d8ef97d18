#include "app/headlessrun.h"

#include "app/runoutput.h"
#include "protocol/counting.h"
#include "protocol/poll.h"
#include "protocol/pollreport.h"
#include "serial/serialerror.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>

namespace kora {

namespace {

void say(const QString& text)
{
    std::fprintf(stderr, "kora232-headless: %s\n", qPrintable(text));
}

std::string jsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (const std::string& item : items)
        out += (out.size() > 1 ? "," : "") + item;
    return out + "]";
}

} // namespace

HeadlessRun::HeadlessRun(PortMap ports, HeadlessPlan plan, int outputFd)
    : plan_(std::move(plan)), port_(std::move(ports)), keeper_(port_), out_(outputFd)
{
    // The window's start-up, with the operator's choices from the plan.
    s_.SetStartupValues();
    s_.PortSelect = static_cast<Byte>(plan_.portNumber);
    s_.PollRate = static_cast<std::int16_t>(plan_.pollRateMs);
    for (int n = 1; n <= 7; ++n)
        s_.BillEnable(n) = plan_.bills[static_cast<std::size_t>(n - 1)] ? 1 : 0;
    port_.setPortNumber(plan_.portNumber);
    ConfigureAcceptorLine(port_);

    pollTimer_.setInterval(plan_.pollRateMs);
    delayTimer_.setInterval(DelayTickPeriod);
    durationTimer_.setSingleShot(true);
    durationTimer_.setTimerType(Qt::PreciseTimer); // a coarse one may end a long run seconds late
    connect(&pollTimer_, &QTimer::timeout, this, &HeadlessRun::pollTick);
    connect(&delayTimer_, &QTimer::timeout, this, [this] { AdvanceDelay(s_); });
    connect(&durationTimer_, &QTimer::timeout, this, &HeadlessRun::stopPolling);
    keeper_.onLost = [this](const QString& reason) {
        session_.deviceLost(reason.toStdString());
        say(QStringLiteral("%1; trying the same device again at each poll").arg(reason));
        emitEvent(event("lost"));
    };
    // Polling goes on; the run's exit status tells of the rows lost.
    session_.onLogFailure = [this](const std::string& why) {
        say(QStringLiteral("logging stopped: %1").arg(QString::fromStdString(why)));
        emitEvent(event("log-failed").text("reason", why));
    };
}

std::optional<int> HeadlessRun::begin()
{
    if (std::string why;
        !plan_.logPath.isEmpty() && !session_.log().open(plan_.logPath.toStdString(), &why)) {
        say(QStringLiteral("cannot log to %1").arg(QString::fromStdString(why)));
        return 2;
    }
    // START, as the button does it; the first open is at once rather than at
    // the first tick, so that a port that cannot be had ends the program.
    const QString device = port_.deviceFor(plan_.portNumber);
    keeper_.beginRun();
    session_.start(RunDescription(port_, plan_.portNumber));
    s_.StartStop = 1;
    s_.ClearStatus();
    try {
        keeper_.ensureOpen(plan_.portNumber);
    } catch (const SerialError& e) {
        keeper_.endRun();
        session_.stop(e.describe().toStdString());
        say(e.describe());
        return 3;
    }
    running_ = true;

    std::vector<std::string> bills;
    for (int n = 1; n <= 7; ++n)
        if (plan_.bills[static_cast<std::size_t>(n - 1)])
            bills.push_back(std::to_string(n));
    emitEvent(event("start")
                  .number("port", plan_.portNumber)
                  .text("device", device.toStdString())
                  .number("poll_rate", plan_.pollRateMs)
                  .raw("bills", jsonArray(bills))
                  .flag("escrow", plan_.escrow));
    if (!running_)
        return end();
    // Delay starts at 0 here as the window's does at start-up, so a bill
    // stacked in the first half second is not counted here either. Started
    // together, as the window's are, the two timers share their wake-ups.
    delayTimer_.start();
    pollTimer_.start();
    if (plan_.durationMs)
        durationTimer_.start(*plan_.durationMs);
    return std::nullopt;
}

void HeadlessRun::pollTick()
{
    if (!running_)
        return;
    // A reader that died is noticed here even when no event is due.
    if (outputEnded())
        return;
    // A device that went away still gets its poll, as in the window: it
    // fails at once, and the next tick tries the device again.
    if (!port_.isOpen() && !openPort())
        return;
    PollTiming timing;
    PollAcceptor(s_, port_, plan_.escrow ? 1 : 0, &timing);
    const int bill = BillToCount(s_);
    if (bill) {
        ++counts_[static_cast<std::size_t>(bill - 1)];
        ++total_;
    }
    session_.poll(s_, timing, bill, bill ? counts_[static_cast<std::size_t>(bill - 1)] : 0, total_);
    reportOutcome();
    reportFlags();
    if (bill)
        countBill(bill);
}

bool HeadlessRun::openPort()
{
    try {
        if (keeper_.ensureOpen(s_.PortSelect) == LinkKeeper::Result::Reconnected) {
            session_.reconnected();
            say(QStringLiteral("reconnected to %1").arg(port_.device()));
            emitEvent(event("reconnected"));
        }
    } catch (const SerialError& e) {
        // Only a port closed other than by going away gets here; it is tried
        // again at the next tick, and said once.
        if (refusal_ != e.describe())
            say(e.describe());
        refusal_ = e.describe();
        return false;
    }
    refusal_.clear();
    return true;
}

void HeadlessRun::countBill(int bill)
{
    emitEvent(event("stacked")
                  .number("bill", bill)
                  .number("count", counts_[static_cast<std::size_t>(bill - 1)])
                  .number("total", total_));
    if (plan_.untilBills && total_ >= *plan_.untilBills)
        stopPolling();
}

void HeadlessRun::reportOutcome()
{
    if (s_.NRFlag == outcome_) {
        ++outcomePolls_;
        return;
    }
    emitEvent(event("link")
                  .text("status", OutcomeName(s_.NRFlag))
                  .number("previous_polls", outcomePolls_));
    outcome_ = s_.NRFlag;
    outcomePolls_ = 1;
}

// A failed poll leaves the last good reply's flags in place, so the set
// changes only with a good reply that says something new.
void HeadlessRun::reportFlags()
{
    const std::vector<const char*> set = SetFlags(s_);
    if (set == flags_)
        return;
    flags_ = set;
    std::vector<std::string> names;
    for (const char* name : set)
        names.push_back(JsonString(name));
    emitEvent(event("state").raw("flags", jsonArray(names)));
}

JsonObject HeadlessRun::event(const char* name) const
{
    return JsonObject()
        .text("t", IsoLocalTime(std::chrono::system_clock::now()))
        .text("event", name);
}

void HeadlessRun::emitEvent(JsonObject line)
{
    if (!out_.write(line))
        outputEnded();
}

// Lines that cannot go on end the run, said once.
bool HeadlessRun::outputEnded()
{
    if (out_.ended() == JsonLines::End::No)
        return false;
    if (running_) {
        say(QStringLiteral("%1; stopping").arg(QString::fromStdString(out_.endText())));
        stopPolling();
    }
    return true;
}

void HeadlessRun::stopPolling()
{
    stopTimers();
    QCoreApplication::quit();
}

void HeadlessRun::stopTimers()
{
    running_ = false;
    pollTimer_.stop();
    delayTimer_.stop();
    durationTimer_.stop();
}

int HeadlessRun::end()
{
    if (ended_)
        return 0;
    ended_ = true;
    stopTimers();
    keeper_.endRun();
    s_.StartStop = 0;
    session_.stop(CountsText(counts_));

    JsonObject counts;
    for (int n = 1; n <= 7; ++n)
        counts.number(std::to_string(n), counts_[static_cast<std::size_t>(n - 1)]);
    JsonObject link;
    for (const auto& [name, value] : session_.stats().fields(LinkStats::Clock::now()))
        link.raw(name, value.empty() ? "null" : value);
    out_.write(
        event("stop").raw("counts", counts.str()).number("total", total_).raw("link", link.str()));
    port_.close();
    return FinishOutput(out_, session_.log());
}

} // namespace kora
