#pragma once

#include <QColor>

class QLabel;
class QWidget;

namespace kora {

enum class LabelFont { Window, LargeBold };

// One label of the layout as the tables give it: geometry in twips from the
// container's outer top-left corner. An index below 0 marks a single label;
// otherwise the label is member `index` of the array `name`.
struct LabelRow
{
    const char* name = "";
    int index = -1;
    int left = 0, top = 0, width = 0, height = 0;
    const char* caption = "";
    QRgb fore = 0;
    QRgb back = 0;
    LabelFont font = LabelFont::Window;
    Qt::Alignment align = Qt::AlignLeft;
    bool hidden = false;
};

inline constexpr Qt::Alignment Centred = Qt::AlignHCenter;
inline constexpr bool Hidden = true;

// An opaque label painted in its background colour, its text drawn from the
// top edge and wrapped at blanks when it is wider than the label. Later
// labels lie on top of earlier ones.
QLabel* MakeLabel(const LabelRow& row, QWidget* container);

// The same for a label the caller made in the container.
QLabel* SetUpLabel(QLabel* label, const LabelRow& row);

} // namespace kora
