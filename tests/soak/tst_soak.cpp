// Thousands of polls against an acceptor on a bad line: silence, late,
// short, sticky and queued replies, corrupt checksums, garbage floods, noise
// between replies and the far end going away, each striking while a bill is
// on its way. The program must live through it without growing, and its
// counters must show exactly the bills the acceptor stacked after each one.
// The poll tick mostly runs back to back instead of once a period, so the
// polls come as fast as the line allows; some bills are polled at 500 ms and
// at 1000 ms, where late replies land in the next poll's wait.
#include "appfixture.h"

#include <QElapsedTimer>
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

// The program with its poll timer held: the test ticks it.
struct Rig : App
{
    Rig() : App(100ms) { window->Timer1()->stop(); }

    void pollFor(int ms)
    {
        QElapsedTimer t;
        t.start();
        do
            poll();
        while (t.elapsed() < ms);
    }
    template <typename Done> bool pollUntil(Done done, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            poll();
        return done();
    }
    // Polls at most once every periodMs, at least 10 ms, a tenth of the
    // shortest poll period: a poll on a device that is gone fails at once,
    // and thousands of those a second would soak nothing.
    void poll()
    {
        QElapsedTimer t;
        t.start();
        window->engine().PollTick();
        polls += 1;
        QCoreApplication::processEvents(); // the delay timer, a lost device
        if (const qint64 left = periodMs - t.elapsed(); left > 0)
            QTest::qSleep(int(left));
    }

    bool countersMatchTally()
    {
        for (int n = 1; n <= 7; ++n) {
            const int tally = sim->tally().of(n);
            if (counter(n) != (tally ? QString::number(tally) : QString())) {
                qWarning("bill %d: counter '%s', acceptor stacked %d", n, qPrintable(counter(n)),
                         tally);
                return false;
            }
        }
        return true;
    }

    int polls = 0;
    int periodMs = 10;
};

// One bad spell on the line while the rig polls, then the line is good again.
void badSpell(Rig& rig, int kind)
{
    sim::AcceptorServer& sim = *rig.sim;
    switch (kind) {
    case 0: sim.silenceFor(1000ms); rig.pollFor(1000); break;
    case 1: sim.setLate(600ms); rig.pollFor(1000); sim.setLate(0ms); break;
    case 2: sim.setTruncate(6); rig.pollFor(700); sim.setTruncate(0); break;
    case 3: sim.setCorrupt(true); rig.pollFor(700); sim.setCorrupt(false); break;
    case 4:
        sim.setPaced(false);
        sim.setGarbage(64 * 1024);
        rig.pollFor(300);
        sim.setGarbage(0);
        sim.setPaced(true);
        break;
    case 5: sim.setNoise(32, 2); rig.pollFor(1500); sim.setNoise(0, 1); break;
    case 6: sim.command("late 600 4"); rig.pollFor(1500); break;
    case 7: sim.command("sticky 3"); rig.pollFor(1000); break;
    case 8: sim.command("queue on"); rig.pollFor(2500); sim.command("queue off"); break;
    default: sim.unplugFor(800ms); rig.pollFor(800); break;
    }
}

} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void theProgramLivesCountsAndDoesNotGrow()
    {
        Rig rig;
        rig.clickStartStop();
        QVERIFY(rig.pollUntil([&] { return rig.state().Idling == 1; }));
        rig.pollFor(1000);
        const long startKiB = residentKiB();

        std::mt19937 random(232);
        const int target = pollTarget();
        int bills = 0;
        while (rig.polls < target) {
            const int kind = static_cast<int>(random() % 10);
            rig.periodMs = bills % 8 == 4 ? 500 : bills % 8 == 7 ? 1000 : 10;
            rig.sim->command("insert " + std::to_string(1 + random() % 7));
            ++bills;
            rig.pollFor(static_cast<int>(random() % 700)); // strikes somewhere on the bill's way
            badSpell(rig, kind);
            QVERIFY(rig.pollUntil([&] { return rig.state().NRFlag == 0; }));
            QVERIFY(rig.pollUntil([&] { return rig.sim->tally().total() == bills; }));
            rig.pollFor(std::max(700, 3 * rig.periodMs)); // the stacked report is read and counted
            QVERIFY2(rig.countersMatchTally(),
                     qPrintable(QStringLiteral("bill %1, spell %2").arg(bills).arg(kind)));
        }

        const long grownKiB = residentKiB() - startKiB;
        qInfo("%d polls, %d bills, resident memory grew by %ld KiB", rig.polls, bills, grownKiB);
        if (residentMemoryMeansSomething)
            QVERIFY2(grownKiB < 2048, qPrintable(QString::number(grownKiB)));
        QCOMPARE(rig.state().StartStop, Byte{1});
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
