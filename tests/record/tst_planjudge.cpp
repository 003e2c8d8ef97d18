// A plan judged from the frames of its bills, as a live run and a log both
// give them: which step each cycle belongs to, and which criteria fail.
#include "record/planjudge.h"

#include <QTest>

using namespace kora;
using namespace std::chrono_literals;

namespace {

// Reply byte 4 states, byte 5 events (with the cassette in).
constexpr Byte Idling = 0x01, Accepting = 0x02, Escrowed = 0x04, Stacked = 0x10, Returned = 0x40;
constexpr Byte Cassette = 0x10, Jammed = 0x04;

ReplyFrame frame(Byte state, int credit = 0, Byte events = 0)
{
    ReplyFrame f;
    f(1) = 0x02, f(2) = 0x0B, f(4) = state, f(5) = Cassette | events;
    f(6) = static_cast<Byte>(credit << 3), f(10) = 0x03;
    return f;
}

// One note, by a word: S3 stacked and counted as bill 3, X3 stacked but left
// uncounted (before-run), R3 returned, J jammed and taken out by hand.
std::vector<std::pair<ReplyFrame, FrameCount>> note(const QString& word)
{
    const int bill = word.size() > 1 ? word.mid(1).toInt() : 0;
    const FrameCount none;
    std::vector<std::pair<ReplyFrame, FrameCount>> frames{{frame(Accepting), none}};
    const QChar what = word.at(0);
    if (what == 'J')
        frames.push_back({frame(Accepting, 0, Jammed), none});
    else
        frames.push_back({frame(Escrowed, bill), none});
    if (what == 'S')
        frames.push_back({frame(Stacked, bill), {CountReason::Counted, bill, false}});
    else if (what == 'X')
        frames.push_back({frame(Stacked, bill), {CountReason::BeforeRun, bill, false}});
    else if (what == 'R')
        frames.push_back({frame(Returned), none});
    frames.push_back({frame(Idling), none});
    return frames;
}

} // namespace

class PlanJudgeTest : public QObject
{
    Q_OBJECT

private slots:
    void eachCycleBelongsToTheStepInForceAndFailsOnlyItsCriteria_data()
    {
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QStringList>("failing");
        QTest::newRow("two taken and one refused pass") << "S3 S3 R5"
                                                        << "PASS" << QStringList();
        QTest::newRow("a refused note inserted again counts against acceptance, not the deck")
            << "R3 S3 S3 R5"
            << "FAIL" << QStringList{"first-time acceptance"};
        QTest::newRow("a note to be refused that is taken is credited")
            << "S3 S3 S5"
            << "FAIL" << QStringList{"no credit for a note to be refused"};
        QTest::newRow("a stacked report left uncounted")
            << "S3 X3 R5"
            << "FAIL" << QStringList{"counted bills = notes taken"};
        QTest::newRow("a jam is a jam and an insertion not taken")
            << "S3 J S3 R5"
            << "FAIL" << QStringList{"first-time acceptance", "jams"};
        QTest::newRow("a deck not played to its end is incomplete")
            << "S3 S3"
            << "INCOMPLETE" << QStringList();
    }
    void eachCycleBelongsToTheStepInForceAndFailsOnlyItsCriteria()
    {
        QFETCH(QString, notes);
        QFETCH(QString, verdict);
        QFETCH(QStringList, failing);
        PlanJudge judge({{3, 2, false}, {5, 1, true}}, {60, 0, 3, 6, true, true});
        BillClock::time_point at{};
        for (const QString& word : notes.split(' '))
            for (const auto& [f, count] : note(word))
                judge.read(f, count, at += 200ms);
        QCOMPARE(QString::fromLatin1(VerdictWord(judge.verdict())), verdict);
        QStringList failed;
        for (const Criterion& c : judge.criteria())
            if (!c.pass)
                failed << QString::fromStdString(c.name);
        QCOMPARE(failed, failing);
        QCOMPARE(judge.figures(0).taken, std::min(2L, long(notes.count("S3") + notes.count("X3"))));
    }
};

QTEST_GUILESS_MAIN(PlanJudgeTest)
#include "tst_planjudge.moc"
