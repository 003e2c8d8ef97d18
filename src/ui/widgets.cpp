#include "ui/widgets.h"

#include "ui/appearance.h"

#include <QPainter>

namespace kora {

namespace {
constexpr int CaptionLeft = 8;
constexpr int CaptionPadding = 2;
} // namespace

Shape::Shape(QColor fillColour, QWidget* parent) : QWidget(parent), fill(fillColour) {}

void Shape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), fill);
    p.setPen(QColor(colour::Black));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

Line::Line(QColor lineColour, QWidget* parent) : QWidget(parent), colour(lineColour)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Line::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(QRect(0, 0, width(), 1), colour);
}

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
    setAutoFillBackground(true);
}

QString Frame::shownCaption() const
{
    QString shown = title();
    return shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

void Frame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QFontMetrics metrics(font());
    const int borderTop = metrics.height() / 2;

    // Etched border: a shadow line with a lit line just inside and below it.
    const QRect border = rect().adjusted(0, borderTop, -2, -2);
    p.setPen(QColor(colour::Shadow));
    p.drawRect(border);
    p.setPen(QColor(colour::Highlight));
    p.drawRect(border.translated(1, 1));

    if (title().isEmpty())
        return;
    const QString caption = shownCaption();
    const QRect captionRect(CaptionLeft, 0, metrics.horizontalAdvance(caption) + 2 * CaptionPadding,
                            metrics.height());
    p.fillRect(captionRect, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(captionRect.adjusted(CaptionPadding, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               caption);
}

FaceButton::FaceButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

void FaceButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, palette().color(QPalette::Button));

    // Raised bevel, or sunken while held down.
    const bool down = isDown();
    const QColor outer = QColor(colour::Black);
    const QColor lit = QColor(colour::Highlight);
    const QColor shade = QColor(colour::Shadow);
    p.setPen(down ? outer : lit);
    p.drawLine(r.topLeft(), r.topRight() - QPoint(1, 0));
    p.drawLine(r.topLeft(), r.bottomLeft() - QPoint(0, 1));
    p.setPen(down ? lit : outer);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(shade);
    if (down) {
        p.drawLine(r.topLeft() + QPoint(1, 1), r.topRight() + QPoint(-2, 1));
        p.drawLine(r.topLeft() + QPoint(1, 1), r.bottomLeft() + QPoint(1, -2));
    } else {
        p.drawLine(r.bottomLeft() + QPoint(1, -1), r.bottomRight() + QPoint(-1, -1));
        p.drawLine(r.topRight() + QPoint(-1, 1), r.bottomRight() + QPoint(-1, -1));
    }

    const QRect textRect = down ? r.translated(1, 1) : r;
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic, text());

    if (hasFocus()) {
        p.setPen(QPen(QColor(colour::Black), 1, Qt::DotLine));
        p.drawRect(r.adjusted(4, 4, -5, -5));
    }
}

QLineEdit* MakeTextBox(const QString& name, QRect place, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(place);
    QPalette p = box->palette();
    p.setColor(QPalette::Window, QColor(colour::Face));
    box->setPalette(p);
    return box;
}

} // namespace kora
