// The session log, the decoded history, the link statistics and Copy
// history, as an operator uses them on the running program.
#include "appfixture.h"
#include "control/monitormenu.h"
#include "csvreader.h"
#include "ui/historyview.h"
#include "ui/linkstatsview.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QToolTip>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kora;
using namespace std::chrono_literals;

namespace {

MonitorMenu& menuOf(App& app)
{
    return *app.window->findChild<MonitorMenu*>();
}

// The window with a popup (menu, tooltip) drawn where it stands over it,
// as the operator sees them; saved beside the test for the documentation.
void saveShot(QWidget* window, QWidget* popup, const char* name)
{
    QPixmap shot = window->grab();
    if (popup) {
        QPainter painter(&shot);
        painter.drawPixmap(popup->pos() - window->mapToGlobal(QPoint(0, 0)), popup->grab());
    }
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(name));
    QVERIFY(shot.save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

} // namespace

class MonitorMenuTest : public QObject
{
    Q_OBJECT

private slots:
    void aLoggedRunHasARowPerPollAndItsCountedBillsMatchTheTally()
    {
        App app;
        QTemporaryDir dir;
        const QString path = dir.filePath("session.csv");
        menuOf(app).startLogging(path);
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        for (const char* bill : {"insert 3", "insert 5"}) {
            app.sim->command(bill);
            QTest::qWait(200);
            app.sim->corruptNext(2);
            QTRY_VERIFY_WITH_TIMEOUT(app.counter(bill[7] - '0') == "1", 5000);
        }
        app.clickStartStop();

        // The stop row leaves through the log's own writer.
        QTRY_VERIFY(readCsvFile(path).last().value(1) == QLatin1String("stop"));
        const QList<QStringList> rows = readCsvFile(path);
        QCOMPARE(rows.first(), QStringList({"time", "kind", "poll", "outcome", "host", "reply",
                                            "reply_ms", "flags", "events"}));
        QCOMPARE(rows[1][1], QStringLiteral("start"));
        QCOMPARE(rows.last()[1], QStringLiteral("stop"));
        QVERIFY2(rows.last()[8].contains(QLatin1String("total=2")), qPrintable(rows.last()[8]));
        int counted[8] = {};
        int checksumErrors = 0;
        for (int i = 2; i < rows.size() - 1; ++i) {
            QCOMPARE(rows[i][2].toInt(), i - 1); // every poll, in order
            checksumErrors += rows[i][3] == QLatin1String("checksum");
            const QRegularExpressionMatch m =
                QRegularExpression("bill (\\d) stacked, counted").match(rows[i][8]);
            if (m.hasMatch())
                ++counted[m.captured(1).toInt()];
        }
        QVERIFY(checksumErrors >= 2);
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(counted[n], app.sim->tally().of(n));

        // Save report… after STOP: the session just logged, as a PDF.
        QMenu* menu = menuOf(app).menu();
        emit menu->aboutToShow();
        QVERIFY(menu->findChild<QAction*>(QStringLiteral("saveReport"))->isEnabled());
        QSignalSpy done(&menuOf(app), &MonitorMenu::reportDone);
        const QString pdf = dir.filePath("session.pdf");
        menuOf(app).saveReportTo(pdf);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
        QCOMPARE(done.at(0).at(0).toInt(), 0);
        // News, not a warning: the box's icon says which.
        const auto* saved = app.window->findChild<QMessageBox*>("reportSaved");
        QVERIFY(saved);
        QCOMPARE(saved->icon(), QMessageBox::Information);
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
        QVERIFY(pdftotext.waitForFinished());
        const QString report = QString::fromUtf8(pdftotext.readAllStandardOutput());
        QVERIFY2(report.contains(QLatin1String("Session 1, the last in the log")),
                 qPrintable(report));
        QVERIFY2(QRegularExpression("Total\\n *0 +0 +1 +0 +1 +0 +0 +2\\n").match(report).hasMatch(),
                 qPrintable(report));

        // Over the log itself, or a folder, the report is refused, in words.
        for (const auto& [target, why] :
             {std::pair{path, QStringLiteral("it is the session log itself")},
              std::pair{dir.path(), QStringLiteral("it is a folder, not a regular file")}}) {
            menuOf(app).saveReportTo(target);
            QTRY_COMPARE_WITH_TIMEOUT(done.size(), target == path ? 2 : 3, 20000);
            QCOMPARE(done.last().at(0).toInt(), 2);
            const auto notices = app.window->findChildren<QMessageBox*>("reportError");
            QVERIFY(!notices.isEmpty());
            QCOMPARE(notices.last()->icon(), QMessageBox::Warning);
            QCOMPARE(notices.last()->text(), "Cannot save the report: cannot write " + target +
                                                 ": " + why + "; nothing was written");
        }
        QCOMPARE(readCsvFile(path), rows);
    }

