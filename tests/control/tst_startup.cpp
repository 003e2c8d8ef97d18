// Start-up on a freshly created window, and the window as the operator
// first sees it.
#include "control/startup.h"
#include "fakeport.h"
#include "ui/appearance.h"
#include "ui/kora232.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

using namespace kora;
using kora::test::FakePort;

namespace {

QColor pixel(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void setsTheOperatorDefaultsAndClearsTheStatus()
    {
        Kora232 w(std::make_unique<FakePort>());
        RunState& s = w.state();
        s.Stacked = 1, s.Cassette = 1, s.Failure = 1, s.Credit = 3, s.LastCredit = 3;
        s.Toggle = 1, s.Delay = 7;
        Startup(w);
        QCOMPARE(s.SetControls, Byte{1});
        QCOMPARE(s.SetDisplay, Byte{1});
        QCOMPARE(s.PortSelect, Byte{1});
        QCOMPARE(s.PollRate, std::int16_t{100});
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(s.BillEnable(n), Byte{1});
        QCOMPARE(s.StartStop, Byte{0});
        QCOMPARE(s.Allow, Byte{1});
        QCOMPARE(s.Stacked, Byte{0});
        QCOMPARE(s.Cassette, Byte{0});
        QCOMPARE(s.Failure, Byte{0});
        QCOMPARE(s.Credit, Byte{0});
        QCOMPARE(s.LastCredit, Byte{0});
        // Not the status: left alone.
        QCOMPARE(s.Toggle, Byte{1});
        QCOMPARE(s.Delay, Byte{7});
    }

    void blanksTheSevenCounters()
    {
        Kora232 w(std::make_unique<FakePort>());
        Startup(w);
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(w.txBillCount(n)->text(), QString());
    }

    void leavesEveryControlInItsCreationState()
    {
        Kora232 w(std::make_unique<FakePort>());
        Startup(w);
        for (int i = 0; i <= 6; ++i)
            QVERIFY(w.lb0(i)->isHidden());
        for (int i = 7; i <= 13; ++i)
            QVERIFY(!w.lb0(i)->isHidden());
        for (int i = 0; i <= 4; ++i)
            QVERIFY(w.lb1(i)->isHidden());
        for (int i = 5; i <= 8; ++i)
            QVERIFY(!w.lb1(i)->isHidden());
        for (int i = 0; i <= 2; ++i)
            QVERIFY(w.lb2(i)->isHidden());
        for (int i = 3; i <= 5; ++i)
            QVERIFY(!w.lb2(i)->isHidden());
        for (int n = 1; n <= 7; ++n)
            QVERIFY(w.lbD(n)->isHidden());
        for (int i : {0, 8, 9, 10, 11, 12, 13})
            QVERIFY(!w.lbD(i)->isHidden());
        QVERIFY(!w.lbx(5)->isHidden());

        QCOMPARE(w.lbOUT(0)->text(), QStringLiteral("00 00 00 00 00 00 00 00"));
        QCOMPARE(w.lbIN(0)->text(), QStringLiteral("00 00 00 00 00 00 00 00 00 00 00"));
        for (int r = 1; r <= 5; ++r) {
            QCOMPARE(w.lbOUT(r)->text(), QString());
            QCOMPARE(w.lbIN(r)->text(), QString());
        }
        QCOMPARE(w.txtPoll()->text(), QStringLiteral("100 ms"));
        QCOMPARE(w.hsPoll()->value(), 100);
        QVERIFY(w.optCom(1)->isChecked());
        QVERIFY(!w.optCom(1)->isHidden());
        QVERIFY(!w.optCom(2)->isHidden());
        QVERIFY(w.Check1()->isChecked());
        for (int i = 0; i <= 6; ++i)
            QVERIFY(w.chkBill(i)->isChecked());
        QCOMPARE(w.cmdStartStop()->text(), QStringLiteral("START"));
        QCOMPARE(BackColor(w.cmdStartStop()), QColor(0, 255, 0));
        QVERIFY(w.Timer1()->isActive());
        QVERIFY(w.Timer2()->isActive());
    }

    void configuresTheSerialObjectAndLeavesThePortClosed()
    {
        auto owned = std::make_unique<FakePort>();
        FakePort& port = *owned;
        Kora232 w(std::move(owned));
        port.setPortNumber(5);
        Startup(w);
        QCOMPARE(port.number, 1);
        QCOMPARE(port.settings, QStringLiteral("9600, E, 7, 1"));
        QCOMPARE(port.readLength, 0);
        QVERIFY(port.dtr && port.rts && port.binaryInput);
        QVERIFY(!port.isOpen());
        QVERIFY(port.calls.isEmpty());
    }

    void theWindowFirstSeenMatchesTheLayout()
    {
        Kora232 w(std::make_unique<FakePort>());
        Startup(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), QSize(641, 434));
        const QString path = QDir(QCoreApplication::applicationDirPath())
                                 .filePath(QStringLiteral("kora232-startup.png"));
        QVERIFY(shot.save(path));
        qInfo("screenshot: %s", qPrintable(path));

        // Window background: left of the banner, and the strip under the frames.
        QCOMPARE(pixel(shot, 5, 40), QColor(192, 192, 255));
        QCOMPARE(pixel(shot, 320, 433), QColor(192, 192, 255));
        // Monitor frame: black between the first two indicator columns and
        // below the bottom history row.
        QCOMPARE(pixel(shot, 120 + 132, 96 + 30), QColor(0, 0, 0));
        QCOMPARE(pixel(shot, 120 + 300, 96 + 327), QColor(0, 0, 0));
        // START face, away from its caption and bevel.
        QCOMPARE(pixel(shot, 304 + 6, 248 + 12), QColor(0, 255, 0));
        QCOMPARE(pixel(shot, 304 + 82, 248 + 12), QColor(0, 255, 0));
        // Settings frame: pale yellow beside the rectangles, and each
        // rectangle's fill.
        QCOMPARE(pixel(shot, 3, 96 + 200), QColor(255, 255, 192));
        QCOMPARE(pixel(shot, 8 + 100, 96 + 50), QColor(192, 192, 255));
        QCOMPARE(pixel(shot, 8 + 100, 96 + 200), QColor(255, 192, 192));
        QCOMPARE(pixel(shot, 8 + 100, 96 + 290), QColor(128, 255, 128));
        // History row 0 backgrounds, at their right ends.
        QCOMPARE(pixel(shot, 120 + 8 + 214, 96 + 312), QColor(128, 255, 128));
        QCOMPARE(pixel(shot, 120 + 232 + 278, 96 + 312), QColor(192, 192, 255));
        // Line1 across the frame.
        QCOMPARE(pixel(shot, 120 + 300, 96 + 144), QColor(255, 192, 128));
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
