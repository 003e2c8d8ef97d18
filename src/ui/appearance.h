#pragma once

#include <QColor>
#include <QFont>
#include <QRect>

class QWidget;

namespace kora {

// The window's colours, named by what they look like.
namespace colour {
inline constexpr QRgb Black = qRgb(0, 0, 0);
inline constexpr QRgb White = qRgb(255, 255, 255);
inline constexpr QRgb DarkGrey = qRgb(64, 64, 64);
inline constexpr QRgb Grey = qRgb(128, 128, 128);
inline constexpr QRgb LightBlue = qRgb(192, 192, 255);
inline constexpr QRgb PaleBlue = qRgb(216, 216, 255);
inline constexpr QRgb PaleYellow = qRgb(255, 255, 192);
inline constexpr QRgb Pink = qRgb(255, 192, 192);
inline constexpr QRgb PalePink = qRgb(255, 192, 255);
inline constexpr QRgb Peach = qRgb(255, 224, 192);
inline constexpr QRgb LightOrange = qRgb(255, 192, 128);
inline constexpr QRgb LightGreen = qRgb(128, 255, 128);
inline constexpr QRgb PaleGreen = qRgb(192, 255, 192);
inline constexpr QRgb Green = qRgb(0, 255, 0);
inline constexpr QRgb Red = qRgb(255, 0, 0);
inline constexpr QRgb Yellow = qRgb(255, 255, 0);
inline constexpr QRgb Cyan = qRgb(0, 255, 255);
inline constexpr QRgb Purple = qRgb(128, 0, 128);
inline constexpr QRgb LastCredit = qRgb(150, 0, 150);
// The sunken and lit edges of frames and buttons, and the face colour that
// text box borders are shaded from.
inline constexpr QRgb Face = qRgb(192, 192, 192);
inline constexpr QRgb Shadow = qRgb(128, 128, 128);
inline constexpr QRgb Highlight = qRgb(255, 255, 255);
} // namespace colour

// The layout is measured in twips, fifteen to a pixel at 96 dots per inch.
constexpr int Twips(int twips)
{
    return twips / 15;
}
constexpr QRect TwipsRect(int left, int top, int width, int height)
{
    return {Twips(left), Twips(top), Twips(width), Twips(height)};
}

// "MS Sans Serif" where the system has it, otherwise the closest sans-serif
// we know of. Sizes are in pixels so that 8.25 and 9.75 point come out as
// 11 and 13 pixels whatever the screen claims its resolution to be.
QString WindowFontFamily();
QFont WindowFont();    // 8.25 point regular, every control's default
QFont BoldFont();      // 8.25 point bold
QFont LargeBoldFont(); // 9.75 point bold

// Background and text colour as the window's controls understand them: a
// text box's background is its editing area, a button's is its face.
void SetBackColor(QWidget* control, QColor c);
void SetForeColor(QWidget* control, QColor c);
QColor BackColor(const QWidget* control);
// The platform's own colours, not the container's.
void UseSystemColours(QWidget* control);
QColor ForeColor(const QWidget* control);

} // namespace kora
