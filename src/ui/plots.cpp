#include "ui/plots.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace kora {

namespace {

// What both plots share: a caption on top, the bars' box with its count
// scale on the left, and lines of text below. Lengths follow the font, so
// a 1200 dpi page gets the proportions of the window.
struct PlotFrame
{
    QRectF bars; // counts grow up from its bottom
    double line = 0;
    double pad = 0;
    std::uint64_t tallest = 0;
};

QFontMetricsF metrics(const QPainter& p)
{
    return QFontMetricsF(p.font(), p.device());
}

// Thin lines, but never so thin that a screen draws them faint.
QPen ink(const PlotFrame& f, QRgb colour = PlotColours::Ink)
{
    return QPen(QColor(colour), std::max(1.0, f.line / 16));
}

PlotFrame frame(QPainter& p, const QRectF& area, const QString& caption, std::uint64_t tallest,
                int linesBelow)
{
    const QFontMetricsF fm = metrics(p);
    PlotFrame f;
    f.line = fm.height();
    f.pad = f.line / 3;
    f.tallest = tallest;
    p.fillRect(area, QColor(PlotColours::Background));
    p.setPen(ink(f));
    const QRectF top(area.left() + f.pad, area.top() + f.pad, area.width() - 2 * f.pad, f.line);
    p.drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(caption, Qt::ElideRight, top.width()));
    const QString most = QString::number(tallest);
    const double scale = fm.horizontalAdvance(most) + 2 * f.pad;
    f.bars = QRectF(
        QPointF(area.left() + scale, top.bottom() + f.pad),
        QPointF(area.right() - f.pad, area.bottom() - f.pad - f.pad / 2 - linesBelow * f.line));
    const QRectF numbers(area.left(), f.bars.top(), scale - f.pad, f.bars.height());
    if (tallest > 0)
        p.drawText(numbers, Qt::AlignRight | Qt::AlignTop, most);
    p.drawText(numbers, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("0"));
    p.setPen(ink(f, PlotColours::Grid));
    p.drawLine(f.bars.topLeft(), f.bars.topRight());
    return f;
}

// The bar's height for a count, never so low that a single poll vanishes.
double height(const PlotFrame& f, std::uint64_t count)
{
    if (count == 0 || f.tallest == 0)
        return 0;
    const double h = f.bars.height() * static_cast<double>(count) / static_cast<double>(f.tallest);
    return std::max(h, f.line / 6);
}

void axes(QPainter& p, const PlotFrame& f)
{
    p.setPen(ink(f));
    p.drawLine(f.bars.bottomLeft(), f.bars.bottomRight());
    p.drawLine(f.bars.bottomLeft(), f.bars.topLeft());
}

// A label below the axis at x, with its tick.
void label(QPainter& p, const PlotFrame& f, double x, const QString& text,
           Qt::Alignment align = Qt::AlignHCenter)
{
    const double w = metrics(p).horizontalAdvance(text);
    const double left = align == Qt::AlignLeft ? x : align == Qt::AlignRight ? x - w : x - w / 2;
    p.setPen(ink(f));
    p.drawLine(QPointF(x, f.bars.bottom()), QPointF(x, f.bars.bottom() + f.pad / 2));
    p.drawText(QRectF(left, f.bars.bottom() + f.pad / 2, w, f.line), Qt::AlignCenter, text);
}

QString clock(double seconds)
{
    const auto s = static_cast<long long>(std::floor(seconds + 1e-6));
    const QChar zero(u'0');
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, zero)
            .arg(s % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, zero);
}

QString columnWidth(double seconds)
{
    if (seconds >= 60 && std::fmod(seconds, 60.0) == 0)
        return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 s").arg(seconds);
}

