// The complete program end to end: timers, operator controls, the port and
// the monitor, against the simulated acceptor.
#include "appfixture.h"
#include "csvreader.h"
#include "fakeport.h"
#include "ui/appearance.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>

using namespace kora;
using namespace std::chrono_literals;
using kora::test::FakePort;

namespace {

// The window and its handlers on a port with no device behind it, ticked by
// hand: for what needs only "refused to open" or "went away".
struct FakeApp
{
    FakeApp()
    {
        auto owned = std::make_unique<FakePort>();
        port = owned.get();
        window = std::make_unique<Kora232>(std::move(owned));
        control = new RunControl(*window);
        window->Timer1()->stop();
        window->show();
    }
    void tick() { window->engine().PollTick(); }

    FakePort* port = nullptr; // owned by the window
    std::unique_ptr<Kora232> window;
    RunControl* control = nullptr;
};

// A second simulated acceptor, pinned as port 8.
struct SecondAcceptor
{
    static sim::ServerOptions at(const QString& path)
    {
        sim::ServerOptions o;
        o.symlink = path.toStdString();
        return o;
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("eight"));
    sim::AcceptorServer acceptor{at(path)};
    PortMap ports = [this] {
        PortMap map;
        map.pin(8, path);
        return map;
    }();
};

// A log's rows once it ends with its `stops`th stop row, or as they are
// after a generous while.
QList<QStringList> rowsOnceStopped(const QString& path, int stops = 1)
{
    QList<QStringList> rows;
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired(); QTest::qWait(20)) {
        rows = readCsvFile(path);
        const auto isStop = [](const QStringList& row) { return row.value(1) == "stop"; };
        if (!rows.isEmpty() && isStop(rows.last()) &&
            std::count_if(rows.begin(), rows.end(), isStop) >= stops)
            break;
    }
    return rows;
}

// The events of the rows of one kind, in order.
QStringList eventsOf(const QList<QStringList>& rows, const QString& kind)
{
    QStringList events;
    for (const QStringList& row : rows)
        if (row.value(1) == kind)
            events << row.value(8);
    return events;
}

// Every part of the events that matches `pattern`, in order.
QStringList matching(const QStringList& events, const QString& pattern)
{
    QStringList found;
    for (const QString& e : events)
        for (const QRegularExpressionMatch& m : QRegularExpression(pattern).globalMatch(e))
            found << m.captured();
    return found;
}

// The window's run logged from START to a file in `dir`.
QString startLogged(App& app, const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("session.csv"));
    std::string why;
    if (!app.control->record().openLog(path.toStdString(), &why))
        qWarning("%s", why.c_str());
    app.clickStartStop();
    return path;
}

} // namespace

class RunControlTest : public QObject
{
    Q_OBJECT

private slots:
    void afterLoadTicksOnlySetThePeriodAndFrames()
    {
        App app;
        app.window->frmControls()->hide();
        QTest::qWait(350);
        QVERIFY(!app.portOpen());
        QVERIFY(app.window->frmControls()->isVisible());
        QCOMPARE(app.sim->messagesServed(), 0u);
        QCOMPARE(app.window->lbOUT(0)->text(), QStringLiteral("00 00 00 00 00 00 00 00"));
        QCOMPARE(app.window->Timer1()->interval(), 100);
    }

    void startOpensThePortAtTheNextTickAndSendsTheFirstFrame()
    {
        App app;
        app.clickStartStop();
        QCOMPARE(app.window->cmdStartStop()->text(), QStringLiteral("STOP"));
        QCOMPARE(BackColor(app.window->cmdStartStop()), QColor(255, 0, 0));
        QVERIFY(!app.window->optCom(1)->isVisible());
        QVERIFY(!app.window->optCom(2)->isVisible());
        QVERIFY(app.window->optCom(3)->isVisible());
        QVERIFY(!app.portOpen());
        QCOMPARE(app.rows(true), QStringList(6, QString()));

        QTRY_VERIFY_WITH_TIMEOUT(app.sim->repliesSent() >= 2, 2000);
        QVERIFY(app.portOpen());
        const QStringList host = app.rows(true);
        const auto first =
            std::find_if(host.begin(), host.end(), [](auto& r) { return !r.isEmpty(); });
        QCOMPARE(*first, QStringLiteral("02 08 10 7F 10 00 03 77 "));
    }

