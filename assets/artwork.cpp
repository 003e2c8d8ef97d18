// Draws the window's banner (591 x 85, at most 256 colours) and its icon
// (32 x 32, 16 colours) in the window's own colours, and writes them as raw
// pixels, banner.rgb32 and kora232.rgb32, into the directory given as the
// argument: the window shows them with no image decoder.
// With --icons it writes instead the icon set that desktops and software
// centres pick from: kora232-SIZE.png for each size given, and kora232.svg.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The sixteen colours of the window, which are all the icon may use.
const QList<QRgb> WindowColours = {
    qRgb(192, 192, 255), qRgb(0, 0, 0),       qRgb(255, 255, 255), qRgb(64, 64, 64),
    qRgb(128, 128, 128), qRgb(0, 255, 0),     qRgb(255, 0, 0),     qRgb(128, 255, 128),
    qRgb(255, 255, 192), qRgb(255, 192, 192), qRgb(255, 192, 255), qRgb(150, 0, 150),
    qRgb(128, 0, 128),   qRgb(0, 255, 255),   qRgb(255, 255, 0),   qRgb(255, 224, 192),
};

QFont face(int pixels, bool bold)
{
    QFont f(QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))
                ? QStringLiteral("Liberation Sans")
                : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// The 16 window colours, then ramps between each text colour and the colour
// it is drawn on, so that smoothed letter edges stay in the same family.
QList<QRgb> bannerColours()
{
    QList<QRgb> table = WindowColours;
    const std::pair<QRgb, QRgb> pairs[] = {
        {qRgb(128, 0, 128), qRgb(192, 192, 255)},
        {qRgb(64, 64, 64), qRgb(192, 192, 255)},
    };
    constexpr int Steps = 16;
    for (const auto& [from, to] : pairs) {
        for (int i = 1; i < Steps; ++i) {
            auto mix = [i](int a, int b) { return a + (b - a) * i / Steps; };
            table.append(qRgb(mix(qRed(from), qRed(to)), mix(qGreen(from), qGreen(to)),
                              mix(qBlue(from), qBlue(to))));
        }
    }
    return table;
}

// A bill acceptor seen from the front: a dark body with a slot, a note
// half-way in, and a row of lamps, `unit` pixels to a step. The lamps are
// drawn dark, and the note plain: a picture at the top of the window must
// not look like the acceptor's state, which the monitor alone shows.
void drawAcceptor(QPainter& p, QRect body, int unit)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    const int slotY = body.top() + 3 * unit;
    const QRect note(body.left() + 3 * unit, body.top() - 5 * unit, body.width() - 6 * unit,
                     8 * unit);
    p.fillRect(body, QColor(64, 64, 64));
    p.fillRect(note, QColor(0, 0, 0));
    p.fillRect(note.adjusted(1, 1, -1, 0), QColor(128, 255, 128));
    // The note's own border and portrait.
    p.setPen(QColor(0, 255, 0));
    p.drawRect(note.adjusted(unit + 1, unit + 1, -unit - 1, -unit));
    p.setBrush(QColor(0, 255, 0));
    const int r = 2 * unit - 1;
    p.drawEllipse(QPoint(note.center().x(), note.top() + 4 * unit), r, r);
    p.setBrush(Qt::NoBrush);
    p.fillRect(QRect(body.left() + 2 * unit, slotY, body.width() - 4 * unit, unit),
               QColor(0, 0, 0));
    const int lampSize = 2 * unit;
    const int lampY = body.bottom() - 2 * unit - lampSize + 1;
    const int step = (body.width() - 4 * unit) / 4;
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRect(body.left() + 2 * unit + i * step + (step - lampSize) / 2, lampY, lampSize,
                         lampSize),
                   QColor(128, 128, 128));
}

QFont smoothFace(int pixels, bool bold)
{
    QFont f = face(pixels, bold);
    f.setStyleStrategy(QFont::NoSubpixelAntialias);
    return f;
}

// The program's name and what it is for beside the acceptor: nothing in it
// changes while the program runs, so nothing in it reads as a status.
QImage banner()
{
    QImage image(591, 85, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 255));
    QPainter p(&image);

    drawAcceptor(p, QRect(16, 26, 54, 52), 3);

    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setFont(smoothFace(40, true));
    p.setPen(QColor(128, 0, 128));
    p.drawText(QPoint(90, 48), QStringLiteral("Kora232"));
    p.setFont(smoothFace(15, false));
    p.setPen(QColor(64, 64, 64));
    p.drawText(QPoint(92, 72),
               QStringLiteral("Polls and watches a banknote acceptor on an RS-232 serial port"));
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8, bannerColours(), Qt::ThresholdDither);
}

