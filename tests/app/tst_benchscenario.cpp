// The bench instrument through kora232-headless: twenty bills with rejects,
// a cheat and a jam, each escrowed bill stacked in one run and returned in
// the other. The bills figures of the stop line must equal the simulator's
// count of each outcome, and no returned bill may be counted.
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
    explicit Run(const QString& action)
    {
        const QString link = dir.filePath(QStringLiteral("acceptor"));
        sim.start(ACCEPTOR_SIM, {"--link", link, "--run", benchScenario().join("; ")});
        if (!sim.waitForReadyRead(5000))
            return;
        poller.start(KORA232_HEADLESS, {"--port", "1=" + link, "--escrow-action", action,
                                        "--duration", QString::number(BenchScenarioSeconds)});
    }

    // The stop line's bills and counted total, as "stacked=.. returned=..
    // rejected=.. other=.. counted=..".
    QString figures()
    {
        poller.waitForFinished(BenchScenarioSeconds * 1000 + 10000);
        for (const QByteArray& line : poller.readAllStandardOutput().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event").toString() != QLatin1String("stop"))
                continue;
            const QJsonObject b = o.value("bills").toObject();
            return QStringLiteral("stacked=%1 returned=%2 rejected=%3 other=%4 counted=%5")
                .arg(b.value("stacked").toInt())
                .arg(b.value("returned").toInt())
                .arg(b.value("rejected").toInt())
                .arg(b.value("other").toInt())
                .arg(o.value("total").toInt());
        }
        return QStringLiteral("no stop line");
    }
    // The simulator's outcomes in the same words; the acceptor counts
    // stacked bills, so "counted" is its stacked count.
    QString outcomes()
    {
        sim.terminate();
        sim.waitForFinished(5000);
        const QRegularExpression line(QStringLiteral(
            "outcomes: stacked=(\\d+) returned=(\\d+) rejected=(\\d+) jammed=(\\d+) cheated=(\\d+)"));
        const auto m = line.match(QString::fromUtf8(sim.readAllStandardOutput()));
        if (!m.hasMatch())
            return QStringLiteral("no outcomes line");
        return QStringLiteral("stacked=%1 returned=%2 rejected=%3 other=%4 counted=%1")
            .arg(m.captured(1), m.captured(2), m.captured(3))
            .arg(m.captured(4).toInt() + m.captured(5).toInt());
    }

    QTemporaryDir dir;
    QProcess sim;
    QProcess poller;
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
};

QTEST_GUILESS_MAIN(BenchScenarioTest)
#include "tst_benchscenario.moc"
