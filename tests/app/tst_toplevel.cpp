// The top level: an error no handler traps ends the event loop, reaches the
// operator with its number and description, and nothing runs after it.
#include "app/toplevel.h"
#include "serial/serialerror.h"

#include <QTest>
#include <QTimer>

using namespace kora;

namespace {
TopLevel* app()
{
    return static_cast<TopLevel*>(QCoreApplication::instance());
}

// Runs the event loop and hands back what the operator would be told.
QString runAndTell(int* status = nullptr)
{
    const int loop = app()->exec();
    QString told;
    const int end = app()->finish(loop, [&told](const QString& text) { told = text; });
    if (status)
        *status = end;
    return told;
}
} // namespace

class TopLevelTest : public QObject
{
    Q_OBJECT

private slots:
    void aSerialErrorFromAHandlerEndsTheRunWithItsNumber()
    {
        QTimer::singleShot(0, [] {
            throw SerialError(DeviceUnavailable, QStringLiteral("Port 3 (/dev/ttyUSB9) cannot be "
                                                                "opened: No such file"));
        });
        int status = 0;
        QCOMPARE(
            runAndTell(&status),
            QStringLiteral("Error 8010: Port 3 (/dev/ttyUSB9) cannot be opened: No such file"));
        QCOMPARE(status, 1);
        QVERIFY(!app()->failed());
    }

    void anyOtherErrorIsToldByItsDescription()
    {
        QTimer::singleShot(0, [] { throw std::out_of_range("lbD(9) is not a bill label"); });
        QCOMPARE(runAndTell(), QStringLiteral("Error: lbD(9) is not a bill label"));
        QTimer::singleShot(0, [] { throw 42; });
        QCOMPARE(runAndTell(), QStringLiteral("Error: an unknown failure"));
    }

    void nothingIsDeliveredAfterTheFirstError()
    {
        int laterRan = 0;
        QTimer::singleShot(0, [] { throw std::runtime_error("first"); });
        QTimer::singleShot(0, [&laterRan] {
            ++laterRan;
            throw std::runtime_error("second");
        });
        QCOMPARE(runAndTell(), QStringLiteral("Error: first"));
        QCOMPARE(laterRan, 0);
    }

    void aQuietRunEndsWithTheLoopStatusAndNothingTold()
    {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        int status = -1;
        QCOMPARE(runAndTell(&status), QString());
        QCOMPARE(status, 0);
    }

    void aFailingStartUpIsCaughtTheSameWay()
    {
        app()->guard(
            [] { throw SerialError(InvalidPropertyValue, QStringLiteral("bad setting")); });
        QVERIFY(app()->failed());
        app()->guard([] { QFAIL("a step after a failure must not run"); });
        QString told;
        QCOMPARE(app()->finish(0, [&told](const QString& text) { told = text; }), 1);
        QCOMPARE(told, QStringLiteral("Error 380: bad setting"));
    }

    void eventsFlowAgainOnceTheFailureHasBeenTold()
    {
        QTimer::singleShot(0, [] { throw std::runtime_error("gone"); });
        app()->exec();
        bool delivered = false;
        app()->finish(1, [&delivered](const QString&) {
            QTimer::singleShot(0, [&delivered] { delivered = true; });
            QTRY_VERIFY(delivered); // as a message box's own events would be
        });
        QVERIFY(delivered);
    }
};

int main(int argc, char** argv)
{
    TopLevel app(argc, argv);
    TopLevelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_toplevel.moc"
