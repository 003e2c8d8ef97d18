// The "Settings & Controls" frame: port choice, escrow mode, poll rate and
// bill enables, each group on its own coloured rectangle.
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/labelfactory.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace kora {

namespace {

struct ButtonRow
{
    const char* name;
    int index; // below 0: a single control
    int left, top, width, height;
    const char* caption;
};

// optcom7 and optcom8 really are spelled with a lower-case c.
constexpr ButtonRow PortOptions[] = {
    {"optCom1", 1, 360, 600, 495, 255, "1"},  {"optCom2", 2, 360, 900, 495, 255, "2"},
    {"optCom3", 3, 360, 1200, 495, 255, "3"}, {"optCom4", 4, 360, 1500, 495, 255, "4"},
    {"optCom5", 5, 960, 600, 495, 255, "5"},  {"optCom6", 6, 960, 900, 495, 255, "6"},
    {"optcom7", 7, 960, 1200, 495, 255, "7"}, {"optcom8", 8, 960, 1500, 495, 255, "8"},
};

constexpr ButtonRow BillChecks[] = {
    {"chkBill", 0, 240, 3900, 735, 255, "Bill 1"}, {"chkBill", 1, 240, 4140, 675, 255, "Bill 2"},
    {"chkBill", 2, 240, 4380, 675, 255, "Bill 3"}, {"chkBill", 3, 960, 3900, 675, 255, "Bill 4"},
    {"chkBill", 4, 960, 4140, 675, 255, "Bill 5"}, {"chkBill", 5, 960, 4380, 675, 255, "Bill 6"},
    {"chkBill", 6, 960, 4620, 675, 255, "Bill 7"},
};

template <typename Button> Button* makeButton(const ButtonRow& row, QRgb back, QWidget* container)
{
    auto* button = new Button(QString::fromLatin1(row.caption), container);
    const QString name = QString::fromLatin1(row.name);
    button->setObjectName(row.index < 0 ? name : name + QStringLiteral("(%1)").arg(row.index));
    button->setGeometry(TwipsRect(row.left, row.top, row.width, row.height));
    SetBackColor(button, QColor(back));
    return button;
}

Shape* makeShape(const char* name, QRect twips, QRgb fill, QWidget* container)
{
    auto* shape = new Shape(QColor(fill), container);
    shape->setObjectName(QString::fromLatin1(name));
    shape->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    return shape;
}

} // namespace

void Kora232::buildControlsFrame()
{
    using namespace colour;
    QWidget* frame = controlsFrame;

    // The rectangles first, so that everything else lies on top of them.
    comShape = makeShape("shapeComPort", QRect(120, 240, 1575, 1575), LightBlue, frame);
    pollShape = makeShape("shapePoll", QRect(120, 2220, 1575, 1335), Pink, frame);
    enableShape = makeShape("shapeEnable", QRect(120, 3600, 1575, 1335), LightGreen, frame);

    comHeading =
        MakeLabel({"lblCom", -1, 240, 360, 1335, 255, "Select Com Port", Black, LightBlue}, frame);
    // Every option button has the frame as parent, which makes them one group.
    for (const ButtonRow& row : PortOptions) {
        auto* option = makeButton<QRadioButton>(row, LightBlue, frame);
        option->setObjectName(QString::fromLatin1(row.name));
        portOptions.add(row.index, option);
    }
    portOptions(1)->setChecked(true);

    escrowMode =
        makeButton<QCheckBox>({"Check1", -1, 120, 1860, 1575, 315, "Escrow Mode"}, Purple, frame);
    SetForeColor(escrowMode, QColor(White));
    escrowMode->setChecked(true);

    pollHeading = MakeLabel(
        {"lblPoll", -1, 240, 2280, 1215, 495, "Poll Rate  (milliseconds)", Black, Pink}, frame);

    pollText = MakeTextBox(QStringLiteral("txtPoll"), TwipsRect(240, 2820, 1335, 375), frame);
    pollText->setAlignment(Qt::AlignCenter);
    pollText->setFont(LargeBoldFont());
    SetBackColor(pollText, QColor(DarkGrey));
    SetForeColor(pollText, QColor(Peach));
    pollText->setText(QStringLiteral("100 ms"));

    pollScroll = new QScrollBar(Qt::Horizontal, frame);
    pollScroll->setObjectName(QStringLiteral("hsPoll"));
    pollScroll->setGeometry(TwipsRect(240, 3240, 1335, 255));
    UseSystemColours(pollScroll);
    pollScroll->setRange(100, 5000);
    pollScroll->setSingleStep(10);
    pollScroll->setPageStep(100);
    pollScroll->setValue(100);
    // Only a completed change counts: none while the thumb is dragged.
    pollScroll->setTracking(false);

    billHeading = MakeLabel(
        {"lblBill", -1, 240, 3660, 1335, 315, "Check to Enable", Black, LightGreen}, frame);
    for (const ButtonRow& row : BillChecks) {
        auto* check = makeButton<QCheckBox>(row, LightGreen, frame);
        check->setChecked(true);
        billChecks.add(row.index, check);
    }
}

} // namespace kora
