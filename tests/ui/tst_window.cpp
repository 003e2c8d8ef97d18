// The window as it is created, before start-up: its own properties, the
// control arrays, stacking, the port group, the scroll bar and the timers.
#include "fakeport.h"
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace kora;

namespace {

std::vector<int> range(int first, int last)
{
    std::vector<int> all;
    for (int i = first; i <= last; ++i)
        all.push_back(i);
    return all;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

    Kora232* w = nullptr;
    bool portDestroyed = false;

private slots:
    void init()
    {
        portDestroyed = false;
        w = new Kora232(std::make_unique<test::FakePort>(&portDestroyed));
    }
    void cleanup() { delete w; }

    void theWindowHasItsTitleSizeBackgroundAndIcon()
    {
        QCOMPARE(w->objectName(), QStringLiteral("Kora232"));
        QVERIFY(w->windowTitle().startsWith(QStringLiteral("RS-232 Interface Program")));
        QVERIFY(w->windowTitle().endsWith(QStringLiteral("Ver. 1.3")));
        QCOMPARE(w->size(), QSize(641, 434));
        QCOMPARE(BackColor(w), QColor(192, 192, 255));
        QVERIFY(w->autoFillBackground());
        QVERIFY(w->minimumSize() != w->maximumSize()); // sizable
        QVERIFY(w->layout() == nullptr);
        const QList<QSize> iconSizes = w->windowIcon().availableSizes();
        QVERIFY(iconSizes.contains(QSize(32, 32)));
    }

    void theBannerIsDrawnFromTheBoxTopLeftCorner()
    {
        const QPixmap banner = w->Picture1()->pixmap();
        QCOMPARE(banner.size(), QSize(591, 85));
        // Pixel for pixel the rows built in (the resource's width and height, then the rows).
        QFile stored(QStringLiteral(":/kora232/banner.rgb32"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QImage shown = banner.toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(shown.constBits()), shown.sizeInBytes()),
                 stored.readAll().mid(8));
        QCOMPARE(w->Picture1()->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(BackColor(w->Picture1()), QColor(192, 192, 255));
    }

    void eachArrayHasExactlyItsMembers()
    {
        QCOMPARE(w->lb0Array().indexes(), range(0, 13));
        QCOMPARE(w->lb1Array().indexes(), range(0, 8));
        QCOMPARE(w->lb2Array().indexes(), range(0, 5));
        QCOMPARE(w->lbDArray().indexes(), range(0, 13));
        QCOMPARE(w->lbxArray().indexes(), std::vector<int>{5});
        QCOMPARE(w->txBillCountArray().indexes(), range(1, 7));
        QCOMPARE(w->lbOUTArray().indexes(), range(0, 5));
        QCOMPARE(w->lbINArray().indexes(), range(0, 5));
        QCOMPARE(w->chkBillArray().indexes(), range(0, 6));
        QCOMPARE(w->optComArray().indexes(), range(1, 8));
    }

    void askingForAMissingMemberThrows()
    {
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->txBillCount(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->txBillCount(8));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lbx(4));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lbx(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lb0(14));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lb1(9));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lb2(-1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lbD(14));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lbOUT(6));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->lbIN(6));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->chkBill(7));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->optCom(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, w->optCom(9));
    }

    void membersAreNamedByArrayAndIndex()
    {
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("lbIN(3)")), w->lbIN(3));
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("lbD(0)")), w->lbD(0));
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("lbx(5)")), w->lbx(5));
        QCOMPARE(w->findChild<QLineEdit*>(QStringLiteral("txBillCount(7)")), w->txBillCount(7));
        QCOMPARE(w->findChild<QCheckBox*>(QStringLiteral("chkBill(0)")), w->chkBill(0));
        const char* options[] = {"optCom1", "optCom2", "optCom3", "optCom4",
                                 "optCom5", "optCom6", "optcom7", "optcom8"};
        for (int n = 1; n <= 8; ++n)
            QCOMPARE(w->optCom(n)->objectName(), QString::fromLatin1(options[n - 1]));
        QCOMPARE(w->Check1()->objectName(), QStringLiteral("Check1"));
        QCOMPARE(w->hsPoll()->objectName(), QStringLiteral("hsPoll"));
        QCOMPARE(w->txtPoll()->objectName(), QStringLiteral("txtPoll"));
    }

    void indicatorsAndBillLabelsStartHiddenOverTheirStaticCopies()
    {
        // indicator -> the copy it covers
        const std::pair<QLabel*, QLabel*> pairs[] = {
            {w->lb0(0), w->lb0(13)}, {w->lb0(1), w->lb0(12)}, {w->lb0(2), w->lb0(11)},
            {w->lb0(3), w->lb0(10)}, {w->lb0(4), w->lb0(9)},  {w->lb0(5), w->lb0(8)},
            {w->lb0(6), w->lb0(7)},  {w->lb1(0), w->lb1(8)},  {w->lb1(1), w->lb1(7)},
            {w->lb1(2), w->lb1(6)},  {w->lb1(3), w->lb1(5)},  {w->lb1(4), w->lbx(5)},
            {w->lb2(0), w->lb2(5)},  {w->lb2(1), w->lb2(4)},  {w->lb2(2), w->lb2(3)},
            {w->lbD(1), w->lbD(13)}, {w->lbD(2), w->lbD(12)}, {w->lbD(3), w->lbD(11)},
            {w->lbD(4), w->lbD(10)}, {w->lbD(5), w->lbD(9)},  {w->lbD(6), w->lbD(8)},
            {w->lbD(7), w->lbD(0)},
        };
        for (const auto& [indicator, copy] : pairs) {
            const QString what =
                indicator->objectName() + QStringLiteral(" over ") + copy->objectName();
            QVERIFY2(indicator->isHidden(), qPrintable(what));
            QVERIFY2(!copy->isHidden(), qPrintable(what));
            QCOMPARE(indicator->geometry(), copy->geometry());
            QCOMPARE(indicator->parentWidget(), copy->parentWidget());
            const QObjectList order = copy->parentWidget()->children();
            QVERIFY2(order.indexOf(indicator) > order.indexOf(copy), qPrintable(what));
            if (copy != w->lbx(5))
                QCOMPARE(indicator->text(), copy->text());
        }
    }

    void countersLieOverTheBillLabelsAndTheButtonOverTheMonitor()
    {
        const QObjectList frame = w->frmMonitor()->children();
        for (int n = 1; n <= 7; ++n) {
            QVERIFY(frame.indexOf(w->txBillCount(n)) > frame.indexOf(w->lbD(n)));
            // One pixel of overlap.
            QCOMPARE(w->txBillCount(n)->geometry().right(), w->lbD(n)->geometry().left());
        }
        QCOMPARE(w->cmdStartStop()->parentWidget(), static_cast<QWidget*>(w));
        const QObjectList window = w->children();
        QVERIFY(window.indexOf(w->cmdStartStop()) > window.indexOf(w->frmMonitor()));
        QVERIFY(w->frmMonitor()->geometry().contains(w->cmdStartStop()->geometry()));
    }

    void settingsLieOnTopOfTheirRectangles()
    {
        const QObjectList frame = w->frmControls()->children();
        const int lastShape =
            std::max({frame.indexOf(w->shapeComPort()), frame.indexOf(w->shapePoll()),
                      frame.indexOf(w->shapeEnable())});
        for (QWidget* c : std::initializer_list<QWidget*>{
                 w->lblCom(), w->optCom(1), w->optCom(8), w->Check1(), w->lblPoll(), w->txtPoll(),
                 w->hsPoll(), w->lblBill(), w->chkBill(0), w->chkBill(6)})
            QVERIFY2(frame.indexOf(c) > lastShape, qPrintable(c->objectName()));
    }

    void portOneEscrowAndEveryBillStartSelected()
    {
        QVERIFY(w->optCom(1)->isChecked());
        for (int n = 2; n <= 8; ++n)
            QVERIFY(!w->optCom(n)->isChecked());
        QVERIFY(w->Check1()->isChecked());
        for (int i = 0; i <= 6; ++i)
            QVERIFY(w->chkBill(i)->isChecked());
    }

    void theEightPortButtonsAreOneGroup()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::mouseClick(w->optCom(6), Qt::LeftButton);
        QVERIFY(w->optCom(6)->isChecked());
        QVERIFY(!w->optCom(1)->isChecked());
        QTest::mouseClick(w->optCom(8), Qt::LeftButton);
        int checked = 0;
        for (int n = 1; n <= 8; ++n)
            checked += w->optCom(n)->isChecked() ? 1 : 0;
        QCOMPARE(checked, 1);
        QVERIFY(w->optCom(8)->isChecked());
        QVERIFY(w->Check1()->isChecked()); // not part of the group
    }

    void thePollScrollBarRunsFrom100To5000InStepsOf10And100()
    {
        QScrollBar* bar = w->hsPoll();
        QCOMPARE(bar->orientation(), Qt::Horizontal);
        QCOMPARE(bar->minimum(), 100);
        QCOMPARE(bar->maximum(), 5000);
        QCOMPARE(bar->singleStep(), 10);
        QCOMPARE(bar->pageStep(), 100);
        QCOMPARE(bar->value(), 100);

        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar->value(), 100); // cannot go below
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(bar->value(), 110);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(bar->value(), 210);
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(bar->value(), 5000); // nor above
    }

    void onlyACompletedChangeOfThePollRateIsReported()
    {
        QScrollBar* bar = w->hsPoll();
        QVERIFY(!bar->hasTracking());
        QSignalSpy changes(bar, &QScrollBar::valueChanged);
        bar->setSliderDown(true);
        bar->setSliderPosition(400);
        bar->setSliderPosition(700);
        QCOMPARE(changes.count(), 0);
        bar->setSliderDown(false);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).toInt(), 700);
    }

    void resizingMovesNothing()
    {
        QList<QRect> before;
        const QList<QWidget*> all = w->findChildren<QWidget*>();
        for (QWidget* c : all)
            before.append(c->geometry());
        w->resize(900, 700);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        for (qsizetype i = 0; i < all.size(); ++i)
            QCOMPARE(all[i]->geometry(), before[i]);
    }

    void bothTimersRunAt100MsFromCreation()
    {
        for (QTimer* t : {w->Timer1(), w->Timer2()}) {
            // The window owns them through its session engine.
            QCOMPARE(t->parent(), static_cast<QObject*>(&w->engine()));
            QCOMPARE(w->engine().parent(), static_cast<QObject*>(w));
            QCOMPARE(t->interval(), 100);
            QVERIFY(t->isActive());
        }
        QCOMPARE(w->Timer1()->objectName(), QStringLiteral("Timer1"));
        QCOMPARE(w->Timer2()->objectName(), QStringLiteral("Timer2"));
    }

    void theSerialObjectLivesAsLongAsTheWindowAndStartsClosed()
    {
        QVERIFY(!w->MSComm1().isOpen());
        QVERIFY(!portDestroyed);
        delete w;
        w = nullptr;
        QVERIFY(portDestroyed);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
