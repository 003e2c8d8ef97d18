// Draws the window's banner (591 x 85, at most 256 colours) and its icon
// (32 x 32, 16 colours) in the window's own colours, and writes them as
// banner.png and kora232.png into the directory given as the argument.
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
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
        {qRgb(128, 0, 128), qRgb(192, 192, 255)}, {qRgb(64, 64, 64), qRgb(192, 192, 255)},
        {qRgb(150, 0, 150), qRgb(192, 192, 255)}, {qRgb(0, 255, 0), qRgb(0, 0, 0)},
        {qRgb(0, 255, 255), qRgb(0, 0, 0)},       {qRgb(255, 192, 255), qRgb(0, 0, 0)},
        {qRgb(255, 192, 128), qRgb(0, 0, 0)},     {qRgb(64, 64, 64), qRgb(128, 255, 128)},
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
// half-way in, and a row of lamps, `unit` pixels to a step.
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
    const QColor lamps[] = {QColor(0, 255, 0), QColor(255, 0, 0), QColor(0, 255, 255),
                            QColor(255, 255, 0)};
    const int lampSize = 2 * unit;
    const int lampY = body.bottom() - 2 * unit - lampSize + 1;
    const int step = (body.width() - 4 * unit) / 4;
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRect(body.left() + 2 * unit + i * step + (step - lampSize) / 2, lampY, lampSize,
                         lampSize),
                   lamps[i]);
}

QImage banner()
{
    QImage image(591, 85, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 255));
    QPainter p(&image);

    drawAcceptor(p, QRect(16, 26, 54, 52), 3);

    p.setRenderHint(QPainter::TextAntialiasing, true);
    QFont title = face(26, true);
    title.setStyleStrategy(QFont::NoSubpixelAntialias);
    p.setFont(title);
    p.setPen(QColor(128, 0, 128));
    p.drawText(QPoint(90, 40), QStringLiteral("RS-232 Interface Program"));
    QFont small = face(13, false);
    small.setStyleStrategy(QFont::NoSubpixelAntialias);
    p.setFont(small);
    p.setPen(QColor(64, 64, 64));
    p.drawText(QPoint(92, 64), QStringLiteral("Bill acceptor monitor  \u00B7  9600 baud, E, 7, 1"));
    small.setBold(true);
    p.setFont(small);
    p.setPen(QColor(150, 0, 150));
    p.drawText(QPoint(360, 64), QStringLiteral("Ver. 1.3"));

    // A glimpse of the monitor: a few lit indicators on black.
    const QRect panel(452, 8, 130, 69);
    p.fillRect(panel, QColor(0, 0, 0));
    p.fillRect(QRect(panel.left(), panel.top() + 5, panel.width(), 1), QColor(255, 192, 128));
    p.setFont(small);
    const struct
    {
        const char* text;
        QColor colour;
    } rows[] = {
        {"STACKED", QColor(0, 255, 0)},
        {"CASSETTE", QColor(0, 255, 255)},
        {"BILL 3", QColor(255, 192, 255)},
    };
    int top = panel.top() + 10;
    for (const auto& row : rows) {
        p.setPen(row.colour);
        p.drawText(QRect(panel.left(), top, panel.width(), 18), Qt::AlignCenter,
                   QString::fromLatin1(row.text));
        top += 19;
    }
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

bool save(const QImage& image, const QString& path)
{
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "artwork: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kora_artwork OUTPUT-DIRECTORY\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const bool ok = save(banner(), out.filePath(QStringLiteral("banner.png"))) &&
                    save(icon(), out.filePath(QStringLiteral("kora232.png")));
    return ok ? 0 : 1;
}
