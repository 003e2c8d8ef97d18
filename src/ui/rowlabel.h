#pragma once

#include <QCache>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <memory>

namespace kora {

// Everything a row's picture depends on: the font carries its size, and the
// resolution sets how many pixels a point takes.
struct RowPictureKey
{
    QString text;
    QSize size;
    qreal ratio = 1;
    int dpiX = 0;
    int dpiY = 0;
    QRgb back = 0;
    QRgb fore = 0;
    int flags = 0;
    bool enabled = true;
    QFont font;

    bool operator==(const RowPictureKey&) const = default;
};
size_t qHash(const RowPictureKey& key, size_t seed = 0) noexcept;

// Pictures of history rows by their text and looks, shared by the rows of a
// window: every poll moves each row's text up a place, and an acceptor that
// sits idle sends the same few replies for weeks, so most rows show a
// picture that was drawn before.
class RowPictures
{
public:
    // The picture kept for the key, drawn first when there is none.
    template <typename Draw> const QImage& picture(const RowPictureKey& key, Draw draw)
    {
        QImage* kept = pictures.object(key);
        if (!kept) {
            kept = new QImage(draw());
            pictures.insert(key, kept);
            ++drawCount;
        }
        return *kept;
    }
    // How many pictures were drawn rather than found.
    int drawn() const { return drawCount; }

private:
    // Two columns of six rows in two looks, with room for the texts an idle
    // acceptor repeats; a picture is some 20 KB.
    QCache<RowPictureKey, QImage> pictures{24};
    int drawCount = 0;
};

// A label of the history: it shows its text as a plain label would, from a
// picture it draws once for each text, size, font and pair of colours. A
// label that does not fill its background with an opaque colour, as the
// window's labels all do, is drawn as a plain label.
class RowLabel : public QLabel
{
public:
    RowLabel(std::shared_ptr<RowPictures> shared, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool drawnAsRow() const;
    void keepOpaquePainting(bool asRow);
    RowPictureKey pictureKey() const;
    QImage drawPicture() const;

    std::shared_ptr<RowPictures> pictures;
};

} // namespace kora
