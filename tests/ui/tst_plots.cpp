// The reply-time and timeline plots read as their figures say, painted into
// an image the way the window and the printed report paint them, and the
// statistics window showing them live.
#include "ui/linkstatsview.h"
#include "ui/plots.h"

#include <QGroupBox>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>

using namespace kora;
using namespace std::chrono_literals;

namespace {

constexpr QRgb Outside = qRgb(255, 0, 255); // never a plot's colour
const QRect Area(20, 10, 760, 280);

// Where the plot stands in the image, found as a reader finds it: a grid
// line tops the bars, the axis is the long dark line, ticks hang below it.
struct Axes
{
    int top = -1, baseline = -1;
    QList<double> ticks;
};

int pixels(const QImage& image, int y, QRgb colour)
{
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        n += image.pixel(x, y) == colour;
    return n;
}

Axes axesOf(const QImage& image)
{
    Axes a;
    int y = 0;
    while (y < image.height() && pixels(image, y, PlotColours::Grid) < image.width() / 8)
        ++y;
    a.top = y;
    while (y < image.height() && pixels(image, y, PlotColours::Ink) < image.width() / 2)
        ++y;
    a.baseline = y;
    while (y < image.height() && pixels(image, y, PlotColours::Ink) >= image.width() / 2)
        ++y;
    for (int x = 0, from = -1; x <= image.width(); ++x) {
        const bool ink = x < image.width() && image.pixel(x, y) == PlotColours::Ink;
        if (ink && from < 0)
            from = x;
        if (!ink && from >= 0)
            a.ticks << (from + x - 1) / 2.0, from = -1;
    }
    return a;
}

template <typename Plot>
QImage painted(const Plot& plot, void (*paint)(QPainter&, const QRectF&, const Plot&),
               QRect area = Area)
{
    QImage image(800, 300, QImage::Format_RGB32);
    image.fill(Outside);
    QPainter p(&image);
    paint(p, area, plot);
    return image;
}

QString name(QRgb colour)
{
    const std::pair<QRgb, const char*> names[] = {{PlotColours::Background, "background"},
                                                  {PlotColours::Good, "good"},
                                                  {PlotColours::Slow, "slow"},
                                                  {PlotColours::NoReply, "no reply"},
                                                  {PlotColours::Checksum, "checksum"},
                                                  {PlotColours::Away, "away"}};
    for (const auto& [c, n] : names)
        if (c == colour)
            return QString::fromLatin1(n);
    return QColor(colour).name();
}

// Seven 10 s columns: good; half good, half checksum errors; no replies, the
// device lost; away all through, no polls; back, no polls; empty; good.
Timeline sevenColumns()
{
    Timeline t = Timeline::LastTenMinutes();
    for (int i = 0; i < 10; ++i)
        t.add(1, 0);
    for (int i = 0; i < 10; ++i)
        t.add(11, i < 5 ? 0 : 2);
    t.lost(21);
    for (int i = 0; i < 10; ++i)
        t.add(22, 1);
    t.back(45);
    for (int i = 0; i < 10; ++i)
        t.add(61, 0);
    return t;
}

} // namespace

class PlotsTest : public QObject
{
    Q_OBJECT

private slots:
    // place: 0-79 a fine bin, 80 the 40-400 bar, 81 the time-out bar.
    void eachBarStandsAtItsTick_data()
    {
        QTest::addColumn<QList<int>>("filled"); // bins 0-81 given 100 each
        QTest::addColumn<int>("place");
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("a bin with replies") << QList<int>{23} << 23 << PlotColours::Good;
        QTest::newRow("an empty bin between two full ones")
            << QList<int>{22, 24} << 23 << PlotColours::Background;
        QTest::newRow("the first fine bin") << QList<int>{0} << 0 << PlotColours::Good;
        QTest::newRow("the last fine bin") << QList<int>{79} << 79 << PlotColours::Good;
        QTest::newRow("the last fine bin empty, the 40-400 bar full")
            << QList<int>{80} << 79 << PlotColours::Background;
        QTest::newRow("slow replies") << QList<int>{80} << 80 << PlotColours::Slow;
        QTest::newRow("time-outs") << QList<int>{81} << 81 << PlotColours::NoReply;
        QTest::newRow("no time-outs") << QList<int>{23, 80} << 81 << PlotColours::Background;
    }
    void eachBarStandsAtItsTick()
    {
        QFETCH(QList<int>, filled);
        QFETCH(int, place);
        QFETCH(QRgb, colour);
        ReplyHistogram h;
        for (const int bin : filled)
            (bin < 80    ? h.fine[static_cast<std::size_t>(bin)]
             : bin == 80 ? h.slow
                         : h.timeouts) = 100;
        const QImage image = painted(h, PaintReplyHistogram);
        const Axes a = axesOf(image);
        QCOMPARE(a.ticks.size(), 7); // 0, 10, 20, 30, 40 ms, 40-400, time-out
        const double bin = (a.ticks[4] - a.ticks[0]) / ReplyHistogram::FineBins;
        const double x = place < 80 ? a.ticks[0] + (place + 0.5) * bin : a.ticks[place - 75];
        QCOMPARE(name(image.pixel(qRound(x), a.baseline - 3)), name(colour));
        QCOMPARE(name(image.pixel(qRound(x), (a.top + a.baseline) / 2)), name(colour));
    }

