// A bench test plan read from its JSON: every way a plan is refused names the
// place (line and column, or the key's path) and the reason, and the plans
// shipped read as the deck they describe.
#include "engine/testplan.h"

#include <QFile>
#include <QTest>

namespace {

// A plan that reads; each refusal below spoils one part of it.
const char* const Sound = R"({
  "name": "Bench",
  "poll_ms": 100,
  "deck": [
    {"bill": 1, "notes": 3, "must": "take"},
    {"bill": 3, "notes": 3, "must": "take"}
  ],
  "thresholds": {
    "first_time_acceptance_percent": 90,
    "jams_at_most": 0,
    "median_cycle_s": 3,
    "slowest_cycle_s": 6,
    "no_credit_for_refused": true,
    "counted_equal_taken": true
  }
}
)";

QString deckText(const kora::TestPlan& plan)
{
    QStringList steps;
    for (const kora::PlanStep& s : plan.deck)
        steps << QStringLiteral("%1x%2%3").arg(s.bill).arg(s.notes).arg(s.mustRefuse ? "!" : "");
    return steps.join(' ');
}

} // namespace

class TestPlanFile : public QObject
{
    Q_OBJECT

private slots:
    void aPlanIsRefusedNamingWhereAndWhy_data()
    {
        QTest::addColumn<QByteArray>("spoilt");
        QTest::addColumn<QByteArray>("by");
        QTest::addColumn<QString>("why");
        QTest::newRow("a comma before a closing brace")
            << QByteArray("\"counted_equal_taken\": true")
            << QByteArray("\"counted_equal_taken\": true,") << "line 15, column 3: ";
        QTest::newRow("a word that is no value")
            << QByteArray("\"poll_ms\": 100") << QByteArray("\"poll_ms\": fast")
            << "line 3, column ";
        QTest::newRow("a list rather than an object")
            << QByteArray(Sound) << QByteArray("[1]")
            << "line 1, column 1: a plan is one JSON object";
        QTest::newRow("an unknown key at the top")
            << QByteArray("\"name\"") << QByteArray("\"colour\": 1, \"name\"")
            << "colour: unknown key";
        QTest::newRow("an unknown key in a step")
            << QByteArray("\"bill\": 3,") << QByteArray("\"bill\": 3, \"color\": 1,")
            << "deck[1].color: unknown key";
        QTest::newRow("the poll period missing")
            << QByteArray("\"poll_ms\": 100,") << QByteArray()
            << "poll_ms: missing; it must be a whole number from 100 to 5000";
        QTest::newRow("a threshold missing")
            << QByteArray("\"jams_at_most\": 0,") << QByteArray()
            << "thresholds.jams_at_most: missing; it must be a whole number from 0 to 1000";
        QTest::newRow("a step's notes missing")
            << QByteArray("\"bill\": 1, \"notes\": 3,") << QByteArray("\"bill\": 1,")
            << "deck[0].notes: missing; it must be a whole number from 1 to 1000";
        QTest::newRow("a poll period below its least")
            << QByteArray("\"poll_ms\": 100") << QByteArray("\"poll_ms\": 99")
            << "poll_ms: must be a whole number from 100 to 5000";
        QTest::newRow("no notes") << QByteArray("\"notes\": 3, \"must\": \"take\"},\n")
                                  << QByteArray("\"notes\": 0, \"must\": \"take\"},\n")
                                  << "deck[0].notes: must be a whole number from 1 to 1000";
        QTest::newRow("half a note") << QByteArray("\"notes\": 3, \"must\": \"take\"},\n")
                                     << QByteArray("\"notes\": 2.5, \"must\": \"take\"},\n")
                                     << "deck[0].notes: must be a whole number from 1 to 1000";
        QTest::newRow("bill 8") << QByteArray("\"bill\": 3") << QByteArray("\"bill\": 8")
                                << "deck[1].bill: must be a whole number from 1 to 7";
        QTest::newRow("a note that must be neither")
            << QByteArray("\"must\": \"take\"},\n") << QByteArray("\"must\": \"keep\"},\n")
            << "deck[0].must: must be \"take\" or \"refuse\"";
        QTest::newRow("acceptance over a whole")
            << QByteArray("\"first_time_acceptance_percent\": 90")
            << QByteArray("\"first_time_acceptance_percent\": 100.5")
            << "thresholds.first_time_acceptance_percent: must be a number from 0 to 100";
        QTest::newRow("a cycle time given as text")
            << QByteArray("\"median_cycle_s\": 3") << QByteArray("\"median_cycle_s\": \"3\"")
            << "thresholds.median_cycle_s: must be a number from 0.1 to 600";
        QTest::newRow("a criterion switched by a word")
            << QByteArray("\"no_credit_for_refused\": true")
            << QByteArray("\"no_credit_for_refused\": \"yes\"")
            << "thresholds.no_credit_for_refused: must be true or false";
        QTest::newRow("an empty deck")
            << QByteArray("{\"bill\": 1, \"notes\": 3, \"must\": \"take\"},\n    "
                          "{\"bill\": 3, \"notes\": 3, \"must\": \"take\"}")
            << QByteArray() << "deck: must be a list of 1 to 14 steps";
        QTest::newRow("a step that is no object")
            << QByteArray("{\"bill\": 1, \"notes\": 3, \"must\": \"take\"}") << QByteArray("7")
            << "deck[0]: must be an object with bill, notes and must";
        QTest::newRow("a denomination's notes to take twice")
            << QByteArray("\"bill\": 3") << QByteArray("\"bill\": 1")
            << "deck[1].bill: bill 1 already has a step of notes to be taken";
        QTest::newRow("a name of blanks") << QByteArray("\"Bench\"") << QByteArray("\"   \"")
                                          << "name: must be a text of 1 to 80 characters";
        QTest::newRow("too large for a row of the log")
            << QByteArray("\"Bench\"") << QByteArray("\"Bench\"" + QByteArray(8192, ' '))
            << "larger than 8192 bytes";
        QTest::newRow("not UTF-8")
            << QByteArray("Bench") << QByteArray("B\xe9nch") << "not UTF-8 text";
    }
    void aPlanIsRefusedNamingWhereAndWhy()
    {
        QFETCH(QByteArray, spoilt);
        QFETCH(QByteArray, by);
        QFETCH(QString, why);
        QByteArray text(Sound);
        QVERIFY2(text.count(spoilt) == 1, "the row spoils one place of the plan");
        text.replace(spoilt, by);
        QString said;
        QVERIFY(!kora::ReadTestPlan(text, &said));
        if (why.endsWith(QLatin1String(", column ")) || why.endsWith(QLatin1String(": ")))
            // the place, then the JSON parser's own words
            QVERIFY2(said.startsWith(why) && said.size() > why.size(), qPrintable(said));
        else
            QCOMPARE(said, why);
    }

