#include "acceptorserver.h"
#include "simtestkit.h"

#include <QTemporaryDir>
#include <QTest>
#include <pty.h>
#include <sys/stat.h>
#include <thread>

using namespace kora::sim;
using namespace simtest;

namespace {

ServerOptions fastSteps()
{
    ServerOptions o;
    o.stepTime = Ms{20};
    return o;
}

bool isGoodReply(const Bytes& r, int ack)
{
    if (r.size() != 11)
        return false;
    for (std::uint8_t b : r)
        if (b >= 0x80)
            return false;
    return r[0] == 0x02 && r[1] == 0x0B && r[2] == (0x20 | ack) && r[9] == 0x03 &&
           r[10] == replyChecksum(r);
}

std::string linkTarget(const std::string& path)
{
    char buf[256] = {};
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string{} : std::string(buf, std::size_t(n));
}

bool exists(const std::string& path)
{
    struct stat st
    {};
    return ::lstat(path.c_str(), &st) == 0;
}

Ms since(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<Ms>(to - from);
}

} // namespace

class SimServerTest : public QObject
{
    Q_OBJECT

private slots:
    void repliesOnThePtyHaveTheLayoutAndChecksumOfTheMessagesAck()
    {
        AcceptorServer server(fastSteps());
        QVERIFY(server.devicePath().starts_with("/dev/pts/"));
        PtyClient host(server.devicePath());
        QVERIFY(host.isOpen());
        for (int ack : {0, 1, 0}) {
            const Bytes r = host.exchange(hostMessage(ack));
            QVERIFY2(isGoodReply(r, ack), hexText(r).c_str());
        }
        QCOMPARE(server.messagesServed(), std::uint64_t{3});
        QCOMPARE(server.repliesSent(), std::uint64_t{3});
    }

