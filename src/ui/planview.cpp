#include "ui/planview.h"

#include "ui/certificate.h"
#include "ui/kora232.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>

namespace kora {

namespace {

const char* const FieldNames[] = {"Unit serial number", "Unit model", "Unit firmware", "Unit notes",
                                  "Operator"};

QString verdictColour(PlanVerdict v)
{
    return v == PlanVerdict::Pass   ? QStringLiteral("#1a7f37")
           : v == PlanVerdict::Fail ? QStringLiteral("#b42318")
                                    : QStringLiteral("#9a6700");
}

} // namespace

PlanView::PlanView(Kora232& window, QWidget* parent)
    : QWidget(parent, Qt::Window), w(window), file(new QLineEdit(this)),
      run(new QPushButton(QStringLiteral("Run plan"), this)),
      certify(new QPushButton(QStringLiteral("Save certificate…"), this)),
      progressText(new QLabel(this)), verdictText(new QLabel(this)), criteriaText(new QLabel(this)),
      eventsText(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("planView"));
    setWindowTitle(QStringLiteral("Test plan - Kora232"));
    auto* form = new QFormLayout;
    auto* choose = new QPushButton(QStringLiteral("Choose…"), this);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file, 1);
    fileRow->addWidget(choose);
    form->addRow(QStringLiteral("Plan file"), fileRow);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i] = new QLineEdit(this);
        form->addRow(QLatin1String(FieldNames[i]), fields[i]);
    }
    file->setObjectName(QStringLiteral("planFile"));
    run->setObjectName(QStringLiteral("runPlan"));
    progressText->setObjectName(QStringLiteral("planProgress"));
    verdictText->setObjectName(QStringLiteral("planVerdict"));
    criteriaText->setObjectName(QStringLiteral("planCriteria"));
    eventsText->setObjectName(QStringLiteral("planEvents"));
    eventsText->setReadOnly(true);
    QFont big = verdictText->font();
    big.setPointSizeF(big.pointSizeF() * 2.5);
    big.setBold(true);
    verdictText->setFont(big);
    verdictText->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(run);
    buttons->addWidget(certify);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    certify->setObjectName(QStringLiteral("saveCertificate"));
    certify->setEnabled(false);
    layout->addWidget(progressText);
    layout->addWidget(criteriaText);
    layout->addWidget(verdictText);
    layout->addWidget(eventsText, 1);
    resize(560, 640);
    connect(choose, &QPushButton::clicked, this, &PlanView::choosePlan);
    connect(run, &QPushButton::clicked, this, &PlanView::runPlan);
    connect(certify, &QPushButton::clicked, this, &PlanView::askForCertificateFile);
}

PlanView::~PlanView()
{
    if (certifying)
        certifying->wait();
}

void PlanView::askForCertificateFile()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Save the certificate as"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(QStringLiteral("PDF files (*.pdf)"));
    dialog->setDefaultSuffix(QStringLiteral("pdf"));
    connect(dialog, &QFileDialog::fileSelected, this, &PlanView::saveCertificateTo);
    dialog->open();
}

// A long log must not hold up the polls; rows still on their way get a
// moment.
void PlanView::saveCertificateTo(const QString& pdf)
{
    SessionLog& log = w.engine().record().log();
    const QString path = QString::fromStdString(log.path());
    if (certifying || path.isEmpty())
        return;
    log.drain(OutputQueue::Clock::now() + std::chrono::milliseconds(200));
    auto result = std::make_shared<ReportResult>();
    certifying = QThread::create([result, path, pdf] { *result = WriteCertificates(path, pdf); });
    certifying->setParent(this);
    connect(certifying, &QThread::finished, this, [this, result] {
        certifying->deleteLater();
        certifying = nullptr;
        progressText->setText(
            result->status ? QStringLiteral("Cannot save the certificate: %1").arg(result->message)
                           : QStringLiteral("Certificate saved: %1").arg(result->message));
        emit certificateDone(result->status);
    });
    certifying->start();
}

// Window-modal, so that the poll timer keeps its beat.
void PlanView::choosePlan()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Test plan"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setNameFilter(QStringLiteral("Test plans (*.json);;All files (*)"));
    connect(dialog, &QFileDialog::fileSelected, file, &QLineEdit::setText);
    dialog->open();
}

