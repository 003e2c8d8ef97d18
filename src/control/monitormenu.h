#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QThread;

namespace kora {

class HistoryView;
class Kora232;
class LinkStatsView;
class PlanView;
class PollHistory;
class SessionRecord;
struct PollNotes;

// The Communication Monitor's context menu: a log of the session to a file,
// the link statistics window, the history of every poll of the run, a bench
// test plan and a copy of the monitor's rows. Nothing here nests an event loop, so the poll
// timer keeps its beat while the menu or the file dialog is up. The window
// is the parent.
class MonitorMenu : public QObject
{
    Q_OBJECT

public:
    MonitorMenu(Kora232& window, SessionRecord& record);
    // A report under way is finished first: its file is whole or absent.
    ~MonitorMenu() override;

    QMenu* menu() const { return contextMenu; }

    void askForLogFile();
    void startLogging(const QString& path);
    void stopLogging();
    // A PDF of the last session of the log written now, or last: offered
    // while logging and after the log is closed.
    void askForReportFile();
    void saveReportTo(const QString& pdf);
    // Each window is made the first time and shown again after; it is given
    // back for a script's picture.
    LinkStatsView* showStatistics();
    // The polls of the run, from START; they are kept whether the window is
    // shown or not.
    HistoryView* showHistory();
    // The bench test plan's window.
    PlanView* showTestPlan();
    void copyHistory() const;
    // The six rows of both histories, oldest first, a line each: the time
    // the row was made, the host row and the reply row, tab between.
    QString historyText() const;
    // Pops the menu up at `at` on the monitor, as a right click there does.
    void popUp(const QPoint& at);

signals:
    // A report has been saved (status 0) or could not be (see ReportResult).
    void reportDone(int status);

private:
    void addEscrowActions();

    Kora232& w;
    SessionRecord& record;
    QMenu* contextMenu = nullptr;
    QAction* logTo = nullptr;
    QAction* stopLog = nullptr;
    QAction* saveReport = nullptr;
    QThread* reporting = nullptr;
    LinkStatsView* statistics = nullptr;
    PollHistory* history = nullptr;
    HistoryView* historyView = nullptr;
    PlanView* planView = nullptr;
};

} // namespace kora
