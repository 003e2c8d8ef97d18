// The communication monitor on the real window: the histories, the link
// messages, the indicators and the two clearing routines, as the operator
// sees them.
#include "monitorfixture.h"

#include <QDir>

using namespace kora;
using namespace kora::test;

class MonitorTest : public QObject, private MonitorFixture
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    void hexRowsHaveTwoUpperCaseDigitsAndABlankPerByte_data()
    {
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("row");
        QTest::newRow("host frame") << "02 08 10 7F 00 00 03 67"
                                    << "02 08 10 7F 00 00 03 67 ";
        QTest::newRow("with toggle") << "02 08 11 05 00 00 03 1C"
                                     << "02 08 11 05 00 00 03 1C ";
        QTest::newRow("ten and zero") << "0A 00"
                                      << "0A 00 ";
        QTest::newRow("extremes") << "FF 01 10"
                                  << "FF 01 10 ";
        QTest::newRow("nothing") << ""
                                 << "";
    }
    void hexRowsHaveTwoUpperCaseDigitsAndABlankPerByte()
    {
        QFETCH(QString, bytes);
        QFETCH(QString, row);
        const QByteArray raw = QByteArray::fromHex(bytes.toLatin1());
        const std::vector<Byte> b(raw.begin(), raw.end());
        QCOMPARE(HexRow(b), row);
    }

    void theFirstUpdateAfterStartWithNoAcceptorShowsTheLinkMessage()
    {
        pressStart();
        s->NRFlag = 1;
        UpdateMonitor(*s, *w);
        QCOMPARE(rows(*w, &Kora232::lbOUT), QStringList({FirstHostRow, "", "", "", "", ""}));
        QCOMPARE(rows(*w, &Kora232::lbIN), QStringList({NoReply, "", "", "", "", ""}));
        QCOMPARE(shownIndicators(*w), QStringList());
        QCOMPARE(shownBillLabels(*w), QList<int>());
        QCOMPARE(counters(*w), QStringList(7, QString()));
    }

    void aChecksumErrorReplacesTheReplyRowButNotTheHostRow()
    {
        pressStart();
        setBytes(s->AcceptorMsg, QStringLiteral("02 0B 20 10 10 18 41 01 03 03 71"));
        s->NRFlag = 2;
        UpdateMonitor(*s, *w);
        QCOMPARE(w->lbIN(0)->text(), QStringLiteral("Checksum Error"));
        QCOMPARE(w->lbOUT(0)->text(), FirstHostRow);
    }

    void anAllZeroReplyShowsElevenZeroBytes()
    {
        pressStart();
        s->NRFlag = 0;
        UpdateMonitor(*s, *w);
        QCOMPARE(w->lbIN(0)->text(), QStringLiteral("00 ").repeated(11));
        QCOMPARE(w->lbIN(0)->text().size(), 33);
        QCOMPARE(w->lbOUT(0)->text().size(), 24);
    }

    void bytesBelowSixteenHaveALeadingZero()
    {
        setBytes(s->HostMsg, QStringLiteral("02 08 11 05 00 00 03 1C"));
        setBytes(s->AcceptorMsg, QStringLiteral("02 0B 21 01 0A 00 08 07 03 03 0E"));
        UpdateMonitor(*s, *w);
        QCOMPARE(w->lbOUT(0)->text(), QStringLiteral("02 08 11 05 00 00 03 1C "));
        QCOMPARE(w->lbIN(0)->text(), QStringLiteral("02 0B 21 01 0A 00 08 07 03 03 0E "));
    }

    void sevenUpdatesPushTheFirstRowOutOfTheHistory()
    {
        pressStart();
        for (int k = 1; k <= 7; ++k) {
            s->HostMsg(8) = Byte(k);
            s->NRFlag = k % 2; // odd updates fail
            s->AcceptorMsg(11) = Byte(0xA0 + k);
            UpdateMonitor(*s, *w);
        }
        QStringList host, reply;
        for (int k = 7; k >= 2; --k) {
            host.append(QStringLiteral("02 08 10 7F 10 00 03 0%1 ").arg(k));
            reply.append(k % 2 ? NoReply
                               : QStringLiteral("00 00 00 00 00 00 00 00 00 00 A%1 ").arg(k));
        }
        QCOMPARE(rows(*w, &Kora232::lbOUT), host);
        QCOMPARE(rows(*w, &Kora232::lbIN), reply);
    }

    void eachFlagLightsItsOwnIndicatorOnly_data()
    {
        QTest::addColumn<int>("flag");
        for (int i = 0; i < 15; ++i)
            QTest::newRow(Flags[i].name) << i;
    }
    void eachFlagLightsItsOwnIndicatorOnly()
    {
        QFETCH(int, flag);
        s->*Flags[flag].field = 1;
        UpdateMonitor(*s, *w);
        QCOMPARE(shownIndicators(*w), QStringList(QString::fromLatin1(Flags[flag].label)));
        // Only 1 counts as set.
        s->*Flags[flag].field = 2;
        UpdateMonitor(*s, *w);
        QCOMPARE(shownIndicators(*w), QStringList());
    }

    void everyIndicatorFollowsItsFlagOnEveryUpdate()
    {
        for (const Flag& f : Flags)
            s->*f.field = 1;
        UpdateMonitor(*s, *w);
        QCOMPARE(shownIndicators(*w).size(), 15);
        s->Idling = 0, s->Cassette = 0, s->Failure = 0;
        UpdateMonitor(*s, *w);
        QCOMPARE(shownIndicators(*w).size(), 12);
        QVERIFY(w->lb0(0)->isHidden());
        QVERIFY(w->lb1(4)->isHidden());
        QVERIFY(w->lb2(2)->isHidden());
        // Hidden indicators leave their static copies in view.
        QVERIFY(!w->lb0(13)->isHidden());
        QVERIFY(!w->lbx(5)->isHidden());
        QCOMPARE(w->lbx(5)->text(), QStringLiteral("BILL CASSETTE NOT PRESENT"));
        QVERIFY(!w->lb2(3)->isHidden());
    }

    void clearTrafficBlanksTheHistoriesAndNothingElse()
    {
        stackedReply(4, 5);
        s->Cassette = 1;
        updateCounting(4);
        ClearTraffic(*w);
        QCOMPARE(rows(*w, &Kora232::lbOUT), QStringList(6, QString()));
        QCOMPARE(rows(*w, &Kora232::lbIN), QStringList(6, QString()));
        QCOMPARE(shownIndicators(*w), QStringList({"lb0(4)", "lb1(4)"}));
        QCOMPARE(shownBillLabels(*w), QList<int>({4}));
        QCOMPARE(w->txBillCount(4)->text(), QStringLiteral("1"));
        QCOMPARE(w->txBillCount(1)->text(), QStringLiteral("100"));
    }

    void resetMonitorHidesAndBlanksButKeepsColoursAndHistories()
    {
        for (const Flag& f : Flags)
            s->*f.field = 1;
        s->LastCredit = 2;
        UpdateMonitor(*s, *w);
        const QStringList host = rows(*w, &Kora232::lbOUT);
        ResetMonitor(*w);
        QCOMPARE(shownIndicators(*w), QStringList());
        QCOMPARE(shownBillLabels(*w), QList<int>());
        QCOMPARE(counters(*w), QStringList(7, QString()));
        QCOMPARE(ForeColor(w->lbD(2)), LastCreditColour);
        QCOMPARE(rows(*w, &Kora232::lbOUT), host);
    }

    void startAfterARunBlanksEverythingAndTheNextUpdateFillsTheBottomRow()
    {
        for (int k = 0; k < 3; ++k) {
            stackedReply(1, 5);
            s->Idling = 1;
            updateCounting(1);
        }
        QCOMPARE(w->txBillCount(1)->text(), QStringLiteral("3"));
        pressStart();
        QCOMPARE(counters(*w), QStringList(7, QString()));
        QCOMPARE(rows(*w, &Kora232::lbOUT), QStringList(6, QString()));
        QCOMPARE(rows(*w, &Kora232::lbIN), QStringList(6, QString()));
        QCOMPARE(shownIndicators(*w), QStringList());
        QCOMPARE(shownBillLabels(*w), QList<int>());

        s->NRFlag = 1;
        UpdateMonitor(*s, *w);
        QCOMPARE(rows(*w, &Kora232::lbOUT), QStringList({FirstHostRow, "", "", "", "", ""}));
        QCOMPARE(rows(*w, &Kora232::lbIN), QStringList({NoReply, "", "", "", "", ""}));
    }

    void theStaticCopiesNeverChange()
    {
        QList<QLabel*> copies;
        for (int i = 7; i <= 13; ++i)
            copies.append(w->lb0(i));
        for (int i = 5; i <= 8; ++i)
            copies.append(w->lb1(i));
        for (int i = 3; i <= 5; ++i)
            copies.append(w->lb2(i));
        for (int i : {0, 8, 9, 10, 11, 12, 13})
            copies.append(w->lbD(i));
        copies.append(w->lbx(5));
        QStringList before;
        for (QLabel* c : copies)
            before.append(c->text() + ForeColor(c).name() + QString::number(c->isHidden()));
        for (const Flag& f : Flags)
            s->*f.field = 1;
        for (Byte n = 1; n <= 7; ++n) {
            stackedReply(n, 5);
            UpdateMonitor(*s, *w);
        }
        ResetMonitor(*w);
        ClearTraffic(*w);
        QStringList after;
        for (QLabel* c : copies)
            after.append(c->text() + ForeColor(c).name() + QString::number(c->isHidden()));
        QCOMPARE(after, before);
    }

    void aScriptedRunLooksRightOnScreen()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        pressStart();
        // No acceptor yet, then a bill 3 stacked and counted, then idling
        // with the cassette in and the last credit shown.
        s->NRFlag = 1;
        UpdateMonitor(*s, *w);
        s->Toggle = 1;
        setBytes(s->HostMsg, QStringLiteral("02 08 11 7F 10 00 03 76"));
        stackedReply(3, 5);
        s->Cassette = 1;
        updateCounting(3);
        const QImage counted = w->grab().toImage();
        setBytes(s->HostMsg, QStringLiteral("02 08 10 7F 10 00 03 77"));
        setBytes(s->AcceptorMsg, QStringLiteral("02 0B 20 01 10 18 41 01 03 03 61"));
        s->Stacked = 0, s->Credit = 0, s->Idling = 1, s->Power = 1;
        UpdateMonitor(*s, *w);

        QCOMPARE(w->txBillCount(3)->text(), QStringLiteral("1"));
        const QImage shot = w->grab().toImage();
        const QString path = QDir(QCoreApplication::applicationDirPath())
                                 .filePath(QStringLiteral("kora232-monitor.png"));
        QVERIFY(shot.save(path));
        qInfo("screenshot: %s", qPrintable(path));

        // Lit indicators in their own colours; the dim copy they cover is
        // no longer seen.
        QVERIFY(regionHasColour(shot, inWindow(w->lb0(0)), QColor(0, 255, 0)));
        QVERIFY(regionHasColour(shot, inWindow(w->lb1(4)), QColor(0, 255, 255)));
        QVERIFY(!regionHasColour(shot, inWindow(w->lb1(4)), QColor(128, 128, 128)));
        QVERIFY(regionHasColour(shot, inWindow(w->lb2(0)), QColor(192, 192, 255)));
        QVERIFY(!regionHasColour(shot, inWindow(w->lb0(1)), QColor(0, 255, 0)));
        // BILL 3 in the last-credit colour, pink while it was being stacked.
        QVERIFY(regionHasColour(shot, inWindow(w->lbD(3)), LastCreditColour));
        QVERIFY(regionHasColour(counted, inWindow(w->lbD(3)), StackingColour));
        QVERIFY(!regionHasColour(shot, inWindow(w->lbD(2)), LastCreditColour));
        // The counter shows its count: it differs from a blank neighbour.
        const QRect three = inWindow(w->txBillCount(3));
        const QRect four = inWindow(w->txBillCount(4));
        QVERIFY(shot.copy(three) != shot.copy(four));
        QCOMPARE(shot.copy(four), shot.copy(inWindow(w->txBillCount(5))));
    }
};

QTEST_MAIN(MonitorTest)
#include "tst_monitor.moc"
