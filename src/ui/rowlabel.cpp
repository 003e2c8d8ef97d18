#include "ui/rowlabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace kora {

namespace {
constexpr double MetresPerInch = 0.0254;

// The flags a plain-text label hands the style for its text.
int textFlags(const QLabel& label)
{
    const Qt::LayoutDirection direction =
        label.text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
    return int(QStyle::visualAlignment(direction, label.alignment())) |
           (label.wordWrap() ? Qt::TextWordWrap : 0) |
           (direction == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
}
} // namespace

size_t qHash(const RowPictureKey& key, size_t seed) noexcept
{
    return qHashMulti(seed, key.text, key.size.width(), key.size.height(), key.ratio, key.dpiX,
                      key.dpiY, key.back, key.fore, key.flags, key.enabled, key.font);
}

RowLabel::RowLabel(std::shared_ptr<RowPictures> shared, QWidget* parent)
    : QLabel(parent), pictures(std::move(shared))
{}

// A row fills its rectangle with an opaque colour and shows plain text,
// nothing else; anything else is drawn as a plain label.
bool RowLabel::drawnAsRow() const
{
    return autoFillBackground() && palette().brush(backgroundRole()).isOpaque() &&
           frameWidth() == 0 && margin() == 0 && indent() <= 0 && textFormat() == Qt::PlainText;
}

// A row covers every pixel itself, so the background Qt would fill first is
// left out: that fill wrote every row's pixels twice at each poll. A row
// that stops being one has its parent show through again from its next
// paint on.
void RowLabel::keepOpaquePainting(bool asRow)
{
    if (asRow == testAttribute(Qt::WA_OpaquePaintEvent))
        return;
    setAttribute(Qt::WA_OpaquePaintEvent, asRow);
    if (!asRow)
        update();
}

void RowLabel::paintEvent(QPaintEvent* event)
{
    const bool asRow = drawnAsRow();
    keepOpaquePainting(asRow);
    if (!asRow)
        return QLabel::paintEvent(event);
    QPainter painter(this);
    if (text().isEmpty())
        painter.fillRect(rect(), palette().brush(backgroundRole()));
    else
        painter.drawImage(0, 0, pictures->picture(pictureKey(), [this] { return drawPicture(); }));
}

// A new palette may make a row see-through: settled before the repaint it
// asks for. Only turned off here; turned on, it would outlast a change that
// tells nobody (setAutoFillBackground) into a paint without what lies beneath.
void RowLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        keepOpaquePainting(testAttribute(Qt::WA_OpaquePaintEvent) && drawnAsRow());
}

RowPictureKey RowLabel::pictureKey() const
{
    const QPalette& colours = palette();
    return {text(),
            size(),
            devicePixelRatioF(),
            logicalDpiX(),
            logicalDpiY(),
            colours.color(backgroundRole()).rgba(),
            colours.color(foregroundRole()).rgba(),
            textFlags(*this),
            isEnabled(),
            font()};
}

// What a plain label paints: its text through the style, over its
// background, at the widget's resolution so that points take as many pixels.
// Opaque, the picture is copied, not blended.
QImage RowLabel::drawPicture() const
{
    const qreal ratio = devicePixelRatioF();
    QImage picture(size() * ratio, QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.setDotsPerMeterX(qRound(logicalDpiX() / MetresPerInch));
    picture.setDotsPerMeterY(qRound(logicalDpiY() / MetresPerInch));
    picture.fill(palette().color(backgroundRole()));
    QPainter painter(&picture);
    painter.setFont(font());
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(), textFlags(*this), option.palette, isEnabled(),
                          text(), foregroundRole());
    return picture;
}

} // namespace kora
