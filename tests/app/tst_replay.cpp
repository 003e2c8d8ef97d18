// A session kora232-headless logged against a noisy simulated line, played
// back by acceptor-sim --replay to kora232-headless again: the same bills
// counted and the same checksum errors as the log's stop row says.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Log = QStringLiteral(KORA_TEST_DATA "/noisy-session.csv");

// The last stop row's events: "bill 1=2 ... total=13; polls 233, ... checksum 10, ...".
QString lastStopEvents()
{
    QFile file(Log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString events;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.contains(",stop,"))
            events = QString::fromUtf8(line.mid(line.indexOf('"'))).trimmed().remove('"');
    return events;
}

QString countsText(const QJsonObject& stop)
{
    QStringList bills;
    for (int bill = 1; bill <= 7; ++bill)
        bills << QStringLiteral("bill %1=%2")
                     .arg(bill)
                     .arg(stop["counts"].toObject()[QString::number(bill)].toInt());
    return bills.join(' ') + QStringLiteral(" total=%1").arg(stop["total"].toInt());
}

QJsonObject stopLine(const QByteArray& out)
{
    for (const QByteArray& line : out.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o["event"].toString() == "stop")
            return o;
    }
    return {};
}

} // namespace

class ReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void aReplayedSessionCountsWhatTheRecordingCounted()
    {
        const QString recorded = lastStopEvents();
        const auto checksum = QRegularExpression(QStringLiteral("checksum (\\d+)")).match(recorded);
        QVERIFY2(checksum.hasMatch(), qPrintable(recorded));

        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("acceptor"));
        QProcess sim;
        sim.start(ACCEPTOR_SIM, {"--replay", Log, "--link", link});
        QVERIFY(sim.waitForReadyRead(5000)); // its first line: the link is there
        sim.readLine();

        QProcess poller;
        poller.start(KORA232_HEADLESS, {"--port", "1=" + link, "--duration", "90"});
        // Paced by poll: a log polled at 250 ms plays in well under its minute.
        QByteArray simOut; // QTRY reads its condition once more after it holds
        QTRY_VERIFY_WITH_TIMEOUT(
            (simOut += sim.readAllStandardOutput()).contains("played to its end"), 70000);
        poller.terminate();
        QVERIFY(poller.waitForFinished(10000));
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));

        const QJsonObject stop = stopLine(poller.readAllStandardOutput());
        QVERIFY2(!stop.isEmpty(), poller.readAllStandardError().constData());
        QVERIFY2(stop["total"].toInt() > 0, qPrintable(recorded));
        QCOMPARE(countsText(stop), recorded.section(';', 0, 0));
        QCOMPARE(stop["link"].toObject()["checksum"].toInt(), checksum.captured(1).toInt());
    }
};

QTEST_GUILESS_MAIN(ReplayTest)
#include "tst_replay.moc"