    void theTimelineStacksOutcomesOverTheDevicesAbsence_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<double>("across"); // 0.5 the middle of the column's slot
        QTest::addColumn<double>("up");     // 0 the axis, 1 the tallest column's top
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("good polls") << 0 << 0.5 << 0.5 << PlotColours::Good;
        QTest::newRow("good polls at the bottom") << 1 << 0.5 << 0.25 << PlotColours::Good;
        QTest::newRow("checksum errors above them") << 1 << 0.5 << 0.75 << PlotColours::Checksum;
        QTest::newRow("no replies") << 2 << 0.5 << 0.5 << PlotColours::NoReply;
        QTest::newRow("beside them, the device away") << 2 << 0.05 << 0.5 << PlotColours::Away;
        QTest::newRow("an empty column, the device away") << 3 << 0.5 << 0.5 << PlotColours::Away;
        QTest::newRow("the band is whole between columns") << 3 << 0.0 << 0.5 << PlotColours::Away;
        QTest::newRow("the column it came back in") << 4 << 0.5 << 0.5 << PlotColours::Away;
        QTest::newRow("an empty column") << 5 << 0.5 << 0.5 << PlotColours::Background;
        QTest::newRow("the last column") << 6 << 0.5 << 0.1 << PlotColours::Good;
    }
    void theTimelineStacksOutcomesOverTheDevicesAbsence()
    {
        QFETCH(int, column);
        QFETCH(double, across);
        QFETCH(double, up);
        QFETCH(QRgb, colour);
        const QImage image = painted(sevenColumns(), PaintTimeline);
        const Axes a = axesOf(image);
        QVERIFY(a.ticks.size() >= 2);
        const double slot = (a.ticks.last() - a.ticks.first()) / 7;
        const double x = a.ticks.first() + (column + across) * slot;
        const double y = a.baseline - up * (a.baseline - a.top);
        QCOMPARE(name(image.pixel(qRound(x), qRound(y))), name(colour));
    }

    void nothingIsDrawnOutsideTheArea_data()
    {
        QTest::addColumn<bool>("timeline");
        QTest::addColumn<QRect>("area");
        QTest::newRow("reply times") << false << QRect(100, 50, 400, 170);
        QTest::newRow("timeline") << true << QRect(100, 50, 400, 170);
        QTest::newRow("reply times, cramped") << false << QRect(300, 120, 90, 40);
        QTest::newRow("timeline, cramped") << true << QRect(300, 120, 90, 40);
    }
    void nothingIsDrawnOutsideTheArea()
    {
        QFETCH(bool, timeline);
        QFETCH(QRect, area);
        ReplyHistogram h;
        h.fine[0] = 5, h.fine[79] = 9, h.slow = 1, h.timeouts = 12;
        const QImage image = timeline ? painted(sevenColumns(), PaintTimeline, area)
                                      : painted(h, PaintReplyHistogram, area);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!area.contains(x, y) && image.pixel(x, y) != Outside)
                    QFAIL(qPrintable(QStringLiteral("drawn at %1,%2").arg(x).arg(y)));
        QCOMPARE(image.pixel(area.topLeft()), PlotColours::Background);
    }

    void theWindowShowsBothPlotsBelowTheFiguresAndKeepsTheirWordsCurrent()
    {
        LinkStats stats;
        stats.start(LinkStats::Clock::now());
        const BillFigures bills;
        LinkStatsView view(stats, bills, nullptr);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto* table = view.findChild<QGroupBox*>(QStringLiteral("bills"));
        const int figuresEnd = table->geometry().bottom();
        int above = figuresEnd;
        for (const char* name : {"replyTimePlot", "timelinePlot"}) {
            const auto* plot = view.findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(plot && plot->isVisible(), name);
            QVERIFY(plot->width() >= 360 && plot->height() >= 160);
            QVERIFY2(plot->y() > above, name); // one under the other, under the figures
            above = plot->geometry().bottom();
        }
        QVERIFY(above <= view.height());

        const auto* replies = view.findChild<QWidget*>(QStringLiteral("replyTimePlot"));
        const auto* polls = view.findChild<QWidget*>(QStringLiteral("timelinePlot"));
        QCOMPARE(replies->accessibleName(), QStringLiteral("Reply times"));
        QCOMPARE(polls->accessibleName(), QStringLiteral("Polls over the last 10 minutes"));
        QCOMPARE(replies->accessibleDescription(),
                 QStringLiteral("0 replies within 40 ms; 0 from 40 to 400 ms; 0 time-outs"));
        for (int i = 0; i < 3; ++i)
            stats.addPoll(0, 11700us);
        stats.addPoll(1, std::nullopt);
        stats.addPoll(2, 250ms);
        QTRY_COMPARE(replies->accessibleDescription(),
                     QStringLiteral("3 replies within 40 ms, most often 11.5-12.0 ms (3); 1 from "
                                    "40 to 400 ms; 1 time-out"));
        QTRY_COMPARE(polls->accessibleDescription(),
                     QStringLiteral("10 s columns from 0:00 to 0:10: 3 good replies, 1 no reply, "
                                    "1 checksum error"));
    }
};

QTEST_MAIN(PlotsTest)
#include "tst_plots.moc"
