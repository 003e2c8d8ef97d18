// The communication monitor on the real window: captions, visibility,
// colours and counter texts after each update, as the operator sees them.
#include "appearance.h"
#include "kora232.h"
#include "monitor.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace kora;

namespace {

const QColor StackingColour(255, 192, 255);
const QColor LastCreditColour(150, 0, 150);
const QString NoReply = QStringLiteral("Acceptor Busy / Not Connected");
const QString FirstHostRow = QStringLiteral("02 08 10 7F 10 00 03 77 ");

template <typename Buffer> void setBytes(Buffer& buffer, const QString& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex.toLatin1());
    QCOMPARE(qsizetype(buffer.raw().size()), raw.size());
    std::copy(raw.begin(), raw.end(), buffer.raw().begin());
}

// The fifteen flags in the indicator map's order, with their labels.
struct Flag
{
    const char* name;
    Byte RunState::*field;
    const char* label;
};
const Flag Flags[] = {
    {"Idling", &RunState::Idling, "lb0(0)"},     {"Accepting", &RunState::Accepting, "lb0(1)"},
    {"Escrowed", &RunState::Escrowed, "lb0(2)"}, {"Stacking", &RunState::Stacking, "lb0(3)"},
    {"Stacked", &RunState::Stacked, "lb0(4)"},   {"Returning", &RunState::Returning, "lb0(5)"},
    {"Returned", &RunState::Returned, "lb0(6)"}, {"Cheated", &RunState::Cheated, "lb1(0)"},
    {"Rejected", &RunState::Rejected, "lb1(1)"}, {"Jammed", &RunState::Jammed, "lb1(2)"},
    {"Full", &RunState::Full, "lb1(3)"},         {"Cassette", &RunState::Cassette, "lb1(4)"},
    {"Power", &RunState::Power, "lb2(0)"},       {"Invalid", &RunState::Invalid, "lb2(1)"},
    {"Failure", &RunState::Failure, "lb2(2)"},
};

QStringList shownIndicators(const Kora232& w)
{
    QStringList shown;
    for (const Flag& f : Flags) {
        if (!w.findChild<QLabel*>(QString::fromLatin1(f.label))->isHidden())
            shown.append(QString::fromLatin1(f.label));
    }
    return shown;
}

QList<int> shownBillLabels(const Kora232& w)
{
    QList<int> shown;
    for (int n = 1; n <= 7; ++n) {
        if (!w.lbD(n)->isHidden())
            shown.append(n);
    }
    return shown;
}

QStringList counters(const Kora232& w)
{
    QStringList texts;
    for (int n = 1; n <= 7; ++n)
        texts.append(w.txBillCount(n)->text());
    return texts;
}

QStringList rows(const Kora232& w, QLabel* (Kora232::*row)(int) const)
{
    QStringList texts;
    for (int r = 0; r <= 5; ++r)
        texts.append((w.*row)(r)->text());
    return texts;
}

bool regionHasColour(const QImage& shot, QRect region, QColor colour)
{
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            if (QColor(shot.pixel(x, y)) == colour)
                return true;
        }
    }
    return false;
}

QRect inWindow(const QWidget* c)
{
    return QRect(c->mapTo(c->window(), QPoint(0, 0)), c->size());
}

} // namespace

class MonitorTest : public QObject
{
    Q_OBJECT

    Kora232* w = nullptr;
    RunState* s = nullptr;

    // What START does to the monitor and the status.
    void pressStart()
    {
        ClearTraffic(*w);
        s->ClearStatus();
        ResetMonitor(*w);
    }

    // A good reply reporting bill `credit` stacked.
    void stackedReply(Byte credit, Byte delay)
    {
        s->NRFlag = 0;
        setBytes(s->AcceptorMsg, QStringLiteral("02 0B 20 10 10 18 41 01 03 03 70"));
        s->Stacked = 1;
        s->Credit = credit;
        s->LastCredit = credit;
        s->Delay = delay;
    }

private slots:
    void init()
    {
        w = new Kora232;
        s = &w->state();
        setBytes(s->HostMsg, QStringLiteral("02 08 10 7F 10 00 03 77"));
    }
    void cleanup() { delete w; }

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

    void aStackedBillIsCountedOnlyOnceDelayIsPastFour()
    {
        pressStart();
        stackedReply(3, 4);
        UpdateMonitor(*s, *w);
        QCOMPARE(shownBillLabels(*w), QList<int>({3}));
        QCOMPARE(ForeColor(w->lbD(3)), StackingColour);
        QCOMPARE(w->txBillCount(3)->text(), QString());
        QCOMPARE(s->Delay, Byte{4});

        s->Delay = 5;
        UpdateMonitor(*s, *w);
        QCOMPARE(w->txBillCount(3)->text(), QStringLiteral("1"));
        QCOMPARE(s->Delay, Byte{0});
        QCOMPARE(counters(*w), QStringList({"", "", "1", "", "", "", ""}));
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
        UpdateMonitor(*s, *w);
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

    void failedPollsRepeatTheLastGoodStackedReport()
    {
        pressStart();
        stackedReply(3, 5);
        UpdateMonitor(*s, *w);
        QCOMPARE(w->txBillCount(3)->text(), QStringLiteral("1"));

        s->NRFlag = 1; // the flags stay as the last good reply left them
        const Byte delays[] = {2, 4, 5, 3, 6};
        const char* expected[] = {"1", "1", "2", "2", "3"};
        for (int i = 0; i < 5; ++i) {
            s->Delay = delays[i];
            UpdateMonitor(*s, *w);
            QCOMPARE(w->lbIN(0)->text(), NoReply);
            QCOMPARE(shownBillLabels(*w), QList<int>({3}));
            QCOMPARE(ForeColor(w->lbD(3)), StackingColour);
            QCOMPARE(w->txBillCount(3)->text(), QString::fromLatin1(expected[i]));
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

    void clearTrafficBlanksTheHistoriesAndNothingElse()
    {
        stackedReply(4, 5);
        s->Cassette = 1;
        UpdateMonitor(*s, *w);
        ClearTraffic(*w);
        QCOMPARE(rows(*w, &Kora232::lbOUT), QStringList(6, QString()));
        QCOMPARE(rows(*w, &Kora232::lbIN), QStringList(6, QString()));
        QCOMPARE(shownIndicators(*w), QStringList({"lb0(4)", "lb1(4)"}));
        QCOMPARE(shownBillLabels(*w), QList<int>({4}));
        QCOMPARE(w->txBillCount(4)->text(), QStringLiteral("101"));
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
            UpdateMonitor(*s, *w);
        }
        QCOMPARE(w->txBillCount(1)->text(), QStringLiteral("103"));
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
        UpdateMonitor(*s, *w);
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
