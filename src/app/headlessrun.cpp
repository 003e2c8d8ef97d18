#include "app/headlessrun.h"

#include "app/runoutput.h"
#include "app/sayline.h"
#include "record/pollreport.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <chrono>
#include <cmath>

namespace kora {

namespace {

std::string jsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (const std::string& item : items)
        out += (out.size() > 1 ? "," : "") + item;
    return out + "]";
}

// A bill the acceptor named, or null for one it never named.
JsonObject withBill(JsonObject line, int bill)
{
    return bill ? line.number("bill", bill) : line.raw("bill", "null");
}

// The acceptance figures: the totals, and each denomination that came, the
// unknown ones too.
std::string billsJson(const BillFigures& figures)
{
    JsonObject bills;
    for (const auto& [name, value] : figures.fields())
        bills.raw(name, value.empty() ? "null" : value);
    JsonObject each;
    for (int n = 0; n <= 7; ++n) {
        const BillFigures::Row& r = figures.of(n);
        if (r.inserted == 0)
            continue;
        // Row 0: the bills refused before the acceptor named them.
        const std::string name = n ? std::to_string(n) : "unknown";
        each.raw(name, JsonObject()
                           .number("inserted", r.inserted)
                           .number("stacked", r.stacked)
                           .number("returned", r.returned)
                           .number("rejected", r.rejected)
                           .number("other", r.other)
                           .str());
    }
    return bills.raw("per_bill", each.str()).str();
}

} // namespace

HeadlessRun::HeadlessRun(std::unique_ptr<SerialPort> port, HeadlessPlan plan, int outputFd)
    : plan_(std::move(plan)), engine_(std::move(port)), s_(engine_.state()), out_(outputFd)
{
    // The window's start-up, with the operator's choices from the plan.
    engine_.StartUp();
    engine_.ChoosePort(plan_.portNumber);
    engine_.SetPollRate(plan_.pollRateMs);
    for (int n = 1; n <= 7; ++n)
        if (!plan_.bills[static_cast<std::size_t>(n - 1)])
            engine_.ToggleBill(n);
    engine_.SetEscrowMode(plan_.escrow);
    engine_.SetEscrowAction(plan_.stackEscrowed);
    engine_.pollTimer()->setInterval(plan_.pollRateMs);

    durationTimer_.setSingleShot(true);
    durationTimer_.setTimerType(Qt::PreciseTimer); // a coarse one may end a long run seconds late
    connect(&durationTimer_, &QTimer::timeout, this, [this] {
        planCutShort_ = "--duration ended the run";
        stopPolling();
    });
    connectEngine();
}

void HeadlessRun::connectEngine()
{
    // A reader that died is noticed within a second even when no event is
    // due; asking at every tick would cost a system call each poll.
    readerAsked_.start();
    connect(&engine_, &SessionEngine::ticked, this, [this] {
        if (readerAsked_.hasExpired(1000)) {
            readerAsked_.restart();
            outputEnded();
        }
    });
    connect(&engine_, &SessionEngine::polled, this, &HeadlessRun::showPoll);
    connect(&engine_, &SessionEngine::billEnded, this, &HeadlessRun::reportBill);
    connect(&engine_, &SessionEngine::readAtStop, this, [this](const PollNotes& notes) {
        reportFlags();
        for (const FrameNote& note : notes.frames)
            note.count.counted() ? reportCounted(note) : reportFrame(note, notes.cycles);
    });
    connect(&engine_, &SessionEngine::deviceLost, this, [this](const QString& reason) {
        Say(Priority::Warning, portLine(reason + QStringLiteral("; trying it again at each poll")));
        emitEvent(eventLine("lost"));
    });
    connect(&engine_, &SessionEngine::reconnected, this, [this](const QString& device) {
        QString settings = device; // "port 1 (/dev/ttyUSB0), 9600, E, 7, 1"
        if (settings.startsWith(portHead_))
            settings.remove(0, portHead_.size());
        Say(Priority::Info, portLine(QStringLiteral("reconnected") + settings));
        emitEvent(eventLine("reconnected"));
    });
    connect(&engine_, &SessionEngine::heldByOther, this, [this](const QString& message) {
        Say(Priority::Warning, portLine(message));
        emitEvent(eventLine("refused").text("reason", message.toStdString()));
    });
    // Polling goes on; the run's exit status tells of the rows lost.
    engine_.record().onLogFailure = [this](const std::string& why) {
        Say(Priority::Error,
            QStringLiteral("logging stopped: %1").arg(QString::fromStdString(why)));
        emitEvent(eventLine("log-failed").text("reason", why));
    };
}

