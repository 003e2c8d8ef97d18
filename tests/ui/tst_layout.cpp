// The window's controls against the layout tables: place, caption, colours
// and font of a broad sample from every table (geometry in twips).
#include "fakeport.h"
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/widgets.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace kora;

namespace {

QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

QWidget* control(const Kora232& w, const QString& name)
{
    auto* found = w.findChild<QWidget*>(name);
    if (!found)
        qFatal("no control named %s", qPrintable(name));
    return found;
}

QString textOf(const QWidget* c)
{
    if (auto* label = qobject_cast<const QLabel*>(c))
        return label->text();
    if (auto* box = qobject_cast<const QLineEdit*>(c))
        return box->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(c))
        return button->text();
    if (auto* frame = qobject_cast<const QGroupBox*>(c))
        return frame->title();
    return {};
}

} // namespace
class LayoutTest : public QObject
{
    Q_OBJECT

    Kora232* w = nullptr;

private slots:
    void init() { w = new Kora232(std::make_unique<test::FakePort>()); }
    void cleanup() { delete w; }

    void controlsSitWhereTheTablesPutThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("place");
        auto row = [](const char* name, const char* container, QRect place) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container)
                                << place;
        };
        // On the window.
        row("Picture1", "Kora232", twips(300, 0, 8955, 1275));
        row("frmControls", "Kora232", twips(0, 1440, 1815, 5055));
        row("frmMonitor", "Kora232", twips(1800, 1440, 7815, 5055));
        row("cmdStartStop", "Kora232", twips(4560, 3720, 1335, 375));
        // Settings & Controls.
        row("shapeComPort", "frmControls", twips(120, 240, 1575, 1575));
        row("lblCom", "frmControls", twips(240, 360, 1335, 255));
        row("optCom1", "frmControls", twips(360, 600, 495, 255));
        row("optCom4", "frmControls", twips(360, 1500, 495, 255));
        row("optCom6", "frmControls", twips(960, 900, 495, 255));
        row("optcom7", "frmControls", twips(960, 1200, 495, 255));
        row("optcom8", "frmControls", twips(960, 1500, 495, 255));
        row("Check1", "frmControls", twips(120, 1860, 1575, 315));
        row("shapePoll", "frmControls", twips(120, 2220, 1575, 1335));
        row("lblPoll", "frmControls", twips(240, 2280, 1215, 495));
        row("txtPoll", "frmControls", twips(240, 2820, 1335, 375));
        row("hsPoll", "frmControls", twips(240, 3240, 1335, 255));
        row("shapeEnable", "frmControls", twips(120, 3600, 1575, 1335));
        row("lblBill", "frmControls", twips(240, 3660, 1335, 315));
        row("chkBill(0)", "frmControls", twips(240, 3900, 735, 255));
        row("chkBill(2)", "frmControls", twips(240, 4380, 675, 255));
        row("chkBill(3)", "frmControls", twips(960, 3900, 675, 255));
        row("chkBill(6)", "frmControls", twips(960, 4620, 675, 255));
        // Monitor, column 1.
        row("lb0(0)", "frmMonitor", twips(240, 360, 1695, 255));
        row("lb0(13)", "frmMonitor", twips(240, 360, 1695, 255));
        row("lb0(4)", "frmMonitor", twips(240, 1320, 1695, 255));
        row("lb0(6)", "frmMonitor", twips(240, 1800, 1695, 255));
        row("lb0(7)", "frmMonitor", twips(240, 1800, 1695, 255));
        // Column 2.
        row("lb1(0)", "frmMonitor", twips(2040, 360, 2055, 255));
        row("lb1(5)", "frmMonitor", twips(2040, 1080, 2055, 255));
        row("lb1(4)", "frmMonitor", twips(2040, 1560, 2055, 495));
        row("lbx(5)", "frmMonitor", twips(2040, 1560, 2055, 495));
        // Column 3.
        row("txBillCount(1)", "frmMonitor", twips(4440, 360, 495, 285));
        row("txBillCount(7)", "frmMonitor", twips(4440, 1800, 495, 285));
        row("lbD(1)", "frmMonitor", twips(4920, 360, 855, 255));
        row("lbD(13)", "frmMonitor", twips(4920, 360, 855, 255));
        row("lbD(5)", "frmMonitor", twips(4920, 1320, 855, 255));
        row("lbD(9)", "frmMonitor", twips(4920, 1320, 855, 255));
        row("lbD(7)", "frmMonitor", twips(4920, 1800, 855, 255));
        row("lbD(0)", "frmMonitor", twips(4920, 1800, 855, 255));
        // Column 4.
        row("lb2(0)", "frmMonitor", twips(5880, 360, 1575, 615));
        row("lb2(4)", "frmMonitor", twips(5880, 960, 1575, 615));
        row("lb2(2)", "frmMonitor", twips(5880, 1680, 1575, 255));
        // Headings, lines and histories.
        row("lbHOST", "frmMonitor", twips(420, 2400, 1995, 255));
        row("Label1", "frmMonitor", twips(4440, 2400, 3015, 255));
        row("Line4", "frmMonitor", QRect(0, 16, 520, 1));
        row("Line1", "frmMonitor", QRect(0, 144, 520, 1));
        row("lbOUT(0)", "frmMonitor", twips(120, 4560, 3255, 255));
        row("lbOUT(5)", "frmMonitor", twips(120, 2760, 3255, 255));
        row("lbOUT(2)", "frmMonitor", twips(120, 3840, 3255, 255));
        row("lbIN(0)", "frmMonitor", twips(3480, 4560, 4215, 255));
        row("lbIN(3)", "frmMonitor", twips(3480, 3480, 4215, 255));
        row("lbIN(5)", "frmMonitor", twips(3480, 2760, 4215, 255));
    }
    void controlsSitWhereTheTablesPutThem()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, place);
        QWidget* c = control(*w, name);
        QCOMPARE(c->parentWidget()->objectName(), container);
        QCOMPARE(c->geometry(), place);
    }

    void framesShareTheAreaUnderTheBanner()
    {
        // The monitor frame's left edge lies one pixel over the controls
        // frame's right edge; both end one pixel above the bottom.
        QCOMPARE(w->frmMonitor()->geometry().left(), w->frmControls()->geometry().right());
        QCOMPARE(w->frmControls()->geometry().bottom(), 434 - 2);
        QCOMPARE(w->frmMonitor()->geometry().bottom(), 434 - 2);
        QCOMPARE(w->frmMonitor()->geometry().right(), 640);
    }

    void captionsReadAsTheTablesSay_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        auto row = [](const char* name, const char* caption) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(caption);
        };
        row("frmControls", "Settings && Controls");
        row("cmdStartStop", "START");
        row("lblCom", "Select Com Port");
        row("optCom1", "1");
        row("optCom5", "5");
        row("optcom8", "8");
        row("Check1", "Escrow Mode");
        row("lblPoll", "Poll Rate  (milliseconds)");
        row("txtPoll", "100 ms");
        row("lblBill", "Check to Enable");
        row("chkBill(0)", "Bill 1");
        row("chkBill(6)", "Bill 7");
        row("lb0(0)", "IDLING");
        row("lb0(13)", "IDLING");
        row("lb0(3)", "STACKING");
        row("lb0(10)", "STACKING");
        row("lb0(6)", "RETURNED");
        row("lb0(7)", "RETURNED");
        row("lb1(1)", "BILL REJECTED");
        row("lb1(7)", "BILL REJECTED");
        row("lb1(3)", "STACKER FULL");
        row("lb1(5)", "STACKER FULL");
        row("lb1(4)", "BILL CASSETTE PRESENT");
        row("lbx(5)", "BILL CASSETTE NOT PRESENT");
        row("lb2(0)", "POWERING UP");
        row("lb2(5)", "POWERING UP");
        row("lb2(1)", "INVALID COMMAND");
        row("lb2(4)", "INVALID COMMAND");
        row("lb2(2)", "FAILURE");
        row("lb2(3)", "FAILURE");
        row("lbD(1)", "BILL 1");
        row("lbD(13)", "BILL 1");
        row("lbD(6)", "BILL 6");
        row("lbD(8)", "BILL 6");
        row("lbD(7)", "BILL 7");
        row("lbD(0)", "BILL 7");
        row("txBillCount(1)", "100");
        row("txBillCount(7)", "100");
        row("lbHOST", "PC to Acceptor:");
        row("Label1", "Acceptor Response to PC:");
        row("lbOUT(0)", "00 00 00 00 00 00 00 00");
        row("lbIN(0)", "00 00 00 00 00 00 00 00 00 00 00");
        row("lbOUT(1)", "");
        row("lbOUT(5)", "");
        row("lbIN(1)", "");
        row("lbIN(5)", "");
    }
    void captionsReadAsTheTablesSay()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QCOMPARE(textOf(control(*w, name)), caption);
    }

    void theFrameCaptionsShowAsTheOperatorReadsThem()
    {
        auto* controls = static_cast<Frame*>(w->frmControls());
        QCOMPARE(controls->shownCaption(), QStringLiteral("Settings & Controls"));
        const QString monitor = w->frmMonitor()->title();
        QCOMPARE(monitor.size(), 154);
        QCOMPARE(monitor,
                 QString(61, u' ') + QStringLiteral("Communication  Monitor") + QString(71, u' '));
    }

    void coloursAreThoseOfTheTables_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("fore");
        QTest::addColumn<QColor>("back");
        auto row = [](const char* name, QColor fore, QColor back) {
            QTest::newRow(name) << QString::fromLatin1(name) << fore << back;
        };
        const QColor black(0, 0, 0), white(255, 255, 255), darkGrey(64, 64, 64),
            grey(128, 128, 128), lightBlue(192, 192, 255), lightGreen(128, 255, 128);
        row("frmControls", black, QColor(255, 255, 192));
        row("frmMonitor", white, black);
        row("cmdStartStop", black, QColor(0, 255, 0));
        row("lblCom", black, lightBlue);
        row("optCom1", black, lightBlue);
        row("optcom7", black, lightBlue);
        row("Check1", white, QColor(128, 0, 128));
        row("lblPoll", black, QColor(255, 192, 192));
        row("txtPoll", QColor(255, 224, 192), darkGrey);
        row("lblBill", black, lightGreen);
        row("chkBill(0)", black, lightGreen);
        row("chkBill(5)", black, lightGreen);
        row("lb0(0)", QColor(0, 255, 0), black);
        row("lb0(4)", QColor(0, 255, 0), black);
        row("lb0(5)", QColor(255, 0, 0), black);
        row("lb0(6)", QColor(255, 0, 0), black);
        row("lb0(7)", darkGrey, black);
        row("lb0(13)", darkGrey, black);
        row("lb1(0)", QColor(255, 0, 0), black);
        row("lb1(3)", QColor(255, 0, 0), black);
        row("lb1(4)", QColor(0, 255, 255), black);
        row("lb1(8)", darkGrey, black);
        row("lbx(5)", grey, black);
        row("lb2(0)", lightBlue, black);
        row("lb2(1)", QColor(255, 255, 0), black);
        row("lb2(2)", QColor(255, 255, 0), black);
        row("lb2(3)", darkGrey, black);
        row("lbD(1)", QColor(255, 192, 255), black);
        row("lbD(7)", QColor(255, 192, 255), black);
        row("lbD(0)", grey, black);
        row("lbD(10)", grey, black);
        row("txBillCount(1)", grey, black);
        row("txBillCount(6)", grey, black);
        row("lbHOST", lightGreen, black);
        row("Label1", lightBlue, black);
        row("lbOUT(0)", black, lightGreen);
        row("lbOUT(1)", black, QColor(192, 255, 192));
        row("lbOUT(5)", black, QColor(192, 255, 192));
        row("lbIN(0)", black, lightBlue);
        row("lbIN(1)", black, QColor(216, 216, 255));
        row("lbIN(4)", black, QColor(216, 216, 255));
    }
    void coloursAreThoseOfTheTables()
    {
        QFETCH(QString, name);
        QFETCH(QColor, fore);
        QFETCH(QColor, back);
        const QWidget* c = control(*w, name);
        QCOMPARE(ForeColor(c), fore);
        QCOMPARE(BackColor(c), back);
        if (qobject_cast<const QLabel*>(c))
            QVERIFY(c->autoFillBackground()); // labels are opaque
    }

    void shapesAndLinesHaveTheirColours()
    {
        QCOMPARE(w->shapeComPort()->fillColour(), QColor(192, 192, 255));
        QCOMPARE(w->shapePoll()->fillColour(), QColor(255, 192, 192));
        QCOMPARE(w->shapeEnable()->fillColour(), QColor(128, 255, 128));
        QCOMPARE(w->Line1()->lineColour(), QColor(255, 192, 128));
        QCOMPARE(w->Line4()->lineColour(), QColor(255, 192, 128));
    }

    void fontsAndAlignmentAreThoseOfTheTables_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<int>("align");
        auto row = [](const char* name, int pixels, bool bold, Qt::Alignment align) {
            QTest::newRow(name) << QString::fromLatin1(name) << pixels << bold << int(align);
        };
        const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
        const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
        row("frmControls", 11, false, {});
        row("frmMonitor", 11, false, {});
        row("cmdStartStop", 11, true, {});
        row("lblCom", 11, false, left);
        row("lblPoll", 11, false, left);
        row("optCom3", 11, false, {});
        row("Check1", 11, false, {});
        row("chkBill(4)", 11, false, {});
        row("txtPoll", 13, true, Qt::AlignCenter);
        row("txBillCount(2)", 11, false, Qt::AlignCenter);
        row("lb0(1)", 13, true, centred);
        row("lb0(12)", 13, true, centred);
        row("lb1(4)", 13, true, centred);
        row("lbx(5)", 13, true, centred);
        row("lb2(1)", 13, true, centred);
        row("lbD(3)", 13, true, centred);
        row("lbD(0)", 13, true, centred);
        row("lbHOST", 13, true, left);
        row("Label1", 13, true, left);
        row("lbOUT(0)", 13, true, centred);
        row("lbIN(3)", 13, true, centred);
    }
    void fontsAndAlignmentAreThoseOfTheTables()
    {
        QFETCH(QString, name);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        QFETCH(int, align);
        const QWidget* c = control(*w, name);
        QCOMPARE(c->font().family(), WindowFontFamily());
        QCOMPARE(QFontInfo(c->font()).pixelSize(), pixels);
        QCOMPARE(c->font().bold(), bold);
        if (auto* label = qobject_cast<const QLabel*>(c)) {
            QCOMPARE(int(label->alignment()), align);
            QVERIFY(label->wordWrap());
        }
        if (auto* box = qobject_cast<const QLineEdit*>(c))
            QCOMPARE(int(box->alignment()), align);
    }

    void theFaceIsTheClassicOneOrASimilarSansSerif()
    {
        const QString family = QFontInfo(w->font()).family();
        QVERIFY2(family == QStringLiteral("MS Sans Serif") ||
                     family == QStringLiteral("Liberation Sans") ||
                     WindowFontFamily() != QStringLiteral("Liberation Sans"),
                 qPrintable(family));
        QCOMPARE(QFontInfo(w->font()).pixelSize(), 11);
    }
};

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
