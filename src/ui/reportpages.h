#pragma once

#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QRectF>
#include <QString>
#include <string>

class QIODevice;

namespace kora {

// The sans-serif the window's packages bring, or whichever the system has.
QFont ReportFont();

// A PDF being filled page by page, top to bottom, as every document the
// program makes of a log is: A4 at 300 dpi, 15 mm margins, the report's font.
class Pages
{
public:
    static constexpr int Dpi = 300;
    static constexpr double PlotHeightMm = 45;

    Pages(QIODevice& out, const QString& title);

    bool ok() const { return painter.isActive(); }
    bool end() { return painter.end(); }
    double width() const { return writer.width(); }
    double left() const { return writer.height() - y; }

    void newPage();
    // HTML in the report's font, over as many pages as it takes, from here.
    void flow(const QString& html);

    // A plot under its heading and above its figures in words.
    template <typename Paint>
    void plot(const QString& heading, const std::string& words, Paint paint)
    {
        const double height = PlotHeightMm / 25.4 * Dpi;
        if (left() < height * 1.5)
            newPage();
        flow(QStringLiteral("<h3>%1</h3>").arg(heading));
        paint(painter, QRectF(0, y, width(), height));
        y += height;
        flow(QStringLiteral("<p>%1</p>").arg(QString::fromStdString(words).toHtmlEscaped()));
    }

private:
    QPdfWriter writer;
    QPainter painter;
    double y = 0;
};

} // namespace kora
