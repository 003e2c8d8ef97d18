// The bill labels and counters on the real window: which label shows in
// which colour, how a counted bill's count reaches its counter, and how a
// count typed into one is read.
#include "monitorfixture.h"

using namespace kora;
using namespace kora::test;

class BillCountTest : public QObject, private MonitorFixture
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    void stackedWithNoCreditChangesNoColourAndCountsNothing()
    {
        pressStart();
        stackedReply(0, 9);
        UpdateMonitor(*s, *w);
        QCOMPARE(shownBillLabels(*w), QList<int>());
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(ForeColor(w->lbD(n)), StackingColour);
        QCOMPARE(counters(*w), QStringList(7, QString()));
        QCOMPARE(s->Delay, Byte{9});
        QVERIFY(!w->lb0(4)->isHidden());
    }

    void anUpdateCountsExactlyTheBillsItsPollCounted()
    {
        pressStart();
        stackedReply(3, 50);
        UpdateMonitor(*s, *w); // a stacked report that counted nothing
        QCOMPARE(shownBillLabels(*w), QList<int>({3}));
        QCOMPARE(ForeColor(w->lbD(3)), StackingColour);
        QCOMPARE(counters(*w), QStringList(7, QString()));

        const int bills[] = {3, 5, 3};                         // one poll may count several
        const std::array<long, 7> counts{4, 0, 2, 0, 1, 0, 0}; // bill 1's is older
        UpdateMonitor(*s, *w, bills, counts);
        QCOMPARE(counters(*w), QStringList({"", "", "2", "", "1", "", ""}));
        QCOMPARE(ForeColor(w->lbD(5)), StackingColour);
        QCOMPARE(s->Delay, Byte{50});
    }

    void aTypedCountIsReadFromItsLeadingNumberWithinRange_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<long>("count");
        QTest::newRow("blanks around") << "  7 " << 7L;
        QTest::newRow("letters after") << "12abc" << 12L;
        QTest::newRow("no number") << "abc" << 0L;
        QTest::newRow("empty") << "" << 0L;
        QTest::newRow("leading zeros") << "007" << 7L;
        QTest::newRow("blank inside") << "1 2" << 1L;
        QTest::newRow("tab and newline") << "\t5\n" << 5L;
        QTest::newRow("plus sign") << "+3" << 3L;
        QTest::newRow("minus sign: no count is negative") << "-5" << 0L;
        QTest::newRow("sign alone") << "-" << 0L;
        QTest::newRow("decimal point") << "3.9" << 3L;
        QTest::newRow("the most") << "300000000" << MostTypedCount;
        QTest::newRow("past the most") << "300000001" << MostTypedCount;
        QTest::newRow("too big for any count") << "99999999999999999999999" << MostTypedCount;
    }
    void aTypedCountIsReadFromItsLeadingNumberWithinRange()
    {
        QFETCH(QString, typed);
        QFETCH(long, count);
        QCOMPARE(TypedCount(typed), count);
    }

    // What the counter held, typed or not, gives way to the engine's count.
    void aCountedBillShowsTheEnginesCountWhateverTheBoxHeld()
    {
        pressStart();
        stackedReply(3, 5);
        w->txBillCount(3)->setText(QStringLiteral("25"));
        updateCounting(3);
        QCOMPARE(w->txBillCount(3)->text(), QStringLiteral("1"));
    }

    void readingACountNeverWraps()
    {
        QCOMPARE(ReadCount(QStringLiteral("9223372036854775808")), INT64_MAX);
        QCOMPARE(ReadCount(QStringLiteral("-9223372036854775808")), INT64_MIN);
        QCOMPARE(ReadCount(QStringLiteral("-9223372036854775809")), INT64_MIN);
        QCOMPARE(ReadCount(QStringLiteral("18446744073709551617")), INT64_MAX);
        QCOMPARE(ReadCount(QString(5000, u'9')), INT64_MAX);
        QCOMPARE(ReadCount(QStringLiteral("\u0663")), 0); // only ASCII digits
    }

    void failedPollsCountNothingAndLeaveDelayAlone_data()
    {
        QTest::addColumn<int>("nrFlag");
        QTest::addColumn<QString>("row");
        QTest::newRow("no reply") << 1 << NoReply;
        QTest::newRow("checksum error") << 2 << QStringLiteral("Checksum Error");
    }
    void failedPollsCountNothingAndLeaveDelayAlone()
    {
        QFETCH(int, nrFlag);
        QFETCH(QString, row);
        pressStart();
        stackedReply(3, 5);
        updateCounting(3);
        QCOMPARE(w->txBillCount(3)->text(), QStringLiteral("1"));

        s->NRFlag = nrFlag; // the flags stay as the last good reply left them
        for (const Byte delay : {Byte{2}, Byte{5}, Byte{50}}) {
            s->Delay = delay;
            UpdateMonitor(*s, *w);
            QCOMPARE(w->lbIN(0)->text(), row);
            QCOMPARE(shownBillLabels(*w), QList<int>({3}));
            QCOMPARE(ForeColor(w->lbD(3)), StackingColour);
            QCOMPARE(w->txBillCount(3)->text(), QStringLiteral("1"));
            QCOMPARE(s->Delay, delay);
        }
    }

    void theLastCreditedBillShowsInTheLastCreditColour()
    {
        pressStart();
        s->LastCredit = 5;
        s->Credit = 0;
        UpdateMonitor(*s, *w);
        QCOMPARE(shownBillLabels(*w), QList<int>({5}));
        QCOMPARE(ForeColor(w->lbD(5)), LastCreditColour);
        QCOMPARE(counters(*w), QStringList(7, QString()));
    }

    void theBillLabelTurnsPinkWhileStackedAndBackAfter()
    {
        stackedReply(6, 0);
        UpdateMonitor(*s, *w);
        QCOMPARE(ForeColor(w->lbD(6)), StackingColour);
        s->Stacked = 0, s->Credit = 0; // LastCredit stays 6
        UpdateMonitor(*s, *w);
        QCOMPARE(shownBillLabels(*w), QList<int>({6}));
        QCOMPARE(ForeColor(w->lbD(6)), LastCreditColour);
        s->LastCredit = 2; // another bill: the old label goes, keeping its colour
        UpdateMonitor(*s, *w);
        QCOMPARE(shownBillLabels(*w), QList<int>({2}));
        QCOMPARE(ForeColor(w->lbD(6)), LastCreditColour);
        QCOMPARE(ForeColor(w->lbD(2)), LastCreditColour);
    }
};

QTEST_MAIN(BillCountTest)
#include "tst_billcount.moc"
