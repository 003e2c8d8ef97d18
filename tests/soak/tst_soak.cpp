// Thousands of polls at the fastest rate against an acceptor on a bad line:
// silence, late and short replies, corrupt checksums, garbage floods, noise
// between replies and the far end going away, each striking while a bill is
// on its way. The program must live through it without growing, and its
// counters must show exactly the bills the acceptor stacked after each one.
#include "appfixture.h"

#include <QFile>
#include <QTimer>

#include <random>

using namespace kora;
using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back on purpose, so resident memory
// says nothing there; its leak checker watches the same thing instead.
constexpr bool residentMemoryMeansSomething = false;
#else
constexpr bool residentMemoryMeansSomething = true;
#endif

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

int pollTarget()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("KORA_SOAK_POLLS", &ok);
    return ok && n > 0 ? n : 2000;
}

} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

private:
    static bool countersMatchTally(App& app)
    {
        for (int n = 1; n <= 7; ++n) {
            const int tally = app.sim->tally().of(n);
            if (app.counter(n) != (tally ? QString::number(tally) : QString())) {
                qWarning("bill %d: counter '%s', acceptor stacked %d", n,
                         qPrintable(app.counter(n)), tally);
                return false;
            }
        }
        return true;
    }

    // One bad spell on the line, then the line is good again.
    static void badSpell(App& app, int kind)
    {
        sim::AcceptorServer& sim = *app.sim;
        switch (kind) {
        case 0: sim.silenceFor(1000ms); QTest::qWait(1000); break;
        case 1: sim.setLate(600ms); QTest::qWait(1000); sim.setLate(0ms); break;
        case 2: sim.setTruncate(6); QTest::qWait(700); sim.setTruncate(0); break;
        case 3: sim.setCorrupt(true); QTest::qWait(700); sim.setCorrupt(false); break;
        case 4:
            sim.setPaced(false);
            sim.setGarbage(64 * 1024);
            QTest::qWait(300);
            sim.setGarbage(0);
            sim.setPaced(true);
            break;
        case 5: sim.setNoise(32, 2); QTest::qWait(1500); sim.setNoise(0, 1); break;
        default: sim.unplugFor(800ms); QTest::qWait(800); break;
        }
        QTest::qWait(1200); // the line settles and a late reply drains
    }

private slots:
    void theProgramLivesCountsAndDoesNotGrow()
    {
        App app(100ms);
        int polls = 0;
        QObject::connect(app.window->Timer1(), &QTimer::timeout, [&] {
            polls += app.state().StartStop == 1;
        });
        app.clickStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(app.state().Idling == 1, 3000);
        QTest::qWait(3000);
        const long startKiB = residentKiB();

        std::mt19937 random(232);
        const int target = pollTarget();
        int bills = 0;
        while (polls < target) {
            const int kind = static_cast<int>(random() % 7);
            app.sim->command("insert " + std::to_string(1 + random() % 7));
            ++bills;
            QTest::qWait(static_cast<int>(random() % 700)); // strikes somewhere on the bill's way
            badSpell(app, kind);
            QTRY_VERIFY_WITH_TIMEOUT(app.state().NRFlag == 0, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(app.sim->tally().total() == bills, 5000);
            QTest::qWait(700); // the stacked report reaches the monitor and is counted
            QVERIFY2(countersMatchTally(app), qPrintable(QStringLiteral("bill %1, spell %2")
                                                              .arg(bills)
                                                              .arg(kind)));
        }

        const long grownKiB = residentKiB() - startKiB;
        qInfo("%d polls, %d bills, resident memory grew by %ld KiB", polls, bills, grownKiB);
        if (residentMemoryMeansSomething)
            QVERIFY2(grownKiB < 2048, qPrintable(QString::number(grownKiB)));
        QCOMPARE(app.state().StartStop, Byte{1});
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
