// The "Communication  Monitor" frame. Each indicator and bill label lies
// exactly over a dim static copy with the same caption, so hiding it leaves
// the text showing in the dim colour; the copies are made first so that the
// labels made after them lie on top.
#include "ui/appearance.h"
#include "ui/kora232.h"
#include "ui/labelfactory.h"
#include "ui/rowlabel.h"
#include "ui/widgets.h"

#include <QLabel>
#include <QLineEdit>

namespace kora {

namespace {

using namespace colour;
constexpr LabelFont Bold = LabelFont::LargeBold;

// Column 1, state indicators: static copies 13 down to 7, indicators 0 to 6.
constexpr LabelRow StateLabels[] = {
    {"lb0", 13, 240, 360, 1695, 255, "IDLING", DarkGrey, Black, Bold, Centred},
    {"lb0", 12, 240, 600, 1695, 255, "ACCEPTING", DarkGrey, Black, Bold, Centred},
    {"lb0", 11, 240, 840, 1695, 255, "ESCROWED", DarkGrey, Black, Bold, Centred},
    {"lb0", 10, 240, 1080, 1695, 255, "STACKING", DarkGrey, Black, Bold, Centred},
    {"lb0", 9, 240, 1320, 1695, 255, "STACKED", DarkGrey, Black, Bold, Centred},
    {"lb0", 8, 240, 1560, 1695, 255, "RETURNING", DarkGrey, Black, Bold, Centred},
    {"lb0", 7, 240, 1800, 1695, 255, "RETURNED", DarkGrey, Black, Bold, Centred},
    {"lb0", 0, 240, 360, 1695, 255, "IDLING", Green, Black, Bold, Centred, Hidden},
    {"lb0", 1, 240, 600, 1695, 255, "ACCEPTING", Green, Black, Bold, Centred, Hidden},
    {"lb0", 2, 240, 840, 1695, 255, "ESCROWED", Green, Black, Bold, Centred, Hidden},
    {"lb0", 3, 240, 1080, 1695, 255, "STACKING", Green, Black, Bold, Centred, Hidden},
    {"lb0", 4, 240, 1320, 1695, 255, "STACKED", Green, Black, Bold, Centred, Hidden},
    {"lb0", 5, 240, 1560, 1695, 255, "RETURNING", Red, Black, Bold, Centred, Hidden},
    {"lb0", 6, 240, 1800, 1695, 255, "RETURNED", Red, Black, Bold, Centred, Hidden},
};

// Column 2, events and the cassette; "BILL CASSETTE PRESENT" lies over
// "BILL CASSETTE NOT PRESENT" rather than over a copy of itself.
constexpr LabelRow EventLabels[] = {
    {"lb1", 8, 2040, 360, 2055, 255, "CHEATED", DarkGrey, Black, Bold, Centred},
    {"lb1", 7, 2040, 600, 2055, 255, "BILL REJECTED", DarkGrey, Black, Bold, Centred},
    {"lb1", 6, 2040, 840, 2055, 255, "BILL JAMMED", DarkGrey, Black, Bold, Centred},
    {"lb1", 5, 2040, 1080, 2055, 255, "STACKER FULL", DarkGrey, Black, Bold, Centred},
    {"lbx", 5, 2040, 1560, 2055, 495, "BILL CASSETTE NOT PRESENT", Grey, Black, Bold, Centred},
    {"lb1", 0, 2040, 360, 2055, 255, "CHEATED", Red, Black, Bold, Centred, Hidden},
    {"lb1", 1, 2040, 600, 2055, 255, "BILL REJECTED", Red, Black, Bold, Centred, Hidden},
    {"lb1", 2, 2040, 840, 2055, 255, "BILL JAMMED", Red, Black, Bold, Centred, Hidden},
    {"lb1", 3, 2040, 1080, 2055, 255, "STACKER FULL", Red, Black, Bold, Centred, Hidden},
    {"lb1", 4, 2040, 1560, 2055, 495, "BILL CASSETTE PRESENT", Cyan, Black, Bold, Centred, Hidden},
};

// Column 4, power and faults.
constexpr LabelRow FaultLabels[] = {
    {"lb2", 5, 5880, 360, 1575, 615, "POWERING UP", DarkGrey, Black, Bold, Centred},
    {"lb2", 4, 5880, 960, 1575, 615, "INVALID COMMAND", DarkGrey, Black, Bold, Centred},
    {"lb2", 3, 5880, 1680, 1575, 255, "FAILURE", DarkGrey, Black, Bold, Centred},
    {"lb2", 0, 5880, 360, 1575, 615, "POWERING UP", LightBlue, Black, Bold, Centred, Hidden},
    {"lb2", 1, 5880, 960, 1575, 615, "INVALID COMMAND", Yellow, Black, Bold, Centred, Hidden},
    {"lb2", 2, 5880, 1680, 1575, 255, "FAILURE", Yellow, Black, Bold, Centred, Hidden},
};

// Column 3, the bill labels: "BILL 1" to "BILL 6" over lbD(13) down to
// lbD(8), "BILL 7" over lbD(0).
constexpr LabelRow BillLabels[] = {
    {"lbD", 13, 4920, 360, 855, 255, "BILL 1", Grey, Black, Bold, Centred},
    {"lbD", 12, 4920, 600, 855, 255, "BILL 2", Grey, Black, Bold, Centred},
    {"lbD", 11, 4920, 840, 855, 255, "BILL 3", Grey, Black, Bold, Centred},
    {"lbD", 10, 4920, 1080, 855, 255, "BILL 4", Grey, Black, Bold, Centred},
    {"lbD", 9, 4920, 1320, 855, 255, "BILL 5", Grey, Black, Bold, Centred},
    {"lbD", 8, 4920, 1560, 855, 255, "BILL 6", Grey, Black, Bold, Centred},
    {"lbD", 0, 4920, 1800, 855, 255, "BILL 7", Grey, Black, Bold, Centred},
    {"lbD", 1, 4920, 360, 855, 255, "BILL 1", PalePink, Black, Bold, Centred, Hidden},
    {"lbD", 2, 4920, 600, 855, 255, "BILL 2", PalePink, Black, Bold, Centred, Hidden},
    {"lbD", 3, 4920, 840, 855, 255, "BILL 3", PalePink, Black, Bold, Centred, Hidden},
    {"lbD", 4, 4920, 1080, 855, 255, "BILL 4", PalePink, Black, Bold, Centred, Hidden},
    {"lbD", 5, 4920, 1320, 855, 255, "BILL 5", PalePink, Black, Bold, Centred, Hidden},
    {"lbD", 6, 4920, 1560, 855, 255, "BILL 6", PalePink, Black, Bold, Centred, Hidden},
    {"lbD", 7, 4920, 1800, 855, 255, "BILL 7", PalePink, Black, Bold, Centred, Hidden},
};

// The histories: row 0 is the newest and the bottom row, set apart by a
// stronger background; row r lies at 4560 - 360 r.
constexpr LabelRow HistoryRows[] = {
    {"lbOUT", 5, 120, 2760, 3255, 255, "", Black, PaleGreen, Bold, Centred},
    {"lbOUT", 4, 120, 3120, 3255, 255, "", Black, PaleGreen, Bold, Centred},
    {"lbOUT", 3, 120, 3480, 3255, 255, "", Black, PaleGreen, Bold, Centred},
    {"lbOUT", 2, 120, 3840, 3255, 255, "", Black, PaleGreen, Bold, Centred},
    {"lbOUT", 1, 120, 4200, 3255, 255, "", Black, PaleGreen, Bold, Centred},
    {"lbOUT", 0, 120, 4560, 3255, 255, "00 00 00 00 00 00 00 00", Black, LightGreen, Bold, Centred},
    {"lbIN", 5, 3480, 2760, 4215, 255, "", Black, PaleBlue, Bold, Centred},
    {"lbIN", 4, 3480, 3120, 4215, 255, "", Black, PaleBlue, Bold, Centred},
    {"lbIN", 3, 3480, 3480, 4215, 255, "", Black, PaleBlue, Bold, Centred},
    {"lbIN", 2, 3480, 3840, 4215, 255, "", Black, PaleBlue, Bold, Centred},
    {"lbIN", 1, 3480, 4200, 4215, 255, "", Black, PaleBlue, Bold, Centred},
    {"lbIN", 0, 3480, 4560, 4215, 255, "00 00 00 00 00 00 00 00 00 00 00", Black, LightBlue, Bold,
     Centred},
};

Line* makeLine(const char* name, int top, QWidget* frame)
{
    auto* line = new Line(QColor(LightOrange), frame);
    line->setObjectName(QString::fromLatin1(name));
    line->setGeometry(Twips(0), Twips(top), Twips(7800), 1);
    return line;
}

} // namespace

void Kora232::addLabels(std::span<const LabelRow> rows, QWidget* container,
                        const std::shared_ptr<RowPictures>& pictures)
{
    const std::pair<const char*, ControlArray<QLabel>*> arrays[] = {
        {"lb0", &stateLabels},  {"lb1", &eventLabels}, {"lb2", &faultLabels}, {"lbD", &billLabels},
        {"lbx", &cassetteCopy}, {"lbOUT", &hostRows},  {"lbIN", &replyRows},
    };
    for (const LabelRow& row : rows) {
        QLabel* label = pictures ? SetUpLabel(new RowLabel(pictures, container), row)
                                 : MakeLabel(row, container);
        for (const auto& [name, array] : arrays) {
            if (qstrcmp(name, row.name) == 0)
                array->add(row.index, label);
        }
    }
}

void Kora232::buildMonitorFrame()
{
    captionLine = makeLine("Line4", 240, monitorFrame);
    middleLine = makeLine("Line1", 2160, monitorFrame);
    buildIndicators();
    buildBillColumn();
    buildHistories();
}

void Kora232::buildIndicators()
{
    addLabels(StateLabels, monitorFrame);
    addLabels(EventLabels, monitorFrame);
    addLabels(FaultLabels, monitorFrame);
}

void Kora232::buildBillColumn()
{
    addLabels(BillLabels, monitorFrame);
    // The counters come after the labels: they overlap them by one pixel
    // and lie on top there.
    for (int n = 1; n <= 7; ++n) {
        QLineEdit* counter =
            MakeTextBox(billCounters.memberName(n), TwipsRect(4440, 360 + 240 * (n - 1), 495, 285),
                        monitorFrame);
        counter->setAlignment(Qt::AlignCenter);
        SetBackColor(counter, QColor(Black));
        SetForeColor(counter, QColor(Grey));
        counter->setText(QStringLiteral("100"));
        billCounters.add(n, counter);
    }
}

void Kora232::buildHistories()
{
    hostHeading =
        MakeLabel({"lbHOST", -1, 420, 2400, 1995, 255, "PC to Acceptor:", LightGreen, Black, Bold},
                  monitorFrame);
    replyHeading = MakeLabel(
        {"Label1", -1, 4440, 2400, 3015, 255, "Acceptor Response to PC:", LightBlue, Black, Bold},
        monitorFrame);
    addLabels(HistoryRows, monitorFrame, std::make_shared<RowPictures>());
}

} // namespace kora
