#include "commands.h"
#include "linesplitter.h"

#include <QTest>

using namespace kora::sim;
using Ms = std::chrono::milliseconds;

Q_DECLARE_METATYPE(Verb)

class SimCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void readsEachCommand_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Verb>("verb");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("every");
        QTest::newRow("insert") << "insert 3" << Verb::Insert << 3 << true << 0 << 0;
        QTest::newRow("spaces and a comment")
            << "  insert   7  # big one" << Verb::Insert << 7 << true << 0 << 0;
        QTest::newRow("cheat") << "cheat" << Verb::Cheat << 0 << true << 0 << 0;
        QTest::newRow("jam") << "jam" << Verb::Jam << 0 << true << 0 << 0;
        QTest::newRow("clear") << "clear" << Verb::Clear << 0 << true << 0 << 0;
        QTest::newRow("full") << "full" << Verb::Full << 0 << true << 0 << 0;
        QTest::newRow("full off") << "full off" << Verb::Full << 0 << false << 0 << 0;
        QTest::newRow("cassette off") << "cassette off" << Verb::Cassette << 0 << false << 0 << 0;
        QTest::newRow("cassette on") << "cassette on" << Verb::Cassette << 0 << true << 0 << 0;
        QTest::newRow("failure") << "failure" << Verb::Failure << 0 << true << 0 << 0;
        QTest::newRow("invalid") << "invalid" << Verb::Invalid << 0 << true << 0 << 0;
        QTest::newRow("power") << "power" << Verb::Power << 0 << true << 0 << 0;
        QTest::newRow("wait in ms") << "wait 500ms" << Verb::Wait << 0 << true << 500 << 0;
        QTest::newRow("wait in s") << "wait 2s" << Verb::Wait << 0 << true << 2000 << 0;
        QTest::newRow("wait in fractions of s")
            << "wait 1.5s" << Verb::Wait << 0 << true << 1500 << 0;
        QTest::newRow("step in ms") << "step 20ms" << Verb::Step << 0 << true << 20 << 0;
        QTest::newRow("silent on") << "silent on" << Verb::Silent << 0 << true << 0 << 0;
        QTest::newRow("silent off") << "silent off" << Verb::Silent << 0 << false << 0 << 0;
        QTest::newRow("silent for a while")
            << "silent 2s" << Verb::SilentFor << 0 << true << 2000 << 0;
        QTest::newRow("late") << "late 600" << Verb::Late << 0 << true << 600 << 0;
        QTest::newRow("late off") << "late off" << Verb::Late << 0 << true << 0 << 0;
        QTest::newRow("late with a unit") << "late 1.5s" << Verb::Late << 0 << true << 1500 << 0;
        QTest::newRow("late for the next replies")
            << "late 300 2" << Verb::Late << 2 << true << 300 << 0;
        QTest::newRow("deaf") << "deaf 3" << Verb::Deaf << 3 << true << 0 << 0;
        QTest::newRow("deaf off") << "deaf off" << Verb::Deaf << 0 << true << 0 << 0;
        QTest::newRow("sticky") << "sticky 2" << Verb::Sticky << 2 << true << 0 << 0;
        QTest::newRow("sticky off") << "sticky off" << Verb::Sticky << 0 << true << 0 << 0;
        QTest::newRow("queue on") << "queue on" << Verb::Queue << 0 << true << 0 << 0;
        QTest::newRow("queue off") << "queue off" << Verb::Queue << 0 << false << 0 << 0;
        QTest::newRow("reject") << "reject 4" << Verb::Reject << 4 << true << 0 << 0;
        QTest::newRow("reject off") << "reject off" << Verb::Reject << 0 << true << 0 << 0;
        QTest::newRow("return-stacked on")
            << "return-stacked on" << Verb::ReturnStacked << 0 << true << 0 << 0;
        QTest::newRow("return-stacked off")
            << "return-stacked off" << Verb::ReturnStacked << 0 << false << 0 << 0;
        QTest::newRow("truncate") << "truncate 5" << Verb::Truncate << 5 << true << 0 << 0;
        QTest::newRow("truncate off") << "truncate off" << Verb::Truncate << 0 << true << 0 << 0;
        QTest::newRow("corrupt on") << "corrupt on" << Verb::Corrupt << 0 << true << 0 << 0;
        QTest::newRow("corrupt some") << "corrupt 2" << Verb::CorruptNext << 2 << true << 0 << 0;
        QTest::newRow("garbage") << "garbage 4" << Verb::Garbage << 4 << true << 0 << 0;
        QTest::newRow("paced off") << "paced off" << Verb::Paced << 0 << false << 0 << 0;
        QTest::newRow("unplug") << "unplug 3s" << Verb::Unplug << 0 << true << 3000 << 0;
        QTest::newRow("noise") << "noise 32 every 5" << Verb::Noise << 32 << true << 0 << 5;
        QTest::newRow("noise off") << "noise off" << Verb::Noise << 0 << true << 0 << 0;
        QTest::newRow("tally") << "tally" << Verb::Tally << 0 << true << 0 << 0;
        QTest::newRow("status") << "status" << Verb::Status << 0 << true << 0 << 0;
        QTest::newRow("quit") << "quit" << Verb::Quit << 0 << true << 0 << 0;
    }
    void readsEachCommand()
    {
        QFETCH(QString, line);
        QFETCH(Verb, verb);
        QFETCH(int, number);
        QFETCH(bool, on);
        QFETCH(int, ms);
        QFETCH(int, every);
        const ParsedLine p = parseCommand(line.toStdString());
        QVERIFY2(p.command.has_value(), p.error.c_str());
        QCOMPARE(p.command->verb, verb);
        QCOMPARE(p.command->number, number);
        QCOMPARE(p.command->on, on);
        QCOMPARE(p.command->time, Ms{ms});
        QCOMPARE(p.command->every, every);
    }

    void refusesWhatItCannotDo_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown word") << "dance";
        QTest::newRow("bill 0") << "insert 0";
        QTest::newRow("bill 8") << "insert 8";
        QTest::newRow("no bill") << "insert";
        QTest::newRow("not a number") << "insert three";
        QTest::newRow("trailing junk") << "insert 3x";
        QTest::newRow("too many words") << "jam now";
        QTest::newRow("negative wait") << "wait -1s";
        QTest::newRow("unit unknown") << "wait 5min";
        QTest::newRow("wait without a unit") << "wait 2";
        QTest::newRow("silent without a unit") << "silent 2";
        QTest::newRow("step without a unit") << "step 300";
        QTest::newRow("unplug without a unit") << "unplug 3";
        QTest::newRow("late for no replies") << "late 300 0";
        QTest::newRow("late off for some") << "late off 2";
        QTest::newRow("queue with no switch") << "queue";
        QTest::newRow("sticky below none") << "sticky -1";
        QTest::newRow("reject no bill") << "reject 0";
        QTest::newRow("reject bill 8") << "reject 8";
        QTest::newRow("return-stacked with no switch") << "return-stacked";
        QTest::newRow("cassette half") << "cassette maybe";
        QTest::newRow("whole reply is no truncation") << "truncate 11";
        QTest::newRow("corrupt nothing") << "corrupt 0";
        QTest::newRow("unplug for no time given") << "unplug";
        QTest::newRow("noise without a rate") << "noise 8";
        QTest::newRow("noise of no bytes") << "noise 0 every 5";
        QTest::newRow("noise beyond its most") << "noise 1001 every 1";
        QTest::newRow("noise never") << "noise 8 every 0";
        QTest::newRow("noise misspelt") << "noise 8 each 2";
        QTest::newRow("deck of nothing") << "deck";
        QTest::newRow("deck of bill 8") << "deck 8x3";
        QTest::newRow("deck of no notes") << "deck 3x0";
        QTest::newRow("deck chance over a whole") << "deck 3x2 refuse 101%";
        QTest::newRow("deck chance without its value") << "deck 3x2 jam";
        QTest::newRow("deck chance unknown") << "deck 3x2 smudge 5%";
        QTest::newRow("deck group after its chances") << "deck 3x2 jam 1% 5x2!";
    }

    void readsADeckGroupByGroupWithItsChances_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("groups"); // bill x notes, ! for notes to be refused
        QTest::addColumn<double>("refuse");
        QTest::addColumn<double>("jam");
        QTest::addColumn<double>("falseTaken");
        QTest::addColumn<int>("seed");
        QTest::newRow("one group, no chances") << "deck 3x10"
                                               << "3x10" << 0.0 << 0.0 << 0.0 << 1;
        QTest::newRow("groups to take and to refuse, every chance, a seed")
            << "deck 1x3 3x3 5x2! refuse 5% jam 1% false 2.5% seed 7"
            << "1x3 3x3 5x2!" << 5.0 << 1.0 << 2.5 << 7;
        QTest::newRow("a chance without its sign") << "deck 2x1 jam 50"
                                                   << "2x1" << 0.0 << 50.0 << 0.0 << 1;
    }
    void readsADeckGroupByGroupWithItsChances()
    {
        QFETCH(QString, line);
        QFETCH(QString, groups);
        QFETCH(double, refuse);
        QFETCH(double, jam);
        QFETCH(double, falseTaken);
        QFETCH(int, seed);
        const ParsedLine p = parseCommand(line.toStdString());
        QVERIFY2(p.command.has_value(), p.error.c_str());
        QCOMPARE(p.command->verb, Verb::Deck);
        QStringList read;
        for (const DeckGroup& g : p.command->deck.groups)
            read << QStringLiteral("%1x%2%3").arg(g.bill).arg(g.notes).arg(g.mustRefuse ? "!" : "");
        QCOMPARE(read.join(' '), groups);
        QCOMPARE(p.command->deck.refusePercent, refuse);
        QCOMPARE(p.command->deck.jamPercent, jam);
        QCOMPARE(p.command->deck.falsePercent, falseTaken);
        QCOMPARE(int(p.command->deck.seed), seed);
    }
    void refusesWhatItCannotDo()
    {
        QFETCH(QString, line);
        const ParsedLine p = parseCommand(line.toStdString());
        QVERIFY(!p.command.has_value());
        QVERIFY(!p.error.empty());
    }

    void lateAsksForMillisecondsAsItsHelpSays()
    {
        const ParsedLine p = parseCommand("late soon");
        QVERIFY2(p.error.find("milliseconds") != std::string::npos, p.error.c_str());
    }

    void blankLinesAndCommentsAreNoCommandAndNoError()
    {
        for (const char* line : {"", "   ", "# a scenario", "\t# indented"}) {
            const ParsedLine p = parseCommand(line);
            QVERIFY(!p.command.has_value());
            QVERIFY(p.error.empty());
        }
    }

    void splitsLinesTheSameHoweverTheBytesArrive_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("lines"); // "long N" for line N given as too long
        QTest::addColumn<bool>("text");
        const QByteArray most(4096, 'a');
        QTest::newRow("blank and unended lines")
            << QByteArray("insert 1\r\n\nquit") << QStringList{"insert 1\r", "", "quit"} << true;
        QTest::newRow("4 KiB is a line") << most + "\nb\n" << QStringList{most, "b"} << true;
        QTest::newRow("a byte more is too long, once") << most + "aa\nb\n"
                                                       << QStringList{"long 1", "b"} << true;
        QTest::newRow("a NUL byte ends the text")
            << QByteArray("a\nb\0c\nd\n", 8) << QStringList{"a"} << false;
        QTest::newRow("1 MiB without a newline ends the text") << QByteArray(1 << 20, 'a') + "\nb\n"
                                                               << QStringList{"long 1"} << false;
    }
    void splitsLinesTheSameHoweverTheBytesArrive()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, lines);
        QFETCH(bool, text);
        for (const qsizetype chunk : {qsizetype{1}, qsizetype{7}, stream.size()}) {
            LineSplitter splitter;
            QStringList got;
            bool numbered = true;
            const auto take = [&](const LineSplitter::Line& line) {
                numbered = numbered && line.number == std::size_t(got.size() + 1);
                got << (line.tooLong ? QString("long %1").arg(line.number)
                                     : QString::fromStdString(line.text));
                return true;
            };
            for (qsizetype at = 0; at < stream.size() && !splitter.notText(); at += chunk)
                splitter.feed(std::string_view(stream.constData() + at,
                                               std::size_t(std::min(chunk, stream.size() - at))),
                              take);
            splitter.finish(take);
            QCOMPARE(got, lines);
            QVERIFY(numbered);
            QCOMPARE(!splitter.notText(), text);
        }
    }

    void quotesAtMostEightyBytesAndNoControlBytes()
    {
        QCOMPARE(excerpt("insert 9"), std::string("'insert 9'"));
        QCOMPARE(excerpt(std::string(81, 'x')), "'" + std::string(80, 'x') + "'...");
        QCOMPARE(excerpt("a\x1b[2Jb"), std::string("'a?[2Jb'"));
    }

    void helpListsEveryCommandAndFault()
    {
        const std::string help = commandHelp();
        for (const char* word :
             {"insert", "cheat",  "jam",      "failure", "full",    "cassette",      "invalid",
              "clear",  "power",  "step",     "wait",    "tally",   "status",        "quit",
              "silent", "late",   "truncate", "corrupt", "garbage", "paced",         "unplug",
              "noise",  "sticky", "queue",    "deaf",    "reject",  "return-stacked"})
            QVERIFY2(help.find(std::string("\n  ") + word) != std::string::npos, word);
    }
};

QTEST_APPLESS_MAIN(SimCommandsTest)
#include "tst_simcommands.moc"