    void loggingBegunAfterABillWasCountedCarriesTheCountsSoFar()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        QVERIFY(app.sim->command("insert 3").ok);
        QTRY_COMPARE_WITH_TIMEOUT(app.counter(3), QStringLiteral("1"), 5000);
        QTemporaryDir dir;
        const QString path = dir.filePath("session.csv");
        menuOf(app).startLogging(path);
        QTest::qWait(300);
        menuOf(app).stopLogging();
        app.clickStartStop();

        const QString counts(
            "bill 1=0 bill 2=0 bill 3=1 bill 4=0 bill 5=0 bill 6=0 bill 7=0 total=1");
        QTRY_VERIFY(readCsvFile(path).last().value(1) == QLatin1String("stop"));
        const QList<QStringList> rows = readCsvFile(path);
        QCOMPARE(rows[1][1], QStringLiteral("start"));
        QVERIFY(rows[1][2].toInt() > 0);
        QVERIFY2(rows[1][8].startsWith(QLatin1String("logging begins mid-run: port 1 (")) &&
                     rows[1][8].endsWith("; counts so far " + counts),
                 qPrintable(rows[1][8]));
        QVERIFY2(rows.last()[8].startsWith("logging ends; " + counts + "; polls "),
                 qPrintable(rows.last()[8]));
    }

