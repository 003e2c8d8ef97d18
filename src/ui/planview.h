#pragma once

#include "engine/planrun.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QThread;

namespace kora {

class Kora232;

// The bench test plan's window, one of its own as History is: the plan file,
// the unit's fields and the operator, then the plan's progress ("insert bill
// 3: 4 of 10"), each note refused, the criteria as judged so far and the
// verdict. Running a plan sets the window's own controls to the plan's poll
// period, bills and escrow, presses START if the run is stopped, and needs
// the session log open, since a plan is judged again from its log. Changing
// a control mid-plan, or STOP, ends the plan INCOMPLETE, naming why.
class PlanView : public QWidget
{
    Q_OBJECT

public:
    PlanView(Kora232& window, QWidget* parent);
    // A certificate under way is finished first: its file is whole or absent.
    ~PlanView() override;

    QLineEdit* planFile() const { return file; }
    // Serial number, model, firmware, notes and operator, in that order.
    QLineEdit* field(int i) const { return fields.at(static_cast<std::size_t>(i)); }
    QPushButton* runButton() const { return run; }
    QLabel* progress() const { return progressText; }
    QLabel* verdict() const { return verdictText; }
    QLabel* criteria() const { return criteriaText; }
    QPlainTextEdit* events() const { return eventsText; }
    // The plan run last, if any.
    const PlanRun* planRun() const { return plan; }

    // Runs the plan in planFile(); false, with why shown, when it cannot.
    bool runPlan();
    QPushButton* certificateButton() const { return certify; }
    // The certificate of the log's plan runs, made on a thread of its own
    // from the log's file, as --certificate makes it.
    void saveCertificateTo(const QString& pdf);

signals:
    void planEnded();
    // A certificate has been saved (status 0) or could not be (see ReportResult).
    void certificateDone(int status);

private:
    void choosePlan();
    void askForCertificateFile();
    void applySettings(const TestPlan& test);
    void showEscrowAction(bool stack);
    void showStep(std::size_t step);
    void showCycle();
    void showCriteria();
    void showVerdict();
    void say(const QString& line);

    Kora232& w;
    PlanRun* plan = nullptr;
    QLineEdit* file = nullptr;
    std::array<QLineEdit*, 5> fields{};
    QPushButton* run = nullptr;
    QPushButton* certify = nullptr;
    QThread* certifying = nullptr;
    QLabel* progressText = nullptr;
    QLabel* verdictText = nullptr;
    QLabel* criteriaText = nullptr;
    QPlainTextEdit* eventsText = nullptr;
};

} // namespace kora
