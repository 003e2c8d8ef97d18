// The bench test plan's window on the running program, against a simulated
// acceptor playing a test deck: the plan's settings shown on the window's own
// controls, its progress and verdict, and a plan ended by a control changed
// mid-plan or by STOP, named in the window and in the log.
#include "appfixture.h"
#include "control/monitormenu.h"
#include "engine/planlog.h"
#include "ui/planview.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <thread>

using namespace kora;
using namespace std::chrono_literals;

class PlanWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void aPlanRunFromItsWindowEndsWithItsVerdict_data()
    {
        QTest::addColumn<QString>("meddle"); // what the operator does after the first note
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("colour");
        QTest::newRow("left alone, a sound acceptor passes") << ""
                                                             << "PASS"
                                                             << "#1a7f37";
        QTest::newRow("the poll period changed mid-plan ends it incomplete")
            << "poll"
            << "INCOMPLETE: the poll period was changed to 300 ms"
            << "#9a6700";
        QTest::newRow("a bill disabled mid-plan ends it incomplete")
            << "bill"
            << "INCOMPLETE: bill 1 was disabled"
            << "#9a6700";
        QTest::newRow("STOP ends it incomplete") << "stop"
                                                 << "INCOMPLETE: STOP pressed"
                                                 << "#9a6700";
    }
    void aPlanRunFromItsWindowEndsWithItsVerdict()
    {
        QFETCH(QString, meddle);
        QFETCH(QString, verdict);
        QFETCH(QString, colour);
        App app;
        Kora232& w = *app.window;
        MonitorMenu& menu = *w.findChild<MonitorMenu*>();
        const QString log = app.dir.filePath(QStringLiteral("bench.csv"));
        menu.startLogging(log);
        PlanView* view = menu.showTestPlan();
        view->planFile()->setText(QStringLiteral(KORA_PLANS "/quick.json"));
        view->field(0)->setText(QStringLiteral("SN-7"));
        view->field(4)->setText(QStringLiteral("Ann"));
        // The window's own controls say otherwise until the plan sets them.
        w.hsPoll()->setValue(500);
        w.chkBill(6)->setChecked(true);
        QSignalSpy ended(view, &PlanView::planEnded);
        // The deck is played beside the window; a check that fails ends it too.
        struct Deck
        {
            kora::sim::AcceptorServer& sim;
            std::thread player{[this] {
                sim.command("wait 300ms");
                sim.command("deck 1x3 3x3 5x2! seed 7");
            }};
            ~Deck() { sim.stop(), player.join(); }
        } deck{*app.sim};
        view->runButton()->click();
        QCOMPARE(w.hsPoll()->value(), 100);
        QStringList enabled;
        for (int k = 0; k < 7; ++k)
            if (w.chkBill(k)->isChecked())
                enabled << QString::number(k + 1);
        QCOMPARE(enabled.join(' '), QStringLiteral("1 3 5"));
        QVERIFY(w.Check1()->isChecked());
        QCOMPARE(app.state().StartStop, 1);
        QVERIFY(!view->runButton()->isEnabled());
        if (!meddle.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(view->progress()->text() == "insert bill 1: 1 of 3", 10000);
            if (meddle == "poll")
                w.hsPoll()->setValue(300);
            else if (meddle == "bill")
                w.chkBill(0)->click();
            else
                app.clickStartStop();
        }
        const bool done = !ended.isEmpty() || ended.wait(40000);
        QVERIFY(done);
        QCOMPARE(view->verdict()->text(), verdict);
        QVERIFY(view->verdict()->styleSheet().contains(colour));
        QVERIFY(view->verdict()->isVisible());
        QVERIFY(view->rect().contains(view->verdict()->geometry()));
        QVERIFY(view->criteria()->text().contains(QStringLiteral("first-time acceptance")));
        QVERIFY(view->events()->toPlainText().contains(
            QStringLiteral("step 1 of 3: 3 notes of bill 1 to take")));
        // The log judges it again as the window did, its end row within the run.
        if (app.state().StartStop == 1)
            app.clickStartStop();
        QVERIFY(w.engine().record().log().drain(OutputQueue::Clock::now() + 5s));
        menu.stopLogging();
        QString why;
        const auto plans = ReadLoggedPlans(log, &why);
        QVERIFY2(plans && plans->size() == 1, qPrintable(why));
        const LoggedPlan& p = plans->front();
        QString fromLog = QLatin1String(VerdictWord(p.verdict));
        if (!p.incompleteWhy.empty())
            fromLog += QStringLiteral(": ") + QString::fromStdString(p.incompleteWhy);
        QCOMPARE(fromLog, verdict);
        QCOMPARE(p.who.unitSerial, QStringLiteral("SN-7"));
        QCOMPARE(p.who.operatorName, QStringLiteral("Ann"));
        // Its certificate, saved from the window, says the same.
        QVERIFY(view->certificateButton()->isEnabled());
        QSignalSpy saved(view, &PlanView::certificateDone);
        const QString pdf = app.dir.filePath(QStringLiteral("certificate.pdf"));
        view->saveCertificateTo(pdf);
        QVERIFY(saved.wait(20000));
        QCOMPARE(saved.constFirst().constFirst().toInt(), 0);
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
        QVERIFY(text.waitForFinished());
        QVERIFY(QString::fromUtf8(text.readAllStandardOutput())
                    .contains(QRegularExpression("^\\s*" + verdict.section(':', 0, 0) + "\\s*$",
                                                 QRegularExpression::MultilineOption)));
    }

    void aPlanIsNotRunWithoutALog()
    {
        App app;
        PlanView* view = app.window->findChild<MonitorMenu*>()->showTestPlan();
        view->planFile()->setText(QStringLiteral(KORA_PLANS "/quick.json"));
        QVERIFY(!view->runPlan());
        QVERIFY(view->progress()->text().startsWith(QStringLiteral("Log to a file first")));
        QCOMPARE(app.state().StartStop, 0);
    }
};

QTEST_MAIN(PlanWindowTest)
#include "tst_planwindow.moc"
