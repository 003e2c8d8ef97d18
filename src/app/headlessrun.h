#pragma once

#include "app/faultwatch.h"
#include "app/headlessoptions.h"
#include "app/jsonlines.h"
#include "app/metricsfile.h"
#include "engine/planrun.h"
#include "engine/sessionengine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// The session engine without the window: each event told as a JSON line
// instead of shown. Ends the event loop when the plan's duration or bill
// count is reached or nobody reads the lines any more.
class HeadlessRun : public QObject
{
    Q_OBJECT

public:
    HeadlessRun(std::unique_ptr<SerialPort> port, HeadlessPlan plan, int outputFd);

    // The engine under this face, for whoever owns the run (a test ticks it
    // by hand).
    SessionEngine& engine() { return engine_; }

    // Opens the log, the metrics file and the port and starts polling. Gives
    // the exit status when the run ends here: 2 when the log or the metrics
    // file cannot be written, 3 when the
    // port cannot, as end() when the output ends at once; the reason is on
    // stderr.
    std::optional<int> begin();
    // Writes the stop line, closes the port and gives the output a last
    // moment to get out (see FinishOutput). Once the event loop is over.
    // Gives the exit status.
    int end();

private:
    // A line of the journal about the port, in the one wording every such
    // line has: "port N (DEVICE): ...".
    QString portLine(QString text) const;
    void connectEngine();
    bool openMetrics(const QString& device);
    void showPoll(const PollNotes& notes);
    void reportCounted(const FrameNote& note);
    void reportFrame(const FrameNote& note, const std::vector<BillCycle>& ended);
    void reportBill(const BillCycle& cycle);
    void reportOutcome();
    void reportFlags();
    void emitEvent(JsonObject line);
    bool outputEnded();
    JsonObject eventLine(const char* name) const;
    void tellContinuation();
    JsonObject withPort(JsonObject line) const;
    void stopPolling();
    void beginTestPlan();
    void reportPlanStep(std::size_t step);
    void reportPlanBill();
    void reportVerdict();
    int planStatus(int status) const;

    HeadlessPlan plan_;
    SessionEngine engine_;
    RunState& s_;
    JsonLines out_;
    QTimer durationTimer_;
    QElapsedTimer readerAsked_; // when a dead reader of the lines was last looked for
    int outcome_ = -1;          // NRFlag of the polls since the last link line; -1 before the first
    long outcomePolls_ = 0;
    std::vector<const char*> flags_;   // set flags as last reported
    MetricsFile* metrics_ = nullptr;   // with --metrics
    std::optional<FaultWatch> faults_; // from begin(), named by the port
    QString device_;                   // what the port number reached at the start
    QString portHead_;                 // "port 1 (/dev/ttyUSB0)", from begin()
    bool running_ = false;
    bool ended_ = false;
    PlanRun* testPlan_ = nullptr; // with --plan, from begin()
    // Why a plan still running at the end is incomplete.
    std::string planCutShort_ = "the run was stopped before the plan's last step";
};

} // namespace kora
