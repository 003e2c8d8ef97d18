#include "ui/reportpages.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QTextDocument>

namespace kora {

QFont ReportFont()
{
    QFont f(QStringLiteral("Liberation Sans"), 9);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

Pages::Pages(QIODevice& out, const QString& title) : writer(&out)
{
    writer.setResolution(Dpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setTitle(title);
    writer.setCreator(QCoreApplication::applicationName());
    painter.begin(&writer);
    painter.setFont(ReportFont());
}

void Pages::newPage()
{
    if (y > 0)
        writer.newPage();
    y = 0;
}

void Pages::flow(const QString& html)
{
    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setDefaultFont(ReportFont());
    doc.setHtml(html);
    doc.setTextWidth(width());
    if (doc.size().height() > left())
        newPage();
    doc.setPageSize(QSizeF(width(), writer.height()));
    const int pages = doc.pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            newPage();
        const double top = p * static_cast<double>(writer.height());
        const double height = std::min<double>(writer.height(), doc.size().height() - top);
        painter.save();
        painter.translate(0, y - top);
        doc.drawContents(&painter, QRectF(0, top, width(), height));
        painter.restore();
        y += height;
    }
}

} // namespace kora