// The same acceptor, drawn pixel by pixel at icon size.
QImage icon()
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 255));
    QPainter p(&image);
    p.fillRect(QRect(3, 13, 26, 17), QColor(64, 64, 64));
    p.fillRect(QRect(8, 2, 16, 14), QColor(0, 0, 0));
    p.fillRect(QRect(9, 3, 14, 12), QColor(128, 255, 128));
    p.setPen(QColor(0, 255, 0));
    p.drawRect(QRect(10, 4, 11, 9));
    p.fillRect(QRect(14, 7, 4, 4), QColor(0, 255, 0));
    p.fillRect(QRect(5, 15, 22, 2), QColor(0, 0, 0));
    const QColor lamps[] = {QColor(0, 255, 0), QColor(255, 0, 0), QColor(0, 255, 255),
                            QColor(255, 255, 0)};
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRect(7 + 5 * i, 24, 3, 3), lamps[i]);
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8, WindowColours, Qt::ThresholdDither);
}

// The same acceptor at 16 pixels, where every pixel has to count: the note
// loses its border, the lamps shrink to two pixels each.
QImage smallIcon()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 255));
    QPainter p(&image);
    p.fillRect(QRect(1, 7, 14, 8), QColor(64, 64, 64));
    p.fillRect(QRect(4, 1, 8, 7), QColor(0, 0, 0));
    p.fillRect(QRect(5, 2, 6, 5), QColor(128, 255, 128));
    p.fillRect(QRect(7, 3, 2, 2), QColor(0, 255, 0));
    p.fillRect(QRect(2, 7, 12, 1), QColor(0, 0, 0));
    const QColor lamps[] = {QColor(0, 255, 0), QColor(255, 0, 0), QColor(0, 255, 255),
                            QColor(255, 255, 0)};
    const int lampX[] = {2, 5, 9, 12}; // a wider gap in the middle keeps the row centred
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRect(lampX[i], 12, 2, 2), lamps[i]);
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8, WindowColours, Qt::ThresholdDither);
}

// The acceptor once more, as shapes on a 32-unit square: the larger icons
// and the SVG are drawn from this one list, so they cannot drift apart. It
// follows the 32-pixel drawing, with round corners and round lamps that
// only larger sizes can show.
struct Shape
{
    enum Kind { Box, Outline, Disc } kind;
    QRectF rect;        // an outline's centre line; a disc's bounding square
    qreal radius = 0.0; // of a box's or an outline's corners
    QColor colour;
};

const Shape IconShapes[] = {
    {Shape::Box, {1, 1, 30, 30}, 4, QColor(192, 192, 255)},
    {Shape::Outline, {1.5, 1.5, 29, 29}, 3.5, QColor(128, 128, 128)},
    {Shape::Box, {3, 13, 26, 15}, 2, QColor(64, 64, 64)},
    {Shape::Box, {8, 2, 16, 14}, 1, QColor(0, 0, 0)},
    {Shape::Box, {9, 3, 14, 12}, 0.5, QColor(128, 255, 128)},
    {Shape::Outline, {10.5, 4.5, 11, 9}, 0, QColor(0, 255, 0)},
    {Shape::Disc, {14, 7, 4, 4}, 0, QColor(0, 255, 0)},
    {Shape::Box, {5, 15, 22, 2}, 1, QColor(0, 0, 0)},
    {Shape::Disc, {7, 23, 3, 3}, 0, QColor(0, 255, 0)},
    {Shape::Disc, {12, 23, 3, 3}, 0, QColor(255, 0, 0)},
    {Shape::Disc, {17, 23, 3, 3}, 0, QColor(0, 255, 255)},
    {Shape::Disc, {22, 23, 3, 3}, 0, QColor(255, 255, 0)},
};

