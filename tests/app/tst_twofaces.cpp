// The window and kora232-headless run one session engine: the same script
// of replies, message by message, played through both faces leaves the same
// rows in their logs, but for the times.
#include "app/headlessrun.h"
#include "control/runcontrol.h"
#include "csvreader.h"
#include "scriptedport.h"
#include "ui/kora232.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

using namespace kora;
using namespace kora::test;

namespace {

using K = ScriptedPort::Kind;
constexpr std::uint8_t Idling = 0x01, Accepting = 0x02, Escrowed = 0x04, Stacking = 0x08,
                       Stacked = 0x10;

// Two bills, one report staying up, a lost reply repeated, noise; no timing.
std::deque<ScriptedPort::Entry> script()
{
    return {{K::Report, Idling},
            {K::Report, Accepting, 0},
            {K::Report, Escrowed, 3},
            {K::Report, Stacking, 3},
            {K::Silence},
            {K::Report, Stacked, 3},
            {K::Report, Stacked, 3},
            {K::Noise},
            {K::Repeat},
            {K::Report, Escrowed, 5},
            {K::Report, Stacked, 5},
            {K::Report, Stacked, 0},
            {K::Report, Idling},
            {K::Silence},
            {K::Report, Idling}};
}

// A log's rows without what depends on the clock: the time, the reply time,
// the time each bill took (polls back to back may share a millisecond, or
// not), and the statistics after the counts in the stop row.
QList<QStringList> timeless(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QStringList> rows = parseCsv(QString::fromUtf8(file.readAll()));
    static const QRegularExpression took(QStringLiteral(" after \\d+\\.\\d s(, under one poll)?"));
    for (QStringList& row : rows) {
        row[0].clear();
        row[6].clear();
        row[8].replace(took, QStringLiteral(" after - s"));
        if (row[1] == QLatin1String("stop"))
            row[8] = row[8].section(u';', 0, 0);
    }
    return rows;
}

// Polls a period apart find the log caught up; polls ticked back to back
// let it catch up first, else one is held and sends the other bit.
void tickUntilDone(SessionEngine& engine, const ScriptedPort& port)
{
    engine.pollTimer()->stop();
    engine.delayTimer()->stop();
    while (!port.done()) {
        engine.record().log().drain(OutputQueue::Clock::now() + std::chrono::seconds(5));
        engine.PollTick();
    }
}

} // namespace

class TwoFacesTest : public QObject
{
    Q_OBJECT

private slots:
    void oneScriptThroughBothFacesLeavesTheSameLog()
    {
        QTemporaryDir dir;
        const QString windowLog = dir.filePath(QStringLiteral("window.csv"));
        const QString headlessLog = dir.filePath(QStringLiteral("headless.csv"));

        auto windowPort = std::make_unique<ScriptedPort>(script());
        const ScriptedPort& wp = *windowPort;
        Kora232 window(std::move(windowPort));
        auto* control = new RunControl(window);
        std::string why;
        QVERIFY(control->record().openLog(windowLog.toStdString(), &why));
        window.cmdStartStop()->click();
        tickUntilDone(window.engine(), wp);
        window.cmdStartStop()->click();
        control->record().closeLog();

        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        auto headlessPort = std::make_unique<ScriptedPort>(script());
        const ScriptedPort& hp = *headlessPort;
        HeadlessPlan plan;
        plan.logPath = headlessLog;
        HeadlessRun headless(std::move(headlessPort), plan, devNull);
        QCOMPARE(headless.begin(), std::nullopt);
        tickUntilDone(headless.engine(), hp);
        headless.end();
        ::close(devNull);

        const QList<QStringList> rows = timeless(windowLog);
        QCOMPARE(rows.size(), 1 + 1 + int(script().size()) + 1); // header, start, polls, stop
        QCOMPARE(timeless(headlessLog), rows);
        QVERIFY(rows.last().last().startsWith(QLatin1String(
            "bill 1=0 bill 2=0 bill 3=1 bill 4=0 bill 5=1 bill 6=0 bill 7=0 total=2")));
        QCOMPARE(window.txBillCount(3)->text(), QStringLiteral("1"));
    }

    // A stacked report that comes after the last poll's wait is judged at
    // the stop, by the window's STOP as by the headless poller's end.
    void aReportLeftOnTheLineIsCountedAtTheStopByEitherFace_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("the window's STOP") << true;
        QTest::newRow("kora232-headless ending") << false;
    }

    void aReportLeftOnTheLineIsCountedAtTheStopByEitherFace()
    {
        QFETCH(bool, window);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("log.csv"));
        auto port = std::make_unique<ScriptedPort>(std::deque<ScriptedPort::Entry>{
            {K::Report, Idling}, {K::Report, Escrowed, 3}, {K::Report, Stacking, 3}});
        ScriptedPort& p = *port;
        const ScriptedPort::Entry late{K::Report, Stacked, 3};
        if (window) {
            Kora232 w(std::move(port));
            auto* control = new RunControl(w);
            std::string why;
            QVERIFY(control->record().openLog(log.toStdString(), &why));
            w.cmdStartStop()->click();
            tickUntilDone(w.engine(), p);
            p.arriveLate(late, w.state().HostMsg(3) & 1);
            w.cmdStartStop()->click();
            control->record().log().finish(OutputQueue::Clock::now() + std::chrono::seconds(5));
            QCOMPARE(w.txBillCount(3)->text(), QStringLiteral("1"));
        } else {
            const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            HeadlessPlan plan;
            plan.logPath = log;
            HeadlessRun headless(std::move(port), plan, devNull);
            QCOMPARE(headless.begin(), std::nullopt);
            tickUntilDone(headless.engine(), p);
            p.arriveLate(late, headless.engine().state().HostMsg(3) & 1);
            headless.end();
            ::close(devNull);
        }
        const QList<QStringList> rows = timeless(log);
        QStringList kinds;
        for (const QStringList& row : rows)
            kinds << row.value(1);
        QCOMPARE(kinds.join(u' '), QStringLiteral("kind start poll poll poll read stop"));
        QCOMPARE(rows[5][1], QStringLiteral("read"));
        QVERIFY2(rows[5][8].startsWith("frame read at the stop 02 0B 2") &&
                     rows[5][8].contains(": bill 3 stacked, counted, count 1, total 1"),
                 qPrintable(rows[5][8]));
        QVERIFY2(rows[6][8].startsWith(QLatin1String("bill 1=0 bill 2=0 bill 3=1 ")),
                 qPrintable(rows[6].join(u'|')));
    }
};

QTEST_MAIN(TwoFacesTest)
#include "tst_twofaces.moc"