bool PlanView::runPlan()
{
    if (plan && plan->running())
        return false;
    QString why;
    const std::optional<TestPlan> test = ReadTestPlanFile(file->text(), &why);
    if (test && !w.engine().record().logging())
        why = QStringLiteral("Log to a file first (Log to file… in the monitor's menu): a plan "
                             "is judged again from its log.");
    if (!test || !why.isEmpty()) {
        verdictText->clear();
        progressText->setText(why);
        return false;
    }
    delete plan;
    plan = new PlanRun(
        w.engine(), *test,
        {field(0)->text(), field(1)->text(), field(2)->text(), field(3)->text(), field(4)->text()},
        this);
    connect(plan, &PlanRun::stepBegun, this, &PlanView::showStep);
    connect(plan, &PlanRun::cycleJudged, this, &PlanView::showCycle);
    connect(plan, &PlanRun::finished, this, &PlanView::showVerdict);
    eventsText->clear();
    verdictText->clear();
    applySettings(*test);
    if (w.state().StartStop == 0)
        w.PressStartStop();
    if (w.state().StartStop == 0) { // the port could not be opened
        progressText->setText(QStringLiteral("The run could not start."));
        return false;
    }
    say(QStringLiteral("plan %1 (SHA-256 %2) begins").arg(test->name, test->digest.left(16)));
    plan->begin();
    showCriteria();
    run->setEnabled(false); // one plan at a time
    certify->setEnabled(false);
    return true;
}

// Through the window's own controls, so that they show what the run does.
void PlanView::applySettings(const TestPlan& test)
{
    w.hsPoll()->setValue(test.pollMs);
    const std::vector<int> bills = test.bills();
    for (int k = 0; k < 7; ++k) {
        const bool wanted = std::find(bills.begin(), bills.end(), k + 1) != bills.end();
        if (w.chkBill(k)->isChecked() != wanted)
            w.chkBill(k)->click();
    }
    w.Check1()->setChecked(true);
    showEscrowAction(!test.deck.front().mustRefuse);
}

void PlanView::showEscrowAction(bool stack)
{
    w.engine().SetEscrowAction(stack);
    if (auto* action = w.findChild<QAction*>(stack ? QStringLiteral("stackEscrowed")
                                                   : QStringLiteral("returnEscrowed")))
        action->setChecked(true);
}

void PlanView::showStep(std::size_t step)
{
    const PlanStep& s = plan->plan().deck.at(step);
    if (step > 0)
        showEscrowAction(!s.mustRefuse);
    progressText->setText(QStringLiteral("insert bill %1: %2 of %3")
                              .arg(s.bill)
                              .arg(plan->judge().doneIn(step))
                              .arg(s.notes));
    say(QStringLiteral("step %1 of %2: %3 notes of bill %4 to %5")
            .arg(step + 1)
            .arg(plan->plan().deck.size())
            .arg(s.notes)
            .arg(s.bill)
            .arg(s.mustRefuse ? "refuse" : "take"));
}

void PlanView::showCycle()
{
    const PlanJudge& judge = plan->judge();
    const BillCycle& cycle = *judge.lastCycle();
    const std::size_t step = judge.lastCycleStep();
    const PlanStep& s = judge.deck().at(step);
    progressText->setText(QStringLiteral("insert bill %1: %2 of %3")
                              .arg(s.bill)
                              .arg(judge.doneIn(step))
                              .arg(s.notes));
    const bool refused =
        cycle.outcome == BillOutcome::Returned || cycle.outcome == BillOutcome::Rejected;
    if (cycle.outcome != BillOutcome::Stacked || s.mustRefuse)
        say(QString::fromStdString(cycle.text()) +
            (refused && !s.mustRefuse ? QStringLiteral(": refused, insert it again") : QString()));
    showCriteria();
}

void PlanView::showCriteria()
{
    QString rows;
    for (const Criterion& c : plan->judge().criteria())
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                    .arg(QString::fromStdString(c.name).toHtmlEscaped(),
                         QString::fromStdString(c.threshold).toHtmlEscaped(),
                         QString::fromStdString(c.measured).toHtmlEscaped(),
                         c.pass ? QStringLiteral("PASS") : QStringLiteral("<b>FAIL</b>"));
    criteriaText->setText(QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\"><tr><th "
                                         "align=\"left\">Criterion</th><th align=\"left\">"
                                         "Threshold</th><th align=\"left\">So far</th><th></th>"
                                         "</tr>%1</table>")
                              .arg(rows));
}

void PlanView::showVerdict()
{
    showCriteria();
    const PlanVerdict v = plan->verdict();
    QString text = QLatin1String(VerdictWord(v));
    if (!plan->incompleteWhy().empty())
        text += QStringLiteral(": ") + QString::fromStdString(plan->incompleteWhy());
    verdictText->setText(text);
    verdictText->setStyleSheet(QStringLiteral("color: %1").arg(verdictColour(v)));
    progressText->setText(QStringLiteral("The plan has ended: Save certificate… makes its "
                                         "certificate from %1.")
                              .arg(QString::fromStdString(w.engine().record().log().path())));
    certify->setEnabled(true);
    run->setEnabled(true);
    say(QStringLiteral("plan ends: ") + text);
    emit planEnded();
}

void PlanView::say(const QString& line)
{
    eventsText->appendPlainText(line);
}

} // namespace kora
