// The bench instrument in the window: twenty bills with rejects, a cheat and
// a jam, the escrow action switched from stack to return mid-run from the
// monitor's menu. The Bills table and the log's stop row must equal the
// simulator's count of each outcome, and no returned bill may be counted. The
// jam comes between bills: an event of the acceptor, not a bill.
#include "appfixture.h"
#include "benchscenario.h"
#include "control/monitormenu.h"
#include "ui/linkstatsview.h"

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QMenu>
#include <atomic>
#include <thread>

using namespace kora;

class BenchWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void theBillsTableAndTheStopRowEqualTheAcceptorsOutcomes()
    {
        App app;
        auto& menu = *app.window->findChild<MonitorMenu*>();
        const QString log = app.dir.filePath(QStringLiteral("bench.csv"));
        menu.startLogging(log);
        app.clickStartStop();
        std::atomic<bool> played = false;
        std::thread scenario([&app, &played] {
            for (const QString& step : benchScenario())
                app.sim->command(step.toStdString());
            played = true;
        });
        QTest::qWait(BenchScenarioSeconds * 1000 / 2);
        menu.menu()->findChild<QAction*>(QStringLiteral("returnEscrowed"))->trigger();
        // The window polls on while the scenario plays.
        QTRY_VERIFY_WITH_TIMEOUT(played, BenchScenarioSeconds * 1000);
        scenario.join();
        // Trouble on the line once the bills are done, for the statistics' picture: slow
        // replies, checksum errors, lost messages and the device away for a while.
        app.sim->lateNext(sim::Ms(120), 6);
        QTest::qWait(1000);
        app.sim->corruptNext(8);
        QTest::qWait(1000);
        app.sim->deafNext(4);
        QTest::qWait(2500);
        app.sim->unplugFor(sim::Ms(3000));
        QTest::qWait(3500);
        QTRY_VERIFY_WITH_TIMEOUT(app.window->lbIN(0)->text().startsWith(QLatin1String("02 0B")),
                                 5000);
        QTest::qWait(1500);
        app.clickStartStop();

        const sim::Outcomes o = app.sim->outcomes();
        QVERIFY(o.stacked > 0 && o.returned > 0 && o.rejected > 0);
        const int counted = app.sim->tally().total();
        int shown = 0;
        for (int n = 1; n <= 7; ++n)
            shown += app.counter(n).toInt();
        QCOMPARE(shown, counted); // a returned bill is never counted

        menu.showStatistics();
        auto* view = app.window->findChild<LinkStatsView*>();
        QTRY_VERIFY(view && view->isVisible());
        const auto total = [view](const char* column) {
            return view->bills(QStringLiteral("Total"), QLatin1String(column)).toInt();
        };
        QCOMPARE(total("Stacked"), o.stacked);
        QCOMPARE(total("Returned"), o.returned);
        QCOMPARE(total("Rejected"), o.rejected);
        QCOMPARE(total("Other"), o.cheated);
        QCOMPARE(view->bills(QStringLiteral("Jams"), {}), QString::number(o.jammed));
        // The acceptor refuses bill 4 before it names the bill.
        QCOMPARE(view->bills(QStringLiteral("Unknown"), QStringLiteral("Rejected")),
                 QString::number(o.rejected));
        QCOMPARE(view->value("Reconnects"), QStringLiteral("1"));
        // The pictures of the README: the whole window, and the figures
        // above its plots, down to the Bills table's last row.
        const QDir here(QCoreApplication::applicationDirPath());
        QVERIFY(view->grab().save(here.filePath(QStringLiteral("kora232-statistics.png"))));
        const QWidget* bills = view->findChild<QGroupBox*>();
        QVERIFY(bills);
        const QRect figures(0, 0, view->width(), bills->geometry().bottom() + 5);
        QVERIFY(view->grab(figures).save(here.filePath(QStringLiteral("kora232-bills.png"))));

        QFile csv(log);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(csv.readAll());
        QVERIFY(text.contains(QLatin1String("escrowed bills now returned")));
        QVERIFY2(text.contains(QStringLiteral("bills: inserted %1, stacked %2, returned %3, "
                                              "rejected %4, other %5, ")
                                   .arg(total("Inserted"))
                                   .arg(o.stacked)
                                   .arg(o.returned)
                                   .arg(o.rejected)
                                   .arg(o.cheated)) &&
                     text.contains(QStringLiteral("jams %1, ").arg(o.jammed)),
                 qPrintable(text.right(400)));
    }
};

QTEST_MAIN(BenchWindowTest)
#include "tst_benchwindow.moc"