    void theSoundPlanReadsAsItsDeck()
    {
        QString why;
        const auto plan = kora::ReadTestPlan(Sound, &why);
        QVERIFY2(plan, qPrintable(why));
        QCOMPARE(deckText(*plan), QStringLiteral("1x3 3x3"));
        QCOMPARE(plan->thresholds.acceptancePercent, 90.0);
        QCOMPARE(plan->thresholds.slowestCycleS, 6.0);
    }

    void theShippedPlansReadAsTheirDecks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("deck");
        QTest::newRow("quick") << "quick.json"
                               << "1x3 3x3 5x2!";
        QTest::newRow("full, 20 notes per denomination")
            << "full.json"
            << "1x20 2x20 3x20 4x20 5x20 6x20 7x20 5x20!";
    }
    void theShippedPlansReadAsTheirDecks()
    {
        QFETCH(QString, file);
        QFETCH(QString, deck);
        QString why;
        const auto plan = kora::ReadTestPlanFile(QStringLiteral(KORA_PLANS "/") + file, &why);
        QVERIFY2(plan, qPrintable(why));
        QCOMPARE(deckText(*plan), deck);
        QCOMPARE(plan->digest.size(), 64);
    }
};

QTEST_GUILESS_MAIN(TestPlanFile)
#include "tst_testplan.moc"
