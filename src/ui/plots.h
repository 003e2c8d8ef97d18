#pragma once

#include "record/linkplots.h"

#include <QColor>

class QPainter;
class QRectF;

namespace kora {

// The plots' colours, the same on screen and on paper.
namespace PlotColours {
inline constexpr QRgb Background = qRgb(255, 255, 255);
inline constexpr QRgb Ink = qRgb(48, 48, 48); // text, axes
inline constexpr QRgb Grid = qRgb(208, 208, 208);
inline constexpr QRgb Good = qRgb(46, 150, 64);     // replies in time, good polls
inline constexpr QRgb Slow = qRgb(214, 162, 0);     // replies after 40 ms
inline constexpr QRgb NoReply = qRgb(96, 96, 96);   // time-outs
inline constexpr QRgb Checksum = qRgb(232, 96, 16); // replies that failed their checksum
inline constexpr QRgb Away = qRgb(220, 226, 242);   // behind columns the device was away
} // namespace PlotColours

// The one drawing code for the window and the printed report: each paints
// only within `area`, on its own background, with text sized by the
// painter's font on the painter's device.
void PaintReplyHistogram(QPainter& p, const QRectF& area, const ReplyHistogram& h);
void PaintTimeline(QPainter& p, const QRectF& area, const Timeline& t);

} // namespace kora
