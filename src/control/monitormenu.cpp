#include "control/monitormenu.h"

#include "record/sessionrecord.h"
#include "ui/historyview.h"
#include "ui/kora232.h"
#include "ui/linkstatsview.h"
#include "ui/notice.h"
#include "ui/planview.h"
#include "ui/pollhistory.h"
#include "ui/rownotes.h"
#include "ui/sessionreport.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QThread>

namespace kora {

MonitorMenu::MonitorMenu(Kora232& window, SessionRecord& sessionRecord)
    : QObject(&window), w(window), record(sessionRecord), contextMenu(new QMenu(&window)),
      history(new PollHistory(&window))
{
    contextMenu->setObjectName(QStringLiteral("monitorMenu"));
    logTo =
        contextMenu->addAction(QStringLiteral("Log to file…"), this, &MonitorMenu::askForLogFile);
    stopLog =
        contextMenu->addAction(QStringLiteral("Stop logging"), this, &MonitorMenu::stopLogging);
    saveReport = contextMenu->addAction(QStringLiteral("Save report…"), this,
                                        &MonitorMenu::askForReportFile);
    saveReport->setObjectName(QStringLiteral("saveReport"));
    contextMenu->addSeparator();
    contextMenu->addAction(QStringLiteral("Link statistics…"), this, &MonitorMenu::showStatistics);
    contextMenu->addAction(QStringLiteral("History…"), this, &MonitorMenu::showHistory);
    contextMenu->addAction(QStringLiteral("Test plan…"), this, &MonitorMenu::showTestPlan)
        ->setObjectName(QStringLiteral("testPlan"));
    contextMenu->addAction(QStringLiteral("Copy history"), this, &MonitorMenu::copyHistory);
    addEscrowActions();
    connect(contextMenu, &QMenu::aboutToShow, this, [this] {
        logTo->setEnabled(!record.logging());
        stopLog->setEnabled(record.logging());
        saveReport->setEnabled(!record.log().path().empty() && !reporting);
    });

    connect(&w.engine(), &SessionEngine::started, history, &PollHistory::clear);
    connect(&w.engine(), &SessionEngine::recorded, history,
            [this](const PollNotes& notes) { history->add(w.state(), notes); });

    w.frmMonitor()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(w.frmMonitor(), &QWidget::customContextMenuRequested, this, &MonitorMenu::popUp);
}

MonitorMenu::~MonitorMenu()
{
    if (reporting)
        reporting->wait();
}

// What an escrowed bill is ordered, one of two, stacked from start-up.
void MonitorMenu::addEscrowActions()
{
    contextMenu->addSeparator();
    auto* group = new QActionGroup(this);
    for (const bool stack : {true, false}) {
        QAction* action = contextMenu->addAction(stack ? QStringLiteral("Stack escrowed bills")
                                                       : QStringLiteral("Return escrowed bills"));
        action->setCheckable(true);
        action->setChecked(w.state().Allow == (stack ? 1 : 0));
        action->setObjectName(stack ? QStringLiteral("stackEscrowed")
                                    : QStringLiteral("returnEscrowed"));
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, stack] { w.engine().SetEscrowAction(stack); });
    }
}

void MonitorMenu::popUp(const QPoint& at)
{
    contextMenu->popup(w.frmMonitor()->mapToGlobal(at));
}

namespace {

// A file dialog for a file to write, window-modal so that the poll timer
// keeps its beat; it goes once closed.
QFileDialog* saveDialog(QWidget& parent, const QString& title, const QString& name,
                        const QString& filter, const QString& suffix)
{
    auto* dialog = new QFileDialog(&parent, title);
    dialog->setObjectName(name);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix(suffix);
    return dialog;
}

} // namespace

void MonitorMenu::askForLogFile()
{
    QFileDialog* dialog =
        saveDialog(w, QStringLiteral("Log the session to"), QStringLiteral("logFileDialog"),
                   QStringLiteral("CSV files (*.csv);;All files (*)"), QStringLiteral("csv"));
    // A log is appended to, never overwritten: nothing to confirm.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    connect(dialog, &QFileDialog::fileSelected, this, &MonitorMenu::startLogging);
    dialog->open();
}

void MonitorMenu::startLogging(const QString& path)
{
    std::string why;
    if (!record.openLog(path.toStdString(), &why))
        ShowNotice(w, NoticeKind::Warning, QStringLiteral("logError"),
                   QStringLiteral("Cannot log to %1").arg(QString::fromStdString(why)));
}

void MonitorMenu::stopLogging()
{
    record.closeLog();
}

void MonitorMenu::askForReportFile()
{
    QFileDialog* dialog = saveDialog(w, QStringLiteral("Save the session's report as"),
                                     QStringLiteral("reportFileDialog"),
                                     QStringLiteral("PDF files (*.pdf)"), QStringLiteral("pdf"));
    connect(dialog, &QFileDialog::fileSelected, this, &MonitorMenu::saveReportTo);
    dialog->open();
}

// The report reads the log from its file, on a thread of its own: a long
// log must not hold up the polls. Rows still on their way get a moment.
void MonitorMenu::saveReportTo(const QString& pdf)
{
    const QString log = QString::fromStdString(record.log().path());
    if (reporting || log.isEmpty())
        return;
    record.log().drain(OutputQueue::Clock::now() + std::chrono::milliseconds(200));
    auto result = std::make_shared<ReportResult>();
    reporting = QThread::create(
        [result, log, pdf] { *result = WriteSessionReport(log, pdf, ReportSessions::Last); });
    reporting->setParent(this);
    connect(reporting, &QThread::finished, this, [this, result] {
        reporting->deleteLater();
        reporting = nullptr;
        if (result->status)
            ShowNotice(w, NoticeKind::Warning, QStringLiteral("reportError"),
                       QStringLiteral("Cannot save the report: %1").arg(result->message));
        else
            ShowNotice(w, NoticeKind::Information, QStringLiteral("reportSaved"),
                       QStringLiteral("Report saved: %1").arg(result->message));
        emit reportDone(result->status);
    });
    reporting->start();
}

LinkStatsView* MonitorMenu::showStatistics()
{
    if (!statistics)
        statistics = new LinkStatsView(record.stats(), w.engine().figures(), &w);
    // The port the figures are of: the one opened last, or the one chosen.
    SerialPort& port = w.MSComm1();
    const int n = port.isOpen() ? port.portNumber() : w.state().PortSelect;
    statistics->setWindowTitle(
        QStringLiteral("Link statistics - port %1 (%2) - Kora232").arg(n).arg(port.describe(n)));
    statistics->show();
    statistics->raise();
    return statistics;
}

HistoryView* MonitorMenu::showHistory()
{
    if (!historyView)
        historyView = new HistoryView(*history, &w);
    historyView->show();
    historyView->raise();
    historyView->activateWindow();
    return historyView;
}

PlanView* MonitorMenu::showTestPlan()
{
    if (!planView)
        planView = new PlanView(w, &w);
    planView->show();
    planView->raise();
    planView->activateWindow();
    return planView;
}

void MonitorMenu::copyHistory() const
{
    QApplication::clipboard()->setText(historyText());
}

QString MonitorMenu::historyText() const
{
    QString text;
    for (int r = 5; r >= 0; --r) {
        const QString host = w.lbOUT(r)->text().trimmed();
        const QString reply = w.lbIN(r)->text().trimmed();
        if (host.isEmpty() && reply.isEmpty())
            continue;
        text += RowTime(w.lbOUT(r)) + QLatin1Char('\t') + host + QLatin1Char('\t') + reply +
                QLatin1Char('\n');
    }
    return text;
}
} // namespace kora