std::optional<int> HeadlessRun::begin()
{
    if (std::string why; !plan_.logPath.isEmpty() &&
                         !engine_.record().log().open(plan_.logPath.toStdString(), &why)) {
        Say(Priority::Error, QStringLiteral("cannot log to %1").arg(QString::fromStdString(why)));
        return 2;
    }
    device_ = engine_.port().deviceFor(plan_.portNumber);
    portHead_ = QStringLiteral("port %1 (%2)").arg(plan_.portNumber).arg(device_);
    faults_.emplace(portHead_.toStdString());
    if (!plan_.metricsPath.isEmpty() && !openMetrics(device_))
        return 2;
    // START, as the button does it; the first open is at once rather than at
    // the first tick, so that a port that cannot be had ends the program.
    engine_.Start();
    QString refusal;
    const auto refused = connect(&engine_, &SessionEngine::openRefused, this,
                                 [&refusal](const QString& reason) { refusal = reason; });
    const bool opened = engine_.EnsureOpen();
    disconnect(refused);
    if (!opened) {
        Say(Priority::Error, portLine(refusal));
        return 3;
    }
    running_ = true;
    if (!plan_.stackEscrowed && !plan_.escrow)
        Say(Priority::Info,
            QStringLiteral("with escrow mode off the acceptor stacks each bill on its own: "
                           "nothing will be returned"));

    std::vector<std::string> bills;
    for (int n = 1; n <= 7; ++n)
        if (plan_.bills[static_cast<std::size_t>(n - 1)])
            bills.push_back(std::to_string(n));
    tellContinuation();
    emitEvent(withPort(eventLine("start"))
                  .number("poll_rate", plan_.pollRateMs)
                  .raw("bills", jsonArray(bills))
                  .flag("escrow", plan_.escrow)
                  .text("escrow_action", plan_.stackEscrowed ? "stack" : "return")
                  .text("continuation", engine_.continuation()));
    if (plan_.testPlan)
        beginTestPlan();
    if (!running_)
        return end();
    engine_.StartTimers();
    if (metrics_)
        metrics_->start();
    if (plan_.durationMs)
        durationTimer_.start(*plan_.durationMs);
    return std::nullopt;
}

// A log whose frames are not gone on from leaves a bill under way to the
// first-frame rule, which counts no stacked report it finds: said, with why.
void HeadlessRun::tellContinuation()
{
    constexpr std::string_view NotContinued = "not continued: ";
    const std::string& c = engine_.continuation();
    if (c.starts_with(NotContinued))
        Say(Priority::Warning,
            QStringLiteral("the log is not continued (%1): the first frame read is judged afresh")
                .arg(QString::fromStdString(c.substr(NotContinued.size()))));
}

// The first file says the poller is not up yet, so that one which cannot
// have the port leaves no file saying it is.
bool HeadlessRun::openMetrics(const QString& device)
{
    metrics_ = new MetricsFile(engine_, plan_.metricsPath, device.toStdString(),
                               std::chrono::seconds(plan_.metricsIntervalS), this);
    QString why;
    if (metrics_->write(false, &why))
        return true;
    Say(Priority::Error, QStringLiteral("cannot write the metrics to %1").arg(why));
    return false;
}

void HeadlessRun::showPoll(const PollNotes& notes)
{
    if (notes.bitEchoMissing)
        Say(Priority::Warning,
            QStringLiteral("the acceptor does not echo the acknowledgement bit; each poll now "
                           "takes the first good reply as its answer"));
    reportOutcome();
    reportFlags();
    for (const FaultWatch::Line& line : faults_->poll(s_, notes.timing.ended))
        Say(line.priority, line.text);
    for (const FrameNote& note : notes.frames) {
        if (note.count.counted())
            reportCounted(note);
        else
            reportFrame(note, notes.cycles);
    }
}

// Each counted bill is told with the engine's count and total right after it.
void HeadlessRun::reportCounted(const FrameNote& note)
{
    emitEvent(eventLine("stacked")
                  .number("bill", note.count.bill)
                  .number("count", note.billCount)
                  .number("total", note.total));
    if (plan_.untilBills && note.total >= *plan_.untilBills) {
        planCutShort_ = "--until-bills ended the run";
        stopPolling();
    }
}

