// What each program says when a path given to it fails: the path and the
// system's reason, the status its manual page gives, and on standard error
// nothing but its own lines, whatever the toolkit has to say.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class MessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void eachFailureNamesThePathAndTheReasonWithItsStatus_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments"); // DIR: a folder of the test's own
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // all of standard error
        const QString missing = QStringLiteral("/nonexistent-kora232/");
        const QString notThere = QStringLiteral(": No such file or directory\n");
        QTest::newRow("a screenshot into a missing folder")
            << KORA232 << QStringList{"--quit-after", "100", "--screenshot", missing + "s.png"} << 1
            << "kora232: cannot write the screenshot to " + missing + "s.png" + notThere;
        QTest::newRow("windows shown offscreen, the toolkit's chatter left out")
            << KORA232
            << QStringList{"--quit-after", "600",    "--show", "statistics",   "--show",
                           "history",      "--show", "menu",   "--screenshot", "DIR/s.png"}
            << 0 << QString();
        QTest::newRow("a report of a missing log")
            << KORA232 << QStringList{"--report", missing + "in.csv", "DIR/out.pdf"} << 2
            << "kora232: cannot read " + missing + "in.csv" + notThere;
        const QString notALog = ": not a session log (its first row has no time column); it is "
                                "left as it is\n";
        QTest::newRow("the window's log, another program's CSV")
            << KORA232 << QStringList{"--quit-after", "100", "--log", "DIR/notes.csv"} << 2
            << "kora232: cannot log to DIR/notes.csv" + notALog;
        QTest::newRow("the poller's log, another program's CSV")
            << KORA232_HEADLESS << QStringList{"--port", "1=/dev/null", "--log", "DIR/notes.csv"}
            << 2 << "kora232-headless: cannot log to DIR/notes.csv" + notALog;
        QTest::newRow("a missing scenario")
            << ACCEPTOR_SIM << QStringList{"--scenario", missing + "sc.txt"} << 2
            << "acceptor-sim: cannot read " + missing + "sc.txt" + notThere;
        QTest::newRow("a link in a missing folder")
            << ACCEPTOR_SIM << QStringList{"--link", missing + "acc"} << 2
            << "acceptor-sim: cannot make the link " + missing + "acc" + notThere;
    }
    void eachFailureNamesThePathAndTheReasonWithItsStatus()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QByteArray notes = "name,amount\nbus fare,5\n";
        QFile file(dir.filePath(QStringLiteral("notes.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(notes) == notes.size());
        file.close();
        arguments.replaceInStrings(QStringLiteral("DIR"), dir.path());
        said.replace(QStringLiteral("DIR"), dir.path());
        QProcess run;
        run.setProcessChannelMode(QProcess::SeparateChannels);
        run.start(program, arguments);
        run.closeWriteChannel();
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(QString::fromLocal8Bit(run.readAllStandardError()), said);
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), status);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), notes); // a refused log is left as it is
    }
};

QTEST_GUILESS_MAIN(MessagesTest)
#include "tst_messages.moc"