    void controlCharactersPassUntranslatedToAHostThatSetsNothing()
    {
        // Every message holds 02 and 03 (^C); these add 11 (XON) and 13
        // (XOFF), and 0D (CR): a line left cooked would eat or change them.
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath(), /*configureRaw=*/false);
        const Bytes flowControl = hostMessage(1, 0x13, 0x10);
        QCOMPARE(flowControl[2], std::uint8_t{0x11});
        const Bytes r = host.exchange(flowControl);
        QVERIFY2(isGoodReply(r, 1), hexText(r).c_str());
        const Bytes r2 = host.exchange(hostMessage(0, 0x0D, 0x00));
        QVERIFY2(isGoodReply(r2, 0), hexText(r2).c_str());
        QCOMPARE(server.counters().discardedBytes, std::uint64_t{0});
    }

    void aSilentAcceptorSendsNothingAndTheHostsRepeatGetsTheReplyLater()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        server.setSilent(true);
        host.send(hostMessage(0));
        QVERIFY(host.readFor(Ms{300}).empty());
        QCOMPARE(server.counters().silenced, std::uint64_t{1});
        server.setSilent(false);
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
        QCOMPARE(server.counters().repeats, std::uint64_t{1});
    }

    void aSilenceForAWhileEndsByItself()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command("silent 250ms").ok);
        host.send(hostMessage(0));
        QVERIFY(host.readFor(Ms{150}).empty());
        QTest::qWait(150);
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
    }

    void aLateReplyArrivesAfterTheDelay()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        server.setLate(Ms{150});
        host.send(hostMessage(0));
        QVERIFY(host.readFor(Ms{100}).empty());
        const Bytes r = host.read(11, Ms{2000});
        QVERIFY(isGoodReply(r, 0));
        QVERIFY(since(host.sentAt(), host.lastByteAt()) >= Ms{150});
    }

    void repliesHeldLateGoNoLaterThanTheNewDelaySays_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("released");
        QTest::newRow("off") << "late off" << true;
        QTest::newRow("shorter") << "late 100ms" << true;
        QTest::newRow("longer") << "late 5s" << false;
    }
    void repliesHeldLateGoNoLaterThanTheNewDelaySays()
    {
        QFETCH(QString, command);
        QFETCH(bool, released);
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        server.setLate(Ms{2000});
        host.send(hostMessage(0));
        host.send(hostMessage(1));
        QVERIFY(host.readFor(Ms{100}).empty());
        QVERIFY(server.command(command.toStdString()).ok);
        const Bytes got = host.readFor(Ms{300});
        QCOMPARE(got.size(), std::size_t(released ? 22 : 0));
        if (released) {
            QVERIFY(isGoodReply(Bytes(got.begin(), got.begin() + 11), 0));
            QVERIFY(isGoodReply(Bytes(got.begin() + 11, got.end()), 1));
        }
    }

    void aReplyLateForTheNextPollsLandsInTheHostsNextWaitThenRepliesAreOnTime()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command("late 800 1").ok);
        host.send(hostMessage(0));
        const auto firstSent = host.sentAt();
        QVERIFY(host.readFor(Ms{400}).empty()); // the host gives up and polls anew
        host.send(hostMessage(1));
        const Bytes both = host.read(22, Ms{3000});
        QCOMPARE(both.size(), std::size_t{22});
        // The late reply was neither dropped nor moved by the poll after it,
        // and that poll's own reply waited behind it.
        QVERIFY2(isGoodReply(Bytes(both.begin(), both.begin() + 11), 0), hexText(both).c_str());
        QVERIFY2(isGoodReply(Bytes(both.begin() + 11, both.end()), 1), hexText(both).c_str());
        QVERIFY(since(firstSent, host.firstByteAt()) >= Ms{800});
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
        QVERIFY(since(host.sentAt(), host.lastByteAt()) < Ms{600});
    }

    void deafMessagesGetNoReplyAndNeverReachTheAcceptor()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command("deaf 2").ok);
        for (int ack : {0, 1}) {
            host.send(hostMessage(ack));
            QVERIFY(host.readFor(Ms{200}).empty());
        }
        QCOMPARE(server.counters().unheard, std::uint64_t{2});
        QCOMPARE(server.counters().messages, std::uint64_t{0});
        QVERIFY(server.status().find("2 unheard") != std::string::npos);
        // The acceptor never saw the last bit 1: the same bit again is news.
        QVERIFY(isGoodReply(host.exchange(hostMessage(1)), 1));
        QCOMPARE(server.counters().repeats, std::uint64_t{0});
    }

    void inQueueModeAStackOrdersReplyComesLateWithTheNextRightBehindAndNoRepeats()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command("queue on").ok);
        QVERIFY(server.command("insert 3").ok);
        int ack = 0;
        for (int poll = 0; poll < 40; ++poll, ack ^= 1) {
            const Bytes r = host.exchange(hostMessage(ack));
            if (r.size() == 11 && (r[3] & 0x04))
                break;
            QTest::qWait(10);
        }
        ack ^= 1;
        host.send(hostMessage(ack, 0x7F, EscrowMode | StackOrder));
        const auto orderSent = host.sentAt();
        host.send(hostMessage(ack)); // the same bit: a repeat to any other acceptor
        QVERIFY(host.readFor(Ms{600}).empty());
        const Bytes both = host.read(22, Ms{3000});
        QCOMPARE(both.size(), std::size_t{22});
        const Bytes late(both.begin(), both.begin() + 11);
        const Bytes next(both.begin() + 11, both.end());
        QVERIFY2(isGoodReply(late, ack) && isGoodReply(next, ack), hexText(both).c_str());
        QCOMPARE(late[3], std::uint8_t{0x04}); // escrowed, as when the order came
        QCOMPARE(creditOf(late), 3);
        QVERIFY(!(next[3] & 0x04));
        QVERIFY(since(orderSent, host.firstByteAt()) >= Ms{900});
        QVERIFY(since(host.firstByteAt(), host.lastByteAt()) < Ms{500}); // no second wait
        QCOMPARE(server.counters().repeats, std::uint64_t{0});
    }

    void aTruncatedReplyStopsAfterKBytes()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        server.setTruncate(5);
        host.send(hostMessage(1));
        const Bytes r = host.readFor(Ms{250});
        QCOMPARE(r.size(), std::size_t{5});
        QCOMPARE(r, (Bytes{0x02, 0x0B, 0x21, 0x01, 0x10}));
    }

    void aCorruptReplyHasAWrongLastByteAndTheRepeatIsGood()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command("corrupt 1").ok);
        const Bytes bad = host.exchange(hostMessage(0));
        QCOMPARE(bad.size(), std::size_t{11});
        QVERIFY(bad[10] != replyChecksum(bad));
        const Bytes again = host.exchange(hostMessage(0));
        QVERIFY(isGoodReply(again, 0));
        QCOMPARE(Bytes(again.begin(), again.begin() + 10), Bytes(bad.begin(), bad.begin() + 10));
        server.setCorrupt(true);
        QVERIFY(!isGoodReply(host.exchange(hostMessage(1)), 1));
        QVERIFY(!isGoodReply(host.exchange(hostMessage(0)), 0));
    }

    void garbageComesAheadOfTheReply()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        server.setGarbage(4);
        host.send(hostMessage(0));
        const Bytes got = host.readFor(Ms{250});
        QCOMPARE(got.size(), std::size_t{15});
        QVERIFY(isGoodReply(Bytes(got.begin() + 4, got.end()), 0));
    }

    void pacedRepliesTakeTheLineTimeOfElevenBytes()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.faults().paced);
        for (int ack : {0, 1, 0}) {
            const Bytes r = host.exchange(hostMessage(ack));
            QVERIFY(isGoodReply(r, ack));
            // Eleven bytes at 1.04 ms cannot all be there sooner.
            QVERIFY(since(host.sentAt(), host.lastByteAt()) >= Ms{10});
        }
    }

    void unpacedRepliesArriveAtOnce()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        server.setPaced(false);
        auto fastest = Ms{1000};
        for (int i = 0; i < 5; ++i) {
            const Bytes r = host.exchange(hostMessage(i % 2));
            QVERIFY(isGoodReply(r, i % 2));
            fastest = std::min(fastest, since(host.sentAt(), host.lastByteAt()));
        }
        QVERIFY2(fastest < Ms{5}, std::to_string(fastest.count()).c_str());
    }

    void lineNoiseFromTheHostIsSkipped()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        host.send({0x7F, 0x02, 0x55, 0x02, 0x08, 0x10});
        QVERIFY(isGoodReply(host.exchange(hostMessage(1)), 1));
        QCOMPARE(server.counters().messages, std::uint64_t{1});
        QVERIFY(server.counters().discardedBytes >= 3);
    }

    void lastReplyEndFallsBetweenSendingAndReceiving()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QCOMPARE(server.lastReplyEnd(), Clock::time_point{});
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));
        QVERIFY(server.lastReplyEnd() > host.sentAt());
        QVERIFY(server.lastReplyEnd() <= host.lastByteAt());
    }

    void aBillInsertedByCommandIsStackedAndCountedOnceOverTheLine()
    {
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command("insert 4").ok);
        int ack = 0;
        int stackedReplies = 0;
        int idleAfter = 0;
        bool escrowed = false;
        for (int poll = 0; poll < 60 && idleAfter < 3; ++poll) {
            const Bytes r = host.exchange(hostMessage(ack, 0x7F, escrowed ? 0x30 : 0x10));
            QVERIFY(isGoodReply(r, ack));
            escrowed = r[3] & 0x04;
            if ((r[3] & 0x10) && creditOf(r) == 4)
                ++stackedReplies;
            else if (stackedReplies > 0)
                ++idleAfter;
            ack ^= 1;
            QTest::qWait(10);
        }
        QCOMPARE(stackedReplies, 1);
        QCOMPARE(server.tally().of(4), 1);
        QCOMPARE(server.tally().total(), 1);
    }

    void closingTheLinkHangsUpTheHostAndReopeningMovesTheSymlink()
    {
        QTemporaryDir dir;
        const std::string link = dir.filePath("acceptor").toStdString();
        ServerOptions o = fastSteps();
        o.symlink = link;
        {
            AcceptorServer server(o);
            QCOMPARE(linkTarget(link), server.devicePath());
            PtyClient host(link);
            QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));

            server.closeLink();
            QVERIFY(!server.linkOpen());
            QVERIFY(server.devicePath().empty());
            host.read(1, Ms{500});
            QVERIFY(host.hungUp());
            QVERIFY(!exists(link));

            const std::string fresh = server.reopenLink();
            QVERIFY(fresh.starts_with("/dev/pts/"));
            QCOMPARE(linkTarget(link), fresh);
            PtyClient again(link);
            QVERIFY(isGoodReply(again.exchange(hostMessage(1)), 1));
        }
        QVERIFY(!exists(link));
    }

    void anUnplugHangsUpTheHostAtOnceAndComesBackOnItsOwn()
    {
        QTemporaryDir dir;
        const std::string link = dir.filePath("acceptor").toStdString();
        ServerOptions o = fastSteps();
        o.symlink = link;
        AcceptorServer server(o);
        PtyClient host(link);
        QVERIFY(isGoodReply(host.exchange(hostMessage(0)), 0));

        const auto start = Clock::now();
        QVERIFY(server.command("unplug 300ms").ok);
        QVERIFY(since(start, Clock::now()) < Ms{100});
        QVERIFY(!server.linkOpen());
        QVERIFY(!exists(link));
        QVERIFY(server.faults().text(Clock::now()).find("unplugged for") != std::string::npos);
        host.read(1, Ms{500});
        QVERIFY(host.hungUp());

        while (!exists(link) && since(start, Clock::now()) < Ms{1500})
            std::this_thread::sleep_for(Ms{5});
        const Ms back = since(start, Clock::now());
        QVERIFY2(back >= Ms{290} && back < Ms{1000}, std::to_string(back.count()).c_str());
        QVERIFY(server.linkOpen());
        QCOMPARE(linkTarget(link), server.devicePath());
        // The acceptor kept its last reply: the host's repeat gets it again.
        PtyClient again(link);
        QVERIFY(isGoodReply(again.exchange(hostMessage(0)), 0));
        QCOMPARE(server.counters().repeats, std::uint64_t{1});
    }

    void noiseComesBetweenRepliesOnceEveryKPolls_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("polls");
        QTest::addColumn<int>("bytes");
        QTest::newRow("after every reply") << "noise 8 every 1" << 3 << 3 * 11 + 3 * 8;
        QTest::newRow("after every second reply") << "noise 5 every 2" << 4 << 4 * 11 + 2 * 5;
    }
    void noiseComesBetweenRepliesOnceEveryKPolls()
    {
        QFETCH(QString, command);
        QFETCH(int, polls);
        QFETCH(int, bytes);
        AcceptorServer server(fastSteps());
        PtyClient host(server.devicePath());
        QVERIFY(server.command(command.toStdString()).ok);
        QVERIFY(server.faults().text(Clock::now()).find(command.toStdString()) !=
                std::string::npos);
        std::size_t received = 0;
        for (int i = 0; i < polls; ++i) {
            host.send(hostMessage(i % 2));
            // A burst is due at most 120 ms after its reply, never ahead of it.
            const Bytes got = host.readFor(Ms{250});
            QVERIFY(got.size() >= 11);
            QVERIFY2(isGoodReply(Bytes(got.begin(), got.begin() + 11), i % 2),
                     hexText(got).c_str());
            QVERIFY(std::all_of(got.begin(), got.end(), [](std::uint8_t b) { return b < 0x80; }));
            received += got.size();
        }
        QCOMPARE(received, std::size_t(bytes));
        QCOMPARE(server.counters().replies, std::uint64_t(polls));
    }

    void servesAGivenDeviceInsteadOfANewPty()
    {
        // A pty pair of the test's own stands in for a serial line: the
        // simulator takes the slave as its device, the host uses the master.
        int master = -1;
        int slave = -1;
        char name[256] = {};
        QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
        ServerOptions o = fastSteps();
        o.device = name;
        {
            AcceptorServer server(o);
            QCOMPARE(server.devicePath(), std::string(name));
            const Bytes message = hostMessage(1);
            QCOMPARE(::write(master, message.data(), message.size()), ssize_t(message.size()));
            Bytes r(11);
            std::size_t got = 0;
            for (int i = 0; i < 100 && got < r.size(); ++i) {
                pollfd p{master, POLLIN, 0};
                if (::poll(&p, 1, 10) > 0)
                    got +=
                        std::size_t(std::max<ssize_t>(0, ::read(master, &r[got], r.size() - got)));
            }
            QVERIFY2(isGoodReply(r, 1), hexText(r).c_str());
        }
        ::close(master);
        ::close(slave);
    }

    void aSymlinkPathHoldingAFileIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("taken");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        ServerOptions o;
        o.symlink = path.toStdString();
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, AcceptorServer{o});
    }

    void commandsAnswerWithTextOrAReason()
    {
        AcceptorServer server(fastSteps());
        QVERIFY(server.command("tally").message.starts_with("tally: bill1=0"));
        QVERIFY(server.command("status").message.find("idling") != std::string::npos);
        QVERIFY(server.command("help").message.find("garbage") != std::string::npos);
        QVERIFY(server.command("quit").quit);
        const CommandResult bad = server.command("insert 9");
        QVERIFY(!bad.ok);
        QVERIFY(!bad.message.empty());
        QVERIFY(server.command("late 600").ok);
        QCOMPARE(server.faults().late, Ms{600});
        QVERIFY(server.command("paced off").ok);
        QVERIFY(!server.faults().paced);
    }

    void aWaitCommandEndsWhenTheServerStops()
    {
        AcceptorServer server(fastSteps());
        const auto start = Clock::now();
        std::thread stopper([&server] {
            std::this_thread::sleep_for(Ms{100});
            server.stop();
        });
        server.command("wait 10s");
        stopper.join();
        QVERIFY(since(start, Clock::now()) < Ms{5000});
        QVERIFY(server.stopped());
    }
};

QTEST_GUILESS_MAIN(SimServerTest)
#include "tst_simserver.moc"
