// The counters are money: on a bad line they show exactly the bills the
// acceptor stacked, no phantom from a report repeated while the line is
// down and no bill lost behind a late reply.
#include "appfixture.h"

#include <QTimer>
#include <functional>

using namespace kora;
using namespace std::chrono_literals;

namespace {

using Fault = std::function<void(sim::AcceptorServer&)>;

QStringList counters(App& app)
{
    QStringList out;
    for (int n = 1; n <= 7; ++n)
        out << app.counter(n);
    return out;
}

QStringList tallied(App& app)
{
    QStringList out;
    for (int n = 1; n <= 7; ++n) {
        const int count = app.sim->tally().of(n);
        out << (count ? QString::number(count) : QString());
    }
    return out;
}

} // namespace

class BadLineTest : public QObject
{
    Q_OBJECT

private slots:
    void aStackedReportFollowedByALineFaultIsCountedOnce_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("faultMs");
        QTest::newRow("silence") << Fault([](sim::AcceptorServer& s) { s.silenceFor(2000ms); })
                                 << 2000;
        QTest::newRow("far end gone")
            << Fault([](sim::AcceptorServer& s) { s.closeLink(); }) << 1500;
        QTest::newRow("corrupt replies")
            << Fault([](sim::AcceptorServer& s) { s.setCorrupt(true); }) << 1500;
    }
    void aStackedReportFollowedByALineFaultIsCountedOnce()
    {
        QFETCH(Fault, fault);
        QFETCH(int, faultMs);
        App app;
        bool struck = false;
        // Runs after the poll tick: the fault hits the poll after the report.
        QObject::connect(app.window->Timer1(), &QTimer::timeout, [&] {
            if (!struck && app.state().NRFlag == 0 && app.state().Stacked == 1) {
                struck = true;
                fault(*app.sim);
            }
        });
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        app.sim->command("insert 3");
        QTRY_VERIFY_WITH_TIMEOUT(struck, 5000);
        QTest::qWait(faultMs);
        QCOMPARE(app.state().NRFlag == 0, false);
        QCOMPARE(counters(app), tallied(app));

        app.sim->setCorrupt(false);
        if (!app.sim->linkOpen())
            app.sim->reopenLink();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().NRFlag == 0, 3000);
        QTest::qWait(600);
        QCOMPARE(counters(app), tallied(app));
        QCOMPARE(app.sim->tally().total(), 1);
    }

    void aBillStackedJustAfterALateReplyIsCounted()
    {
        App app;
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        app.sim->setLate(600ms);
        QTRY_VERIFY_WITH_TIMEOUT(app.state().NRFlag == 1, 2000);
        app.sim->setLate(0ms);
        app.sim->command("insert 5");
        QTRY_VERIFY_WITH_TIMEOUT(app.sim->tally().total() == 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(counters(app), tallied(app), 2000);
        QTest::qWait(600);
        QCOMPARE(counters(app), tallied(app));
        // Back in step: each reply row answers the host row beside it.
        QCOMPARE(app.state().AcceptorMsg(3) & 1, app.state().HostMsg(3) & 1);
    }
};

QTEST_MAIN(BadLineTest)
#include "tst_badline.moc"
