// The bill labels and counters on the real window: which label shows in
// which colour, and how a counted bill reaches its counter.
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

        const int bills[] = {3, 5, 3}; // one poll may count several
        UpdateMonitor(*s, *w, bills);
        QCOMPARE(counters(*w), QStringList({"", "", "2", "", "1", "", ""}));
        QCOMPARE(ForeColor(w->lbD(5)), StackingColour);
        QCOMPARE(s->Delay, Byte{50});
    }

    void theCounterIsReadFromItsLeadingNumber_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("blanks around") << "  7 "
                                       << "8";
        QTest::newRow("letters after") << "12abc"
                                       << "13";
        QTest::newRow("no number") << "abc"
                                   << "1";
        QTest::newRow("empty") << ""
                               << "1";
        QTest::newRow("forty-one") << "41"
                                   << "42";
        QTest::newRow("leading zeros") << "007"
                                       << "8";
        QTest::newRow("blank inside") << "1 2"
                                      << "2";
        QTest::newRow("tab and newline") << "\t5\n"
                                         << "6";
        QTest::newRow("plus sign") << "+3"
                                   << "4";
        QTest::newRow("minus sign") << "-5"
                                    << "-4";
        QTest::newRow("sign alone") << "-"
                                    << "1";
        QTest::newRow("decimal point") << "3.9"
                                       << "4";
        QTest::newRow("one below the top") << "9223372036854775806"
                                           << "9223372036854775807";
        QTest::newRow("at the top stays") << "9223372036854775807"
                                          << "9223372036854775807";
        QTest::newRow("too big saturates") << "99999999999999999999999"
                                           << "9223372036854775807";
        QTest::newRow("too small saturates") << "-99999999999999999999999"
                                             << "-9223372036854775807";
    }
    void theCounterIsReadFromItsLeadingNumber()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        stackedReply(3, 5);
        w->txBillCount(3)->setText(before);
        updateCounting(3);
        QCOMPARE(w->txBillCount(3)->text(), after);
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