    void aFullDiskIsToldOnceAndPollingGoesOn()
    {
        App app;
        menuOf(app).startLogging(QStringLiteral("/dev/full")); // as --log does
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        QTest::qWait(300);
        const QList<QMessageBox*> boxes = app.window->findChildren<QMessageBox*>("logError");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]->text(),
                 QStringLiteral("Logging stopped: /dev/full: No space left on device"));
        QCOMPARE(boxes[0]->windowModality(), Qt::NonModal);
        const auto served = app.sim->messagesServed();
        QTRY_VERIFY_WITH_TIMEOUT(app.sim->messagesServed() >= served + 3, 2000);
        QCOMPARE(app.state().NRFlag, 0);
    }

    // Held as another program holds it: flock on a descriptor of its own.
    void aLogInUseByAnotherProgramIsRefusedWithANotice()
    {
        App app;
        const QString path = app.dir.filePath("held.csv");
        const int held = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0644);
        QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);
        menuOf(app).startLogging(path);
        ::close(held);
        const QList<QMessageBox*> boxes = app.window->findChildren<QMessageBox*>("logError");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]->text(), "Cannot log to " + path +
                                       ": in use by another program (only one program may "
                                       "write a log)");
        QVERIFY(!app.control->record().logging());
    }

    void eachKindOfHistoryRowExplainsItself_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("replyNote");
        QTest::newRow("good reply") << 0 << "good reply \\d+\\.\\d ms after sending\\n.*idling";
        QTest::newRow("no reply") << 1 << "no reply: waited 4\\d\\d\\.\\d ms$";
        QTest::newRow("checksum error")
            << 2 << "checksum error .* the bytes that failed:\\n02 0B ([0-9A-F]{2} ){9}$";
    }
    void eachKindOfHistoryRowExplainsItself()
    {
        QFETCH(int, fault);
        QFETCH(QString, replyNote);
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        app.sim->setSilent(fault == 1);
        app.sim->setCorrupt(fault == 2);
        QTRY_COMPARE_WITH_TIMEOUT(app.state().NRFlag, fault, 2000);
        QTest::qWait(500);

        const QString time("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}, ");
        QLabel* reply = app.window->lbIN(0);
        QVERIFY2(
            QRegularExpression(time + replyNote, QRegularExpression::DotMatchesEverythingOption)
                .match(reply->toolTip())
                .hasMatch(),
            qPrintable(reply->toolTip()));
        QCOMPARE(QAccessible::queryAccessibleInterface(reply)->text(QAccessible::Description),
                 reply->toolTip());
        QVERIFY2(QRegularExpression(time + "PC to acceptor\\nacknowledgement bit [01]\\nbills "
                                           "enabled: 1, 2, 3, 4, 5, 6, 7\\nasks: escrow mode$")
                     .match(app.window->lbOUT(0)->toolTip())
                     .hasMatch(),
                 qPrintable(app.window->lbOUT(0)->toolTip()));
        if (fault == 0) {
            QLabel* older = app.window->lbIN(3); // high enough for the tip to fit the window
            QToolTip::showText(older->mapToGlobal(QPoint(-40, 4)), older->toolTip(), older);
            QTRY_VERIFY(QApplication::activePopupWidget() || QToolTip::isVisible());
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->inherits("QTipLabel"))
                    saveShot(app.window.get(), top, "kora232-tooltip.png");
        }
    }

    void theMenuCopiesTheHistoryAndShowsLiveStatistics()
    {
        App app;
        app.clickStartStop();
        QTest::qWait(900);
        QMenu* menu = menuOf(app).menu();
        app.window->frmMonitor()->customContextMenuRequested(QPoint(300, 175));
        QTRY_VERIFY(menu->isVisible());
        QStringList texts;
        for (const QAction* a : menu->actions())
            if (!a->isSeparator())
                texts << a->text() + (a->isEnabled() ? "" : " (off)");
        QCOMPARE(texts, QStringList({"Log to file…", "Stop logging (off)", "Save report… (off)",
                                     "Link statistics…", "History…", "Test plan…", "Copy history",
                                     "Stack escrowed bills", "Return escrowed bills"}));
        saveShot(app.window.get(), menu, "kora232-menu.png");
        menu->hide();

        menuOf(app).copyHistory();
        const QStringList lines =
            QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        const QRegularExpression line(
            "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\t([0-9A-F]{2} ){7}[0-9A-F]{2}\\t"
            "([0-9A-F]{2} ){10}[0-9A-F]{2}$");
        for (const QString& l : lines)
            QVERIFY2(line.match(l).hasMatch(), qPrintable(l));

        menuOf(app).showStatistics();
        auto* view = app.window->findChild<LinkStatsView*>();
        QTRY_VERIFY(view && view->isVisible());
        const int polls = view->value("Polls").toInt();
        QVERIFY(polls >= 5);
        QTRY_VERIFY_WITH_TIMEOUT(view->value("Polls").toInt() > polls, 1000); // live
        QCOMPARE(view->value("Success rate"), QStringLiteral("100.0 %"));
    }

    void theHistoryWindowFillsWithEveryPollOfTheRun()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        QAction* open = nullptr;
        for (QAction* a : menuOf(app).menu()->actions())
            if (a->text() == QStringLiteral("History…"))
                open = a;
        QVERIFY(open);
        open->trigger();
        auto* view = app.window->findChild<HistoryView*>("history");
        QVERIFY(view && view->isVisible() && view->isWindow());
        QCOMPARE(view->windowModality(), Qt::NonModal);
        const QAbstractItemModel* rows = view->table()->model();
        const int before = rows->rowCount();
        QVERIFY(before >= 1); // the polls from before it opened
        QTRY_VERIFY_WITH_TIMEOUT(rows->rowCount() > before, 2000);
        open->trigger(); // the same window again
        QCOMPARE(app.window->findChildren<HistoryView*>().size(), 1);

        // A few bills through some noise, each counted bill in its row.
        for (const char* bill : {"insert 3", "insert 5", "insert 1"}) {
            app.sim->corruptNext(1);
            app.sim->command(bill);
            QTest::qWait(250);
            app.sim->silenceFor(std::chrono::milliseconds(250));
            QTRY_VERIFY_WITH_TIMEOUT(app.counter(bill[7] - '0') == "1", 5000);
        }
        QTest::qWait(300);
        app.clickStartStop();
        QStringList counted, outcomes;
        for (int r = 0; r < rows->rowCount(); ++r) {
            const QString changed = rows->index(r, 5).data().toString();
            const QRegularExpressionMatch m =
                QRegularExpression("bill (\\d) stacked, counted").match(changed);
            if (m.hasMatch())
                counted << m.captured(1);
            outcomes << rows->index(r, 1).data().toString();
        }
        QCOMPARE(counted, QStringList({"3", "5", "1"}));
        QVERIFY(outcomes.contains("checksum error") && outcomes.contains("no reply"));
        saveShot(view, nullptr, "kora232-history.png");

        QTest::qWait(300);
        app.clickStartStop(); // START begins a history of its own
        QCOMPARE(rows->rowCount(), 0);
    }

    // However History is opened, its table holds the run's polls, newest
    // last: the rows, not an empty table of the right size.
    void theHistoryWindowShowsTheRunWheneverItIsOpened_data()
    {
        QTest::addColumn<bool>("afterStop");
        QTest::addColumn<bool>("closedFirst"); // opened, closed, then opened again
        QTest::newRow("while polling") << false << false;
        QTest::newRow("after STOP") << true << false;
        QTest::newRow("closed while polling, opened after STOP") << true << true;
    }

    void theHistoryWindowShowsTheRunWheneverItIsOpened()
    {
        QFETCH(bool, afterStop);
        QFETCH(bool, closedFirst);
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        if (closedFirst)
            menuOf(app).showHistory()->close();
        QTest::qWait(500);
        if (afterStop)
            app.clickStartStop();
        HistoryView* view = menuOf(app).showHistory();
        QVERIFY(view->isVisible());
        const QAbstractItemModel* rows = view->table()->model();
        QVERIFY2(rows->rowCount() >= 3, qPrintable(QString::number(rows->rowCount())));
        QCOMPARE(rows->columnCount(), 6);
        QString newest = rows->index(rows->rowCount() - 1, 3).data().toString();
        QCOMPARE(newest.remove(u' '), app.window->lbIN(0)->text().remove(u' '));
    }
};

QTEST_MAIN(MonitorMenuTest)
#include "tst_monitormenu.moc"
