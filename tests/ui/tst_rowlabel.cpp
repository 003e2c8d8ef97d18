// History rows drawn from kept pictures: pixel for pixel what a plain label
// shows, and drawn once for each text and look however often it moves.
#include "ui/appearance.h"
#include "ui/labelfactory.h"
#include "ui/rowlabel.h"

#include <QScreen>
#include <QTest>
#include <QWidget>

using namespace kora;
using namespace kora::colour;

namespace {

LabelRow rowOf(int width, QRgb back, const QByteArray& caption)
{
    return {"lbIN",
            0,
            0,
            0,
            width,
            255,
            caption.constData(),
            Black,
            back,
            LabelFont::LargeBold,
            Qt::AlignHCenter};
}

// A plain label and a history row made from the same table row, side by side.
struct Pair
{
    QWidget window;
    std::shared_ptr<RowPictures> pictures = std::make_shared<RowPictures>();
    QLabel* plain = nullptr;
    RowLabel* row = nullptr;

    explicit Pair(const LabelRow& layout)
    {
        plain = MakeLabel(layout, &window);
        row = new RowLabel(pictures, &window);
        SetUpLabel(row, layout);
        window.resize(plain->width() + 10, plain->height() + 10);
        window.show();
    }
    bool looksAlike() const { return plain->grab().toImage() == row->grab().toImage(); }
};

// A column of history rows, the newest in its own colour, over a window of
// another colour, on the screen.
struct Rows
{
    QWidget window;
    std::shared_ptr<RowPictures> pictures = std::make_shared<RowPictures>();
    std::vector<RowLabel*> rows;

    explicit Rows(int count)
    {
        SetBackColor(&window, QColor(Pink));
        for (int r = 0; r < count; ++r) {
            rows.push_back(new RowLabel(pictures, &window));
            SetUpLabel(rows.back(), rowOf(3255, r == 0 ? LightGreen : PaleGreen, ""));
            rows.back()->move(0, 20 * r);
        }
        window.resize(240, 20 * count + 10);
        window.show();
    }
    // What the window system holds of the window once it has painted.
    QImage screen()
    {
        if (!QTest::qWaitForWindowExposed(&window))
            return {};
        QCoreApplication::processEvents();
        return window.screen()
            ->grabWindow(window.winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
};

} // namespace

class RowLabelTest : public QObject
{
    Q_OBJECT

private slots:
    void aRowLooksAsAPlainLabelWould_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QRgb>("back");
        QTest::addColumn<QByteArray>("caption");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("drawn"); // pictures, one for each look
        QTest::newRow("host message")
            << 3255 << LightGreen << QByteArray("02 08 10 7F 10 00 03 77") << true << 2;
        QTest::newRow("reply") << 4215 << PaleBlue << QByteArray("02 0B 20 10 10 18 4B 01 03 03 7A")
                               << true << 2;
        QTest::newRow("a fault in words")
            << 4215 << LightBlue << QByteArray("Checksum Error") << true << 2;
        QTest::newRow("wrapped at a blank")
            << 1200 << PaleGreen << QByteArray("Acceptor Busy / Not Connected") << true << 2;
        QTest::newRow("disabled") << 3255 << PaleGreen << QByteArray("02 08 11 7F 10 00 03 76")
                                  << false << 2;
        QTest::newRow("blank, as before the first poll")
            << 3255 << PaleGreen << QByteArray() << true << 0;
    }
    void aRowLooksAsAPlainLabelWould()
    {
        QFETCH(int, width);
        QFETCH(QRgb, back);
        QFETCH(QByteArray, caption);
        QFETCH(bool, enabled);
        QFETCH(int, drawn);
        Pair pair(rowOf(width, back, caption));
        pair.plain->setEnabled(enabled);
        pair.row->setEnabled(enabled);
        QVERIFY(pair.looksAlike());
        // Found again, and drawn anew once the look changes.
        QVERIFY(pair.looksAlike());
        SetBackColor(pair.plain, QColor(Yellow));
        SetBackColor(pair.row, QColor(Yellow));
        QVERIFY(pair.looksAlike());
        QCOMPARE(pair.pictures->drawn(), drawn);
    }

    // Once drawn as a row it fills its background itself; made see-through,
    // it has Qt fill it again, over what lies beneath.
    void aRowMadeSeeThroughIsDrawnAsALabelAgain()
    {
        Pair pair(rowOf(3255, Pink, "Checksum Error"));
        QVERIFY(pair.looksAlike());
        const QColor seeThrough(0, 0, 255, 100);
        SetBackColor(pair.plain, seeThrough);
        SetBackColor(pair.row, seeThrough);
        QVERIFY(pair.looksAlike());
        QCOMPARE(pair.pictures->drawn(), 1);
    }

    void aRowOverItsParentsBackgroundIsDrawnAsALabel()
    {
        Pair pair(rowOf(3255, Pink, "Checksum Error"));
        pair.plain->setAutoFillBackground(false);
        pair.row->setAutoFillBackground(false);
        QVERIFY(pair.looksAlike());
        QCOMPARE(pair.pictures->drawn(), 0);
    }

    void textsMovingUpTheRowsAreNotDrawnAgain()
    {
        Rows column(6);
        auto& rows = column.rows;
        // An idle acceptor: two messages in turn, each shown in both colours.
        const QString sent[] = {QStringLiteral("02 08 10 7F 10 00 03 77"),
                                QStringLiteral("02 08 11 7F 10 00 03 76")};
        for (int poll = 0; poll < 20; ++poll) {
            for (int r = 5; r > 0; --r)
                rows[std::size_t(r)]->setText(rows[std::size_t(r - 1)]->text());
            rows[0]->setText(sent[poll % 2]);
            column.window.grab();
        }
        QCOMPARE(column.pictures->drawn(), 4);
    }

    // After many polls painted over one another, a row emptied and a row
    // made see-through, the screen shows what a window drawn once shows.
    void rowsPaintedOverAndOverLeaveNothingBehind()
    {
        const QColor seeThrough(0, 0, 255, 100);
        const QString last = QStringLiteral("02 0B 20 10 10 18 4B 01 03 03 7A");
        Rows used(3);
        for (int poll = 0; poll < 6; ++poll) {
            for (RowLabel* row : used.rows)
                row->setText(poll == 5 ? last
                                       : QStringLiteral("02 08 10 7F 10 00 03 %1").arg(poll));
            used.screen();
        }
        used.rows[1]->clear();
        SetBackColor(used.rows[2], seeThrough);
        Rows fresh(3);
        fresh.rows[0]->setText(last);
        fresh.rows[2]->setText(last);
        SetBackColor(fresh.rows[2], seeThrough);
        const QImage shown = used.screen();
        QVERIFY(!shown.isNull());
        QCOMPARE(shown, fresh.screen());
    }
};

QTEST_MAIN(RowLabelTest)
#include "tst_rowlabel.moc"