void HeadlessRun::reportBill(const BillCycle& cycle)
{
    emitEvent(withBill(eventLine("bill"), cycle.bill)
                  .text("outcome", OutcomeWord(cycle.outcome))
                  .flag("counted", cycle.count.counted())
                  .flag("after_jam", cycle.jam)
                  .number("ms", cycle.duration.count()));
}

// A report that names no bill (one returned as well, or with no credit) may
// still end the cycle of a bill the acceptor named before: the line names it.
void HeadlessRun::reportFrame(const FrameNote& note, const std::vector<BillCycle>& ended)
{
    const FrameCount& c = note.count;
    if (c.reason == CountReason::NotStacked)
        return;
    int bill = c.bill;
    for (const BillCycle& cycle : ended)
        if (bill == 0 && cycle.count.reason == c.reason)
            bill = cycle.bill;
    emitEvent(withBill(eventLine("not-counted"), bill).text("reason", ReasonName(c.reason)));
}

void HeadlessRun::reportOutcome()
{
    if (s_.NRFlag == outcome_) {
        ++outcomePolls_;
        return;
    }
    emitEvent(eventLine("link")
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
    emitEvent(eventLine("state").raw("flags", jsonArray(names)));
}

JsonObject HeadlessRun::eventLine(const char* name) const
{
    return JsonObject()
        .text("t", IsoLocalTime(std::chrono::system_clock::now()))
        .text("event", name);
}

// The port as numbered and the device it reached at the start, so that the
// lines of two pollers on one output can be told apart.
JsonObject HeadlessRun::withPort(JsonObject line) const
{
    return line.number("port", plan_.portNumber).text("device", device_.toStdString());
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
        const Priority priority =
            out_.ended() == JsonLines::End::ReaderGone ? Priority::Info : Priority::Error;
        Say(priority, QStringLiteral("%1; stopping").arg(QString::fromStdString(out_.endText())));
        planCutShort_ = "standard output ended";
        stopPolling();
    }
    return true;
}

// Polling ends here and the event loop after this event; the stop line and
// the log's stop row follow in end().
void HeadlessRun::stopPolling()
{
    running_ = false;
    engine_.pollTimer()->stop();
    engine_.delayTimer()->stop();
    durationTimer_.stop();
    QCoreApplication::quit();
}

int HeadlessRun::end()
{
    if (ended_)
        return 0;
    ended_ = true;
    stopPolling();
    if (testPlan_)
        testPlan_->abandon(planCutShort_);
    engine_.Finish();

    JsonObject counts;
    long total = 0;
    for (int n = 1; n <= 7; ++n) {
        const long count = engine_.counts()[static_cast<std::size_t>(n - 1)];
        counts.number(std::to_string(n), count);
        total += count;
    }
    JsonObject link;
    for (const auto& [name, value] : engine_.record().stats().fields(LinkStats::Clock::now()))
        link.raw(name, value.empty() ? "null" : value);
    out_.write(withPort(eventLine("stop"))
                   .raw("counts", counts.str())
                   .number("total", total)
                   .raw("link", link.str())
                   .raw("bills", billsJson(engine_.figures())));
    const bool metricsWritten = !metrics_ || metrics_->finish();
    if (faults_)
        for (const FaultWatch::Line& line : faults_->finish(std::chrono::steady_clock::now()))
            Say(line.priority, line.text);
    const int status = FinishOutput(out_, engine_.record().log());
    return planStatus(metricsWritten ? status : 4);
}

// Lost lines or rows say more than a verdict that rests on them.
int HeadlessRun::planStatus(int status) const
{
    if (status != 0 || !testPlan_)
        return status;
    switch (testPlan_->verdict()) {
    case PlanVerdict::Fail:
        return 5;
    case PlanVerdict::Incomplete:
        return 6;
    default:
        return 0;
    }
}