    void anEscrowedBillIsStackedShownAndCounted()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        QVERIFY(app.sim->command("insert 3").ok);
        QTRY_COMPARE_WITH_TIMEOUT(app.counter(3), QStringLiteral("1"), 5000);
        QVERIFY(app.window->lbD(3)->isVisible());
        QCOMPARE(app.sim->tally().of(3), 1);
        for (int n : {1, 2, 4, 5, 6, 7})
            QCOMPARE(app.counter(n), QString());
    }

    void billsOfMixedDenominationsAreCountedAsTheAcceptorStackedThem()
    {
        App app(100ms);
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        for (int bill : {1, 7, 3, 3, 5, 2, 6, 4, 7}) {
            QVERIFY(app.sim->command("insert " + std::to_string(bill)).ok);
            QTest::qWait(1000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(app.sim->tally().total() == 9, 3000);
        QTest::qWait(500);
        for (int n = 1; n <= 7; ++n) {
            const int tally = app.sim->tally().of(n);
            QCOMPARE(app.counter(n), tally ? QString::number(tally) : QString());
        }
    }

    void escrowModeUncheckedWhileAStackedReportStaysUpCountsTheBillOnce()
    {
        App app;
        QTemporaryDir dir;
        const QString path = startLogged(app, dir);
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        app.sim->setSticky(8);
        QVERIFY(app.sim->command("insert 3").ok);
        QTRY_COMPARE_WITH_TIMEOUT(app.counter(3), QStringLiteral("1"), 5000);
        app.window->Check1()->click();
        QVERIFY(!app.window->EscrowModeChecked());
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 5000);
        QCOMPARE(app.counter(3), QStringLiteral("1"));
        app.clickStartStop();

        const QList<QStringList> rows = rowsOnceStopped(path);
        QCOMPARE(matching(eventsOf(rows, QStringLiteral("poll")),
                          QStringLiteral("bill 3 stacked, counted"))
                     .size(),
                 1);
        QCOMPARE(eventsOf(rows, QStringLiteral("start")).mid(1),
                 QStringList({"escrow mode now off"}));
        // The report was still up after the change, and judged the same.
        const auto change = std::find_if(rows.begin(), rows.end(), [](const QStringList& row) {
            return row.value(8) == QLatin1String("escrow mode now off");
        });
        QVERIFY(std::any_of(change, rows.end(), [](const QStringList& row) {
            return row.value(8).contains(QLatin1String("bill 3 stacked, not counted: same-report"));
        }));
        QVERIFY(eventsOf(rows, QStringLiteral("stop"))
                    .value(0)
                    .startsWith(QLatin1String("bill 1=0 bill 2=0 bill 3=1 bill 4=0")));
    }

    // The counters are the engine's; a count typed and confirmed while
    // polling becomes its count, on record, and typing never reaches the log.
    void aCountTypedWhilePollingIsAnAdjustmentOnRecord()
    {
        App app;
        QTemporaryDir dir;
        const QString path = startLogged(app, dir);
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        QLineEdit* three = app.window->txBillCount(3);
        QVERIFY(app.sim->command("insert 3").ok);
        QTRY_COMPARE_WITH_TIMEOUT(app.counter(3), QStringLiteral("1"), 5000);
        three->selectAll();
        QTest::keyClicks(three, QStringLiteral("25"));
        QTest::keyClick(three, Qt::Key_Return);
        QCOMPARE(app.window->engine().counts()[2], 25L);

        QTest::keyClicks(three, QStringLiteral("9")); // not confirmed when the bill comes
        QTest::keyClicks(app.window->txBillCount(5), QStringLiteral("5"));
        QVERIFY(app.sim->command("insert 3").ok);
        QTRY_COMPARE_WITH_TIMEOUT(app.counter(3), QStringLiteral("26"), 5000);
        QTest::keyClick(three, Qt::Key_Return);
        app.clickStartStop();

        QList<QStringList> rows = rowsOnceStopped(path);
        QCOMPARE(eventsOf(rows, QStringLiteral("adjust")),
                 QStringList({"counter bill 3 set to 25 by the operator (was 1)"}));
        QCOMPARE(matching(eventsOf(rows, QStringLiteral("poll")),
                          QStringLiteral("bill \\d stacked, counted, count \\d+, total \\d+")),
                 QStringList({"bill 3 stacked, counted, count 1, total 1",
                              "bill 3 stacked, counted, count 26, total 26"}));
        QVERIFY(
            eventsOf(rows, QStringLiteral("stop"))
                .value(0)
                .startsWith(QLatin1String(
                    "bill 1=0 bill 2=0 bill 3=26 bill 4=0 bill 5=0 bill 6=0 bill 7=0 total=26")));

        // Typed while stopped: nothing changes on record.
        QLineEdit* four = app.window->txBillCount(4);
        QTest::keyClicks(four, QStringLiteral("7"));
        QTest::keyClick(four, Qt::Key_Return);
        QCOMPARE(app.window->engine().counts()[3], 0L);
        QTest::qWait(100);
        QCOMPARE(readCsvFile(path).size(), rows.size());
    }

    // The scroll bar moved in steps is one row once it settles, and none
    // when it comes back to the period on record; a period still settling
    // at STOP is recorded before the stop row.
    void eachSettingChangedWhilePollingIsOneRowAndLaterRowsStateIt()
    {
        App app;
        QTemporaryDir dir;
        const QString path = startLogged(app, dir);
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        app.window->chkBill(1)->click();
        app.window->Check1()->click();
        app.window->engine().SetEscrowAction(false);
        for (int ms = 200; ms <= 800; ms += 100) {
            app.window->hsPoll()->setValue(ms);
            QTest::qWait(30);
        }
        QTest::qWait(1300);
        app.window->hsPoll()->setValue(900);
        app.window->hsPoll()->setValue(800);
        QTest::qWait(1300);
        SessionRecord& record = app.control->record();
        record.closeLog();
        std::string why;
        QVERIFY(record.openLog(path.toStdString(), &why));
        app.window->hsPoll()->setValue(300);
        app.clickStartStop();

        const QStringList starts = eventsOf(rowsOnceStopped(path, 2), QStringLiteral("start"));
        QVERIFY(starts.value(0).contains(
            QLatin1String("poll every 100 ms, escrow mode on, bills 1 2 3 4 5 6 7 enabled, "
                          "escrowed bills stacked")));
        QCOMPARE(starts.mid(1, 4),
                 QStringList({"bills enabled now 1 3 4 5 6 7", "escrow mode now off",
                              "escrowed bills now returned", "poll period now 800 ms"}));
        QVERIFY2(starts.value(5).startsWith(QLatin1String("logging begins mid-run: port 1 (")) &&
                     starts.value(5).contains(QLatin1String(
                         "poll every 800 ms, escrow mode off, bills 1 3 4 5 6 7 enabled, "
                         "escrowed bills returned")),
                 qPrintable(starts.value(5)));
        QCOMPARE(starts.mid(6), QStringList({"poll period now 300 ms"}));
    }

    void stopClosesThePortAtTheNextTickAndClearsNothing()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        app.clickStartStop();
        QVERIFY(app.portOpen());
        const QStringList host = app.rows(true), reply = app.rows(false);
        QCOMPARE(app.window->cmdStartStop()->text(), QStringLiteral("START"));
        QVERIFY(app.window->optCom(1)->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!app.portOpen(), 1000);
        QTest::qWait(250);
        QCOMPARE(app.rows(true), host);
        QCOMPARE(app.rows(false), reply);
        QVERIFY(app.window->lb0(0)->isVisible());
        QCOMPARE(app.state().Idling, Byte{1});
    }

    void stopThenStartBeforeATickKeepsThePortAndItsNumber()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.portOpen(), 2000);
        QSignalSpy lost(&dynamic_cast<MSComm&>(app.window->MSComm1()), &MSComm::deviceLost);
        app.clickStartStop();
        app.window->optCom(8)->click();
        app.clickStartStop();
        const auto served = app.sim->messagesServed();
        QTest::qWait(400);
        QVERIFY(app.portOpen());
        QVERIFY(app.sim->messagesServed() >= served + 2);
        QCOMPARE(app.state().PortSelect, Byte{8});
        QCOMPARE(lost.count(), 0);
    }

    void aPortChosenWhileRunningIsUsedAfterStopATickAndStart()
    {
        SecondAcceptor eight;
        App app(150ms, eight.ports);

        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.portOpen(), 2000);
        app.window->optCom(8)->click();
        QTest::qWait(300);
        QCOMPARE(eight.acceptor.messagesServed(), 0u);
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(!app.portOpen(), 1000);
        const auto onOne = app.sim->messagesServed();
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(eight.acceptor.messagesServed() >= 2, 2000);
        QCOMPARE(app.sim->messagesServed(), onOne);
    }

    void thePortListIsReadOnceAfterTheFirstFrameOnceAtStartAndOnceATooltip()
    {
        int listings = 0;
        App app(150ms, PortMap([&listings] {
                    ++listings;
                    return ListSystemPorts();
                }));
        QCOMPARE(listings, 0);
        QTRY_VERIFY(app.window->optCom(2)->toolTip().startsWith(QLatin1String("Port 2: ")));
        QCOMPARE(listings, 1);

        const QPoint at(4, 4);
        QHelpEvent tip(QEvent::ToolTip, at, app.window->optCom(3)->mapToGlobal(at));
        QApplication::sendEvent(app.window->optCom(3), &tip);
        QCOMPARE(listings, 2);

        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.sim->repliesSent() >= 1, 2000);
        QCOMPARE(listings, 3);
    }

    void aBillBoxClearsItsEnableBitInTheNextFrameAndRestoresIt()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().NRFlag == 0 && app.portOpen(), 2000);
        app.window->chkBill(2)->click();
        QCOMPARE(app.state().BillEnable(3), Byte{0});
        QTRY_COMPARE_WITH_TIMEOUT(app.window->lbOUT(0)->text().mid(9, 3), QStringLiteral("7B "),
                                  1000);
        app.window->chkBill(2)->click();
        QCOMPARE(app.state().BillEnable(3), Byte{1});
        QTRY_COMPARE_WITH_TIMEOUT(app.window->lbOUT(0)->text().mid(9, 3), QStringLiteral("7F "),
                                  1000);
    }

    void thePollRateScrollBarSetsTextAndTheNextPeriod()
    {
        App app;
        app.window->hsPoll()->setValue(250);
        QCOMPARE(app.window->txtPoll()->text(), QStringLiteral(" 250 ms"));
        QCOMPARE(app.state().PollRate, std::int16_t{250});
        QCOMPARE(app.window->Timer1()->interval(), 100);
        QTRY_COMPARE_WITH_TIMEOUT(app.window->Timer1()->interval(), 250, 1000);
    }

    void theDelayCounterWrapsFromFiftyToTen()
    {
        App app;
        app.window->Timer2()->stop(); // so that only this test advances it
        app.state().Delay = 0;
        for (int i = 0; i < 50; ++i)
            app.window->engine().DelayTick();
        QCOMPARE(app.state().Delay, Byte{50});
        app.window->engine().DelayTick();
        QCOMPARE(app.state().Delay, Byte{10});
    }

    void anUnopenablePortIsReportedAndTheProgramStaysStopped()
    {
        FakeApp app;
        app.port->refuse = true;
        app.window->optCom(5)->click();
        app.window->cmdStartStop()->click();
        app.tick();
        auto* box = app.window->findChild<QMessageBox*>("portError");
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->text(),
                 QStringLiteral("Error 8010: Port 5 (fake) cannot be opened: no device"));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(app.window->state().StartStop, Byte{0});
        QCOMPARE(app.window->cmdStartStop()->text(), QStringLiteral("START"));
        QCOMPARE(BackColor(app.window->cmdStartStop()), QColor(0, 255, 0));
        QVERIFY(app.window->optCom(1)->isVisible());
        QVERIFY(app.window->optCom(2)->isVisible());
        box->accept();

        app.port->refuse = false;
        app.window->cmdStartStop()->click();
        app.tick();
        QVERIFY(app.port->isOpen());
        QCOMPARE(app.port->calls, QStringList({"open 5", "open 5"}));
    }

    void aLostDeviceIsReopenedQuietlyWhateverThePortNumberSaysNow()
    {
        FakeApp app;
        app.window->cmdStartStop()->click();
        app.tick();
        app.port->loseDevice();
        app.port->refuse = true; // still gone for a while
        app.window->optCom(8)->click();
        app.tick();
        app.tick();
        QCOMPARE(app.window->lbIN(0)->text(), QStringLiteral("Acceptor Busy / Not Connected"));
        QVERIFY(!app.window->findChild<QMessageBox*>());
        app.port->refuse = false;
        app.tick();
        QVERIFY(app.port->isOpen());
        QCOMPARE(app.port->calls, QStringList({"open 1", "reopen 1", "reopen 1", "reopen 1"}));
    }

    void aLostDeviceBackButHeldByAnotherProgramIsSaidOnce()
    {
        FakeApp app;
        app.window->cmdStartStop()->click();
        app.tick();
        app.port->loseDevice();
        app.port->heldByAnother = true;
        for (int i = 0; i < 3; ++i)
            app.tick();
        const auto boxes = app.window->findChildren<QMessageBox*>("portHeld");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->text(),
                 QStringLiteral("Port 1 (fake) is back but in use by another program"));
        QCOMPARE(app.window->state().StartStop, Byte{1});
        app.port->heldByAnother = false;
        app.tick();
        QVERIFY(app.port->isOpen());
    }

    void afterAReconnectNoOrderGoesOutUntilTheNewDeviceReportsEscrow()
    {
        FakeApp app;
        app.window->cmdStartStop()->click();
        app.tick();
        app.window->state().Escrowed = 1; // the old device's last word
        app.port->loseDevice();
        app.port->refuse = true;
        app.tick();
        QCOMPARE(app.window->state().HostMsg(5), Byte{0x30}); // to no device: it is away
        app.port->refuse = false;
        app.tick();
        QVERIFY(app.port->isOpen());
        QCOMPARE(app.window->state().HostMsg(5), Byte{0x10});
    }

    void aFarEndThatGoesAndComesBackShowsFailedRowsThenPollsTheSameDeviceAgain()
    {
        SecondAcceptor eight;
        App app(150ms, eight.ports);
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 2000);
        app.sim->closeLink();
        QTRY_COMPARE_WITH_TIMEOUT(app.window->lbIN(0)->text(),
                                  QStringLiteral("Acceptor Busy / Not Connected"), 2000);
        app.window->optCom(8)->click(); // the port number now leads elsewhere
        QTest::qWait(300);
        QCOMPARE(app.window->lbIN(1)->text(), QStringLiteral("Acceptor Busy / Not Connected"));
        QCOMPARE(app.state().StartStop, Byte{1});
        QVERIFY(!app.window->findChild<QMessageBox*>());

        app.sim->reopenLink();
        QTRY_VERIFY_WITH_TIMEOUT(app.window->lbIN(0)->text().startsWith(QLatin1String("02 0B")),
                                 3000);
        QVERIFY(app.portOpen());
        QCOMPARE(eight.acceptor.messagesServed(), 0u);
    }
};

QTEST_MAIN(RunControlTest)
#include "tst_runcontrol.moc"
