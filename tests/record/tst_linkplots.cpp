// What the plots are drawn from: reply times in bins, and polls in columns
// over time with the device's absences.
#include "record/linkplots.h"

#include <QStringList>
#include <QTest>
#include <cmath>

using namespace kora;

namespace {

// "g5 n7 c8 L12 B47": a good reply, no reply, a checksum error at that many
// seconds since START; the device lost, and back.
Timeline played(Timeline t, const QString& events)
{
    for (const QString& e : events.split(u' ', Qt::SkipEmptyParts)) {
        const double at = e.mid(1).toDouble();
        switch (e[0].toLatin1()) {
        case 'L':
            t.lost(at);
            break;
        case 'B':
            t.back(at);
            break;
        default:
            t.add(at, QStringLiteral("gnc").indexOf(e[0]));
        }
    }
    return t;
}

// "10@600: 0*59 1!": column width and first second, then each column's polls,
// '!' where the device was away, a run of like columns as "*n".
QString shape(const Timeline& t)
{
    QStringList columns;
    for (const TimelineColumn& c : t.columns())
        columns << QString::number(c.polls()) + (c.lost ? "!" : "");
    QStringList runs;
    for (qsizetype i = 0; i < columns.size();) {
        qsizetype n = 1;
        while (i + n < columns.size() && columns[i + n] == columns[i])
            ++n;
        runs << (n > 1 ? QStringLiteral("%1*%2").arg(columns[i]).arg(n) : columns[i]);
        i += n;
    }
    return QStringLiteral("%1@%2: ").arg(t.columnSeconds()).arg(t.firstSeconds()) + runs.join(u' ');
}

} // namespace

class LinkPlotsTest : public QObject
{
    Q_OBJECT

private slots:
    void aReplyTimeFallsInItsBin_data()
    {
        QTest::addColumn<double>("ms"); // NaN: no reply
        QTest::addColumn<int>("bin");   // 0-79 fine, 80 slow, 81 time-outs
        QTest::newRow("0 ms opens the first bin") << 0.0 << 0;
        QTest::newRow("0.49 ms is still the first") << 0.49 << 0;
        QTest::newRow("0.5 ms opens the second") << 0.5 << 1;
        QTest::newRow("39.99 ms is the last fine bin") << 39.99 << 79;
        QTest::newRow("40 ms is slow") << 40.0 << 80;
        QTest::newRow("399 ms is slow") << 399.0 << 80;
        QTest::newRow("no reply is a time-out") << qQNaN() << 81;
    }
    void aReplyTimeFallsInItsBin()
    {
        QFETCH(double, ms);
        QFETCH(int, bin);
        ReplyHistogram h;
        h.add(std::isnan(ms) ? std::nullopt : std::optional(ms));
        QList<qulonglong> all(h.fine.begin(), h.fine.end());
        all << h.slow << h.timeouts;
        QList<qulonglong> expected(82, 0);
        expected[bin] = 1;
        QCOMPARE(all, expected);
        QCOMPARE(qulonglong(h.replies()), qulonglong(bin < 81));
        QCOMPARE(qulonglong(h.tallest()), 1ull);
    }

    void theHistogramTellsItsFiguresInWords()
    {
        ReplyHistogram h;
        QCOMPARE(h.describe(), std::string("0 replies within 40 ms; 0 from 40 to 400 ms; 0 "
                                           "time-outs"));
        for (int i = 0; i < 150; ++i)
            h.add(11.7);
        for (int i = 0; i < 58; ++i)
            h.add(12.2);
        h.add(39.0), h.add(1.0), h.add(250.0), h.add(41.0);
        for (int i = 0; i < 13; ++i)
            h.add(std::nullopt);
        QCOMPARE(h.describe(), std::string("210 replies within 40 ms, most often 11.5-12.0 ms "
                                           "(150); 2 from 40 to 400 ms; 13 time-outs"));
    }

    void pollsFallInColumns_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("most");
        QTest::addColumn<bool>("whole");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("shape");
        QTest::newRow("the latest span fills from START") << 10.0 << 60 << false << "g55"
                                                          << "10@0: 0*5 1";
        QTest::newRow("the latest span drops its oldest column") << 10.0 << 60 << false << "g5 g605"
                                                                 << "10@10: 0*59 1";
        QTest::newRow("a gap longer than the span leaves only empty columns before")
            << 10.0 << 60 << false << "g5 n6 g2000"
            << "10@1410: 0*59 1";
        QTest::newRow("the whole span doubles its width when full")
            << 10.0 << 4 << true << "g5 g15 n25 c35 g45"
            << "20@0: 2*2 1";
        QTest::newRow("and doubles again as often as a late poll needs")
            << 10.0 << 4 << true << "g5 g15 n25 c35 g45 g170"
            << "80@0: 5 0 1";
        QTest::newRow("the device away marks every column it spans, polled or not")
            << 10.0 << 60 << false << "g5 L12 n14 B47 g55"
            << "10@0: 1 1! 0!*3 1";
        QTest::newRow("a merged column is away if either half was")
            << 10.0 << 4 << true << "L5 B8 g15 g25 g35 g45"
            << "20@0: 1! 2 1";
        QTest::newRow("away across a long gap, every column is")
            << 10.0 << 60 << false << "g5 L6 B2000"
            << "10@1410: 0!*60";
    }
    void pollsFallInColumns()
    {
        QFETCH(double, width);
        QFETCH(int, most);
        QFETCH(bool, whole);
        QFETCH(QString, events);
        QFETCH(QString, shape);
        const Timeline t(width, static_cast<std::size_t>(most),
                         whole ? Timeline::Span::Whole : Timeline::Span::Latest);
        QCOMPARE(::shape(played(t, events)), shape);
    }

    void aFittedTimelineMergesNeighboursAndKeepsEveryPoll()
    {
        const Timeline t = played(Timeline(10, 60, Timeline::Span::Whole),
                                  "g1 g11 g21 n31 g41 c51 g61 g71 g81 L85 n91 B95");
        QCOMPARE(shape(t.fitted(4)), "40@0: 4*2 2!");
        QCOMPARE(shape(t.fitted(10)), shape(t));
        QCOMPARE(shape(t), "10@0: 1*8 1!*2"); // left as it was
    }

    void theTimelineTellsItsFiguresInWords_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("words");
        QTest::newRow("good, no reply, checksum and away")
            << 10.0 << "g5 g6 n7 c8 L15 B25 g31"
            << "10 s columns from 0:00 to 0:40: 3 good replies, 1 no reply, 1 checksum error; "
               "the device away in 2 columns";
        QTest::newRow("minutes and hours")
            << 120.0 << "g3599 c3600"
            << "2 min columns from 0:00 to 1:02:00: 1 good reply, 0 no replies, 1 checksum error";
        QTest::newRow("nothing yet") << 10.0 << ""
                                     << "10 s columns from 0:00 to 0:00: 0 good replies, 0 no "
                                        "replies, 0 checksum errors";
    }
    void theTimelineTellsItsFiguresInWords()
    {
        QFETCH(double, width);
        QFETCH(QString, events);
        QFETCH(QString, words);
        const Timeline t = played(Timeline(width, 60, Timeline::Span::Whole), events);
        QCOMPARE(QString::fromStdString(t.describe()), words);
    }
};

QTEST_APPLESS_MAIN(LinkPlotsTest)
#include "tst_linkplots.moc"