// Every edge lands on a whole pixel, as the pixel drawings' edges do: a box
// edge that fell half-way into a pixel would come out a blurred line of two.
// Only round corners and discs are smoothed.
QImage shapedIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal k = size / 32.0;
    const auto pixels = [k](const QRectF& r) {
        return QRectF(QPointF(std::round(r.left() * k), std::round(r.top() * k)),
                      QPointF(std::round(r.right() * k), std::round(r.bottom() * k)));
    };
    for (const Shape& s : IconShapes) {
        const qreal radius = s.radius * k;
        if (s.kind == Shape::Outline) {
            // The line is one unit wide: its outer edge goes on whole pixels,
            // and it is a whole number of pixels wide.
            const qreal width = std::max(1.0, std::round(k));
            const QRectF outer = pixels(s.rect.adjusted(-0.5, -0.5, 0.5, 0.5));
            const qreal in = width / 2;
            p.setPen(QPen(s.colour, width));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(outer.adjusted(in, in, -in, -in), radius, radius);
            continue;
        }
        p.setPen(Qt::NoPen);
        p.setBrush(s.colour);
        if (s.kind == Shape::Disc) // all the same size, wherever they fall
            p.drawEllipse(QRectF(std::round(s.rect.x() * k), std::round(s.rect.y() * k),
                                 std::round(s.rect.width() * k), std::round(s.rect.height() * k)));
        else
            p.drawRoundedRect(pixels(s.rect), radius, radius);
    }
    p.end();
    return image;
}

QString shapedSvg()
{
    const auto n = [](qreal v) { return QString::number(v); };
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" "
                                 "height=\"32\" viewBox=\"0 0 32 32\">\n");
    for (const Shape& s : IconShapes) {
        const QString colour = s.colour.name();
        if (s.kind == Shape::Disc) {
            svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n")
                       .arg(n(s.rect.center().x()), n(s.rect.center().y()), n(s.rect.width() / 2),
                            colour);
            continue;
        }
        const QString paint = s.kind == Shape::Outline
                                  ? QStringLiteral("fill=\"none\" stroke=\"%1\"").arg(colour)
                                  : QStringLiteral("fill=\"%1\"").arg(colour);
        const QString corners =
            s.radius > 0 ? QStringLiteral(" rx=\"%1\"").arg(n(s.radius)) : QString();
        svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"%5 %6/>\n")
                   .arg(n(s.rect.x()), n(s.rect.y()), n(s.rect.width()), n(s.rect.height()),
                        corners, paint);
    }
    return svg + QStringLiteral("</svg>\n");
}

bool save(const QImage& image, const QString& path)
{
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "artwork: cannot write %s\n", qPrintable(path));
    return false;
}

// Width and height (32 bits each, in the machine's order), then the rows of
// RGB32 pixels: what the window copies into a QImage as it stands.
bool saveRaw(const QImage& drawn, const QString& path)
{
    const QImage image = drawn.convertToFormat(QImage::Format_RGB32);
    const quint32 size[2] = {quint32(image.width()), quint32(image.height())};
    QFile file(path);
    const auto bytes = qint64(image.sizeInBytes());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        file.write(reinterpret_cast<const char*>(size), sizeof size) == qint64(sizeof size) &&
        file.write(reinterpret_cast<const char*>(image.constBits()), bytes) == bytes &&
        file.flush())
        return true;
    std::fprintf(stderr, "artwork: cannot write %s\n", qPrintable(path));
    return false;
}

bool saveText(const QString& text, const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        file.write(text.toUtf8()) == text.toUtf8().size() && file.flush())
        return true;
    std::fprintf(stderr, "artwork: cannot write %s\n", qPrintable(path));
    return false;
}

// The pixel drawings where there is one for the size, the shapes elsewhere.
QImage iconAt(int size)
{
    if (size == 16)
        return smallIcon();
    if (size == 32)
        return icon();
    return shapedIcon(size);
}

int writeIconSet(const QDir& out, const QStringList& sizes)
{
    for (const QString& text : sizes) {
        bool ok = false;
        const int size = text.toInt(&ok);
        if (!ok || size < 16 || size > 1024) {
            std::fprintf(stderr, "artwork: %s is no icon size (16 to 1024)\n", qPrintable(text));
            return 2;
        }
        if (!save(iconAt(size), out.filePath(QStringLiteral("kora232-%1.png").arg(size))))
            return 1;
    }
    return saveText(shapedSvg(), out.filePath(QStringLiteral("kora232.svg"))) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() >= 3 && args[0] == QStringLiteral("--icons"))
        return writeIconSet(QDir(args[1]), args.mid(2));
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: kora_artwork OUTPUT-DIRECTORY\n"
                             "       kora_artwork --icons OUTPUT-DIRECTORY SIZE...\n");
        return 2;
    }
    const QDir out(args[0]);
    const bool ok = saveRaw(banner(), out.filePath(QStringLiteral("banner.rgb32"))) &&
                    saveRaw(icon(), out.filePath(QStringLiteral("kora232.rgb32")));
    return ok ? 0 : 1;
}