// Labels between the first and the last, on round times, as many as fit.
void timeLabels(QPainter& p, const PlotFrame& f, double start, double end)
{
    label(p, f, f.bars.left(), clock(start), Qt::AlignLeft);
    if (end <= start)
        return;
    label(p, f, f.bars.right(), clock(end), Qt::AlignRight);
    const double w = metrics(p).horizontalAdvance(clock(end));
    const double fits = f.bars.width() / (w + 2 * f.line);
    const double clear = 1.5 * w + f.line; // from the first and last, which stand inside
    static constexpr double Steps[] = {10,   15,   20,   30,   60,    120,   300,   600,  900,
                                       1200, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    const double* step = std::find_if(std::begin(Steps), std::end(Steps),
                                      [&](double s) { return (end - start) / s <= fits; });
    if (step == std::end(Steps))
        return;
    const double perSecond = f.bars.width() / (end - start);
    for (double s = std::ceil(start / *step) * *step; s < end; s += *step) {
        const double x = f.bars.left() + (s - start) * perSecond;
        if (x - f.bars.left() >= clear && f.bars.right() - x >= clear)
            label(p, f, x, clock(s));
    }
}

void legend(QPainter& p, const PlotFrame& f, double x, double y)
{
    const std::pair<QRgb, const char*> items[] = {{PlotColours::Good, "good"},
                                                  {PlotColours::NoReply, "no reply"},
                                                  {PlotColours::Checksum, "checksum error"},
                                                  {PlotColours::Away, "device away"}};
    const QFontMetricsF fm = metrics(p);
    const double box = f.line * 0.6;
    for (const auto& [colour, name] : items) {
        const QRectF swatch(x, y + (f.line - box) / 2, box, box);
        p.fillRect(swatch, QColor(colour));
        p.setPen(ink(f, PlotColours::Grid));
        p.drawRect(swatch);
        const QString text = QString::fromLatin1(name);
        const double w = fm.horizontalAdvance(text);
        p.setPen(ink(f));
        p.drawText(QRectF(swatch.right() + f.pad, y, w, f.line), Qt::AlignCenter, text);
        x = swatch.right() + f.pad + w + 2 * f.line;
    }
}

// Each column's outcomes stacked from the bottom: good, no reply, checksum.
void column(QPainter& p, const PlotFrame& f, double x, double w, const TimelineColumn& c)
{
    const std::pair<std::uint32_t, QRgb> parts[] = {{c.good, PlotColours::Good},
                                                    {c.noReply, PlotColours::NoReply},
                                                    {c.checksum, PlotColours::Checksum}};
    double sum = 0;
    for (const auto& [count, colour] : parts)
        sum += height(f, count);
    const double fit = sum > f.bars.height() ? f.bars.height() / sum : 1.0;
    double y = f.bars.bottom();
    for (const auto& [count, colour] : parts) {
        const double h = height(f, count) * fit;
        p.fillRect(QRectF(x, y - h, w, h), QColor(colour));
        y -= h;
    }
}

} // namespace

void PaintReplyHistogram(QPainter& p, const QRectF& area, const ReplyHistogram& h)
{
    p.save();
    p.setClipRect(area, Qt::IntersectClip);
    const PlotFrame f = frame(p, area, QStringLiteral("Reply times (ms)"), h.tallest(), 1);
    const QFontMetricsF fm = metrics(p);
    const QString slow = QStringLiteral("40-400"), timeouts = QStringLiteral("time-out");
    const double slot =
        std::max(fm.horizontalAdvance(slow), fm.horizontalAdvance(timeouts)) + 2 * f.pad;
    const double gap = fm.horizontalAdvance(QStringLiteral("40")) + 2 * f.pad;
    const double fineWidth = f.bars.width() - gap - 2 * slot;
    const double bin = fineWidth / ReplyHistogram::FineBins;
    for (std::size_t i = 0; i < h.fine.size(); ++i) {
        const double bar = height(f, h.fine[i]);
        p.fillRect(
            QRectF(f.bars.left() + static_cast<double>(i) * bin, f.bars.bottom() - bar, bin, bar),
            QColor(PlotColours::Good));
    }
    const double slowAt = f.bars.left() + fineWidth + gap;
    const std::pair<std::uint64_t, QRgb> ends[] = {{h.slow, PlotColours::Slow},
                                                   {h.timeouts, PlotColours::NoReply}};
    for (int i = 0; i < 2; ++i) {
        const double bar = height(f, ends[i].first);
        p.fillRect(QRectF(slowAt + (i + 0.2) * slot, f.bars.bottom() - bar, 0.6 * slot, bar),
                   QColor(ends[i].second));
    }
    axes(p, f);
    for (int ms = 0; ms <= 40; ms += 10)
        label(p, f, f.bars.left() + ms / ReplyHistogram::FineBinMs * bin, QString::number(ms));
    label(p, f, slowAt + 0.5 * slot, slow);
    label(p, f, slowAt + 1.5 * slot, timeouts);
    p.restore();
}

void PaintTimeline(QPainter& p, const QRectF& area, const Timeline& t)
{
    p.save();
    p.setClipRect(area, Qt::IntersectClip);
    const auto& columns = t.columns();
    std::uint64_t tallest = 0;
    for (const TimelineColumn& c : columns)
        tallest = std::max<std::uint64_t>(tallest, c.polls());
    const QString caption = QStringLiteral("Polls in %1 columns (time since START)")
                                .arg(columnWidth(t.columnSeconds()));
    const PlotFrame f = frame(p, area, caption, tallest, 2);
    const double slot =
        f.bars.width() / static_cast<double>(std::max<std::size_t>(columns.size(), 1));
    for (std::size_t i = 0; i < columns.size();) { // the device's absences as bands
        std::size_t end = i;
        while (end < columns.size() && columns[end].lost)
            ++end;
        if (end > i)
            p.fillRect(QRectF(f.bars.left() + static_cast<double>(i) * slot, f.bars.top(),
                              static_cast<double>(end - i) * slot, f.bars.height()),
                       QColor(PlotColours::Away));
        i = end + 1;
    }
    for (std::size_t i = 0; i < columns.size(); ++i)
        column(p, f, f.bars.left() + (static_cast<double>(i) + 0.15) * slot, 0.7 * slot,
               columns[i]);
    axes(p, f);
    const double start = t.firstSeconds();
    timeLabels(p, f, start, start + static_cast<double>(columns.size()) * t.columnSeconds());
    legend(p, f, f.bars.left(), f.bars.bottom() + f.pad / 2 + f.line + f.pad / 2);
    p.restore();
}

} // namespace kora