void HeadlessRun::beginTestPlan()
{
    testPlan_ = new PlanRun(engine_, *plan_.testPlan, plan_.planPeople, this);
    const TestPlan& test = testPlan_->plan();
    const PlanPeople& who = testPlan_->who();
    emitEvent(eventLine("plan")
                  .text("name", test.name.toStdString())
                  .text("sha256", test.digest.toStdString())
                  .number("steps", static_cast<long long>(test.deck.size()))
                  .raw("unit", JsonObject()
                                   .text("serial", who.unitSerial.toStdString())
                                   .text("model", who.unitModel.toStdString())
                                   .text("firmware", who.unitFirmware.toStdString())
                                   .text("notes", who.unitNotes.toStdString())
                                   .str())
                  .text("operator", who.operatorName.toStdString()));
    connect(testPlan_, &PlanRun::stepBegun, this, &HeadlessRun::reportPlanStep);
    connect(testPlan_, &PlanRun::cycleJudged, this, &HeadlessRun::reportPlanBill);
    connect(testPlan_, &PlanRun::finished, this, &HeadlessRun::reportVerdict);
    testPlan_->begin();
}

void HeadlessRun::reportPlanStep(std::size_t step)
{
    const PlanStep& s = testPlan_->plan().deck.at(step);
    emitEvent(eventLine("plan-step")
                  .number("step", static_cast<long long>(step + 1))
                  .number("of", static_cast<long long>(testPlan_->plan().deck.size()))
                  .number("bill", s.bill)
                  .number("notes", s.notes)
                  .text("must", s.mustRefuse ? "refuse" : "take"));
}

// "insert bill 3: 4 of 10", as a line.
void HeadlessRun::reportPlanBill()
{
    const PlanJudge& judge = testPlan_->judge();
    const std::size_t step = judge.lastCycleStep();
    const BillCycle& cycle = *judge.lastCycle();
    emitEvent(withBill(eventLine("plan-bill"), cycle.bill)
                  .number("step", static_cast<long long>(step + 1))
                  .text("outcome", OutcomeWord(cycle.outcome))
                  .number("done", judge.doneIn(step))
                  .number("of", judge.deck().at(step).notes)
                  .number("ms", cycle.duration.count()));
}

void HeadlessRun::reportVerdict()
{
    const PlanJudge& judge = testPlan_->judge();
    std::vector<std::string> criteria, steps;
    for (const Criterion& c : judge.criteria())
        criteria.push_back(JsonObject()
                               .text("name", c.name)
                               .text("threshold", c.threshold)
                               .text("measured", c.measured)
                               .text("result", c.pass ? "PASS" : "FAIL")
                               .str());
    for (std::size_t i = 0; i < judge.deck().size(); ++i) {
        const StepFigures& f = judge.figures(i);
        const std::optional<double> median = f.medianMs();
        steps.push_back(JsonObject()
                            .number("bill", judge.deck()[i].bill)
                            .text("must", judge.deck()[i].mustRefuse ? "refuse" : "take")
                            .number("notes", judge.deck()[i].notes)
                            .number("inserted", f.inserted)
                            .number("taken", f.taken)
                            .number("refused", f.refused)
                            .number("jams", f.jams)
                            .raw("median_ms", median ? std::to_string(std::lround(*median))
                                                     : std::string("null"))
                            .str());
    }
    JsonObject line = eventLine("verdict").text("verdict", VerdictWord(testPlan_->verdict()));
    if (!testPlan_->incompleteWhy().empty())
        line.text("why", testPlan_->incompleteWhy());
    emitEvent(line.raw("criteria", jsonArray(criteria)).raw("steps", jsonArray(steps)));
    stopPolling();
}

// The port's own texts are the window's notices too, worded as sentences:
// "Port 1 (/dev/ttyUSB0) is in use by another program", "Port 1
// (/dev/ttyUSB0): the device has gone away". The journal has them after
// the port's head, as the acceptor's faults are, so that one prefix finds
// every line of a port.
QString HeadlessRun::portLine(QString text) const
{
    static const QRegularExpression errorNumber(QStringLiteral("^Error (\\d+): "));
    const QRegularExpressionMatch error = errorNumber.match(text);
    if (error.hasMatch())
        text.remove(0, error.capturedLength());
    if (text.startsWith(portHead_, Qt::CaseInsensitive)) {
        text.remove(0, portHead_.size());
        for (const QLatin1String lead : {QLatin1String(": "), QLatin1String(" is "),
                                         QLatin1String(", "), QLatin1String(" ")})
            if (text.startsWith(lead)) {
                text.remove(0, lead.size());
                break;
            }
    }
    if (error.hasMatch())
        text += QStringLiteral(" (error %1)").arg(error.captured(1));
    return portHead_ + QStringLiteral(": ") + text;
}

} // namespace kora
