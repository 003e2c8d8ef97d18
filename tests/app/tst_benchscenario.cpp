// The bench instrument through kora232-headless: twenty bills with rejects,
// a cheat and a jam, each escrowed bill stacked in one run and returned in
// the other. The bills figures of the stop line must equal the simulator's
// count of each outcome, and no returned bill may be counted. Jams and other
// flags between bills are the acceptor's events, not bills.
#include "benchscenario.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    // The bench scenario, its escrowed bills stacked or returned.
    explicit Run(const QString& action)
        : Run(benchScenario(),
              {"--escrow-action", action, "--duration", QString::number(BenchScenarioSeconds)})
    {}
    Run(const QStringList& scenario, const QStringList& pollerArguments)
    {
        const QString link = dir.filePath(QStringLiteral("acceptor"));
        sim.start(ACCEPTOR_SIM, {"--link", link, "--run", scenario.join("; ")});
        if (!sim.waitForReadyRead(5000))
            return;
        poller.start(KORA232_HEADLESS, QStringList{"--port", "1=" + link} + pollerArguments);
    }

    // The poller's stop line, once it has ended.
    QJsonObject stopLine()
    {
        if (!stop.isEmpty())
            return stop;
        poller.waitForFinished(BenchScenarioSeconds * 1000 + 10000);
        for (const QByteArray& line : poller.readAllStandardOutput().split('\n'))
            if (const QJsonObject o = QJsonDocument::fromJson(line).object();
                o.value("event").toString() == QLatin1String("stop"))
                stop = o;
        return stop;
    }
    // The stop line's bills and counted total, as "stacked=.. returned=..
    // rejected=.. other=.. jams=.. counted=..".
    QString figures()
    {
        const QJsonObject o = stopLine();
        const QJsonObject b = o.value("bills").toObject();
        if (o.isEmpty())
            return QStringLiteral("no stop line");
        return QStringLiteral("stacked=%1 returned=%2 rejected=%3 other=%4 jams=%5 counted=%6")
            .arg(b.value("stacked").toInt())
            .arg(b.value("returned").toInt())
            .arg(b.value("rejected").toInt())
            .arg(b.value("other").toInt())
            .arg(b.value("jams").toInt())
            .arg(o.value("total").toInt());
    }
    // The simulator's outcomes in the same words; the acceptor counts
    // stacked bills, so "counted" is its stacked count. Its jams come
    // between bills: each is an event, and no bill is "other" but a cheat.
    QString outcomes()
    {
        sim.terminate();
        sim.waitForFinished(5000);
        const QRegularExpression line(
            QStringLiteral("outcomes: stacked=(\\d+) returned=(\\d+) rejected=(\\d+) jammed=(\\d+) "
                           "cheated=(\\d+)"));
        const auto m = line.match(QString::fromUtf8(sim.readAllStandardOutput()));
        if (!m.hasMatch())
            return QStringLiteral("no outcomes line");
        return QStringLiteral("stacked=%1 returned=%2 rejected=%3 other=%4 jams=%5 counted=%1")
            .arg(m.captured(1), m.captured(2), m.captured(3), m.captured(5), m.captured(4));
    }

    QTemporaryDir dir;
    QProcess sim;
    QProcess poller;
    QJsonObject stop;
};

} // namespace

class BenchScenarioTest : public QObject
{
    Q_OBJECT

private slots:
    void theBillFiguresEqualTheAcceptorsOutcomesStackedAndReturned()
    {
        Run stack(QStringLiteral("stack"));
        Run ret(QStringLiteral("return"));
        const QString stacked = stack.figures(), returned = ret.figures();
        QCOMPARE(stacked, stack.outcomes());
        QCOMPARE(returned, ret.outcomes());
        QVERIFY2(stacked.contains(QLatin1String("rejected=3")), qPrintable(stacked));
        QVERIFY2(returned.contains(QLatin1String("stacked=0")) &&
                     returned.contains(QLatin1String("returned=17")),
                 qPrintable(returned));
    }

    // Jams, a failure and a full stacker while idling between bills, each
    // bill stacked: every bill is accepted, and each flag's rise is counted.
    void jamsBetweenBillsLeaveEveryBillAccepted()
    {
        Run run(QString("step 100ms; wait 1s; insert 1; wait 1500ms; jam; wait 500ms; clear; "
                        "wait 300ms; jam; wait 300ms; clear; failure; wait 300ms; clear; full on; "
                        "wait 300ms; full off; insert 2; wait 1500ms; jam; wait 300ms; clear; "
                        "wait 300ms; insert 3")
                    .split(QStringLiteral("; ")),
                {"--until-bills", "3", "--duration", QString::number(BenchScenarioSeconds)});
        const QJsonObject bills = run.stopLine().value("bills").toObject();
        const QString figures = run.figures();
        QCOMPARE(figures, run.outcomes());
        QCOMPARE(figures,
                 QStringLiteral("stacked=3 returned=0 rejected=0 other=0 jams=3 counted=3"));
        QCOMPARE(bills.value("inserted").toInt(), 3);
        QCOMPARE(bills.value("acceptance_percent").toDouble(), 100.0);
        QCOMPARE(bills.value("failures").toInt(), 1);
        QCOMPARE(bills.value("stacker_full").toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(BenchScenarioTest)
#include "tst_benchscenario.moc"
