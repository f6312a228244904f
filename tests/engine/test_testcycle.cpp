// The channel test cycle against a fake clock, a fake link and the real communication log:
// minutes of modem dialogue are played tick by tick.
#include "engine/TestCycle.h"
#include "links/CommLog.h"
#include "mock/MockClock.h"

#include <QTest>
#include <functional>
#include <map>

namespace {
const QString kCh1 = QStringLiteral("София -- Център  1 Ch. --> #80011");
const QString kCh2 = QStringLiteral("София -- Център  2 Ch. --> #80012");
const QString kCh3 = QStringLiteral("Варна -- Изток  1 Ch. --> *80013");

struct Sent {
    int tick;
    QByteArray bytes;
};
struct Rec {
    QString key, answer;
    int delay;
    QDateTime when;
};

// A link and a modem: what is sent is noted with its tick; the modem echoes the dial and
// answers after a number of ticks from a script keyed by the dial string.
class Rig : public ModemPort {
public:
    MockClock clock;
    CommLog log;
    bool stop = false;
    QString pause = QStringLiteral("3");
    bool connected = true; // a TCP link that is not connected drops what is sent
    QList<Sent> sent;
    QList<Rec> recs;
    std::map<QString, std::pair<int, QByteArray>> answers; // dial string -> ticks later, bytes
    QByteArray hangupAnswer = "\r\nOK\r\n";
    int hangupTicks = 2;
    std::unique_ptr<TestCycle> cycle;
    TestCycle::Step last;

    void make(QStringList channels, bool init = false) {
        TestCycle::Settings s;
        s.sendInit = init;
        s.initString = QStringLiteral("atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0");
        s.speedString = QStringLiteral("at+MS=v34,1,2400,12000");
        s.pauseText = [this] { return pause; };
        cycle = std::make_unique<TestCycle>(
            channels, clock, *this, log, stop, s,
            [this](const QString& k, const QString& a, int d, const QDateTime& w) {
                recs.append({k, a, d, w});
            });
    }
    void send(const QByteArray& bytes) override {
        if (!connected)
            return;
        const int now = cycle->tickCount();
        sent.append({now, bytes});
        if (bytes.startsWith("atdt")) {
            log.append(bytes); // the echo, CR included
            const QString dial = QString::fromLatin1(bytes.mid(4).chopped(1));
            if (auto it = answers.find(dial); it != answers.end())
                pending.insert(now + it->second.first, it->second.second);
        } else if (bytes == "+++ath0\r") {
            pending.insert(now + hangupTicks, hangupAnswer);
        }
    }
    // One 200 ms tick; the modem's bytes due by then arrive first.
    TestCycle::Step tick() {
        clock.advanceMs(200);
        const int next = cycle->tickCount() + 1;
        for (auto it = pending.begin(); it != pending.end();) {
            if (it.key() <= next) {
                log.append(it.value());
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        last = cycle->tick();
        return last;
    }
    // Ticks until the cycle reaches the tick number, or the run ends.
    void tickTo(int n) {
        while (cycle->tickCount() < n && last.end == TestCycle::End::None)
            tick();
    }
    QList<Sent> sentStarting(const char* prefix) const {
        QList<Sent> out;
        for (const Sent& s : sent)
            if (s.bytes.startsWith(prefix))
                out.append(s);
        return out;
    }

private:
    QMultiMap<int, QByteArray> pending;
};
} // namespace

class TestTestCycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void busyChannelEndsInItsOwnTick();
    void connectHoldHangupAndPause();
    void answerDelaysCountTicks_data();
    void answerDelaysCountTicks();
    void lateTimerDoesNotShortenDelay();
    void incompleteAnswerLineIsRecorded();
    void timeoutCheckedBeforeLateAnswer();
    void hangupTimeoutFromConnect();
    void lineWithoutArrowDialsFromFourthChar();
    void stopInEachState_data();
    void stopInEachState();
    void initStringsOnAndOff();
    void unconnectedLinkNeverSendsInitLater();
    void emptyTaskAndBadPause();
    void pauseIsReadEveryTickAndWallClockJumpsIgnored();
};

void TestTestCycle::busyChannelEndsInItsOwnTick() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {3, "\r\nBUSY\r\n"};
    r.make({kCh1});
    for (int t = 1; t < 20; ++t) {
        QCOMPARE(r.tick().shownState, 0);
        QCOMPARE(r.last.gauge, -1);
    }
    QVERIFY(r.sent.isEmpty());
    r.tick(); // tick 20: the first dial
    QCOMPARE(r.sent.size(), 1);
    QCOMPARE(r.sent[0].tick, 20);
    QCOMPARE(r.sent[0].bytes, QByteArray("atdt#80011\r"));
    QCOMPARE(r.cycle->state(), TestCycle::AwaitAnswer);
    QCOMPARE(r.last.gauge, 0);
    r.tick();
    r.tick();
    QCOMPARE(r.last.end, TestCycle::End::None);
    QCOMPARE(r.tick().shownState, 1); // tick 23: the answer
    QCOMPARE(r.recs.size(), 1);
    QCOMPARE(r.recs[0].key, kCh1);
    QCOMPARE(r.recs[0].answer, QStringLiteral("BUSY"));
    QCOMPARE(r.recs[0].delay, 60);
    QCOMPARE(r.recs[0].when, r.clock.now());
    QCOMPARE(r.last.end, TestCycle::End::Normal);
    QVERIFY(r.last.message.isEmpty());
    QCOMPARE(r.last.gauge, 100);
    QCOMPARE(r.cycle->channelIndex(), 1);
}

void TestTestCycle::connectHoldHangupAndPause() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {5, "\r\nCONNECT 2400/ARQ\r\n"};
    r.answers[QStringLiteral("#80012")] = {1, "\r\nNO CARRIER\r\n"};
    r.pause = QStringLiteral("3");
    r.make({kCh1, kCh2});
    r.tickTo(25);
    QCOMPARE(r.recs.size(), 1);
    QCOMPARE(r.recs[0].answer, QStringLiteral("CONNECT 2400/ARQ"));
    QCOMPARE(r.recs[0].delay, 100);
    QCOMPARE(r.cycle->state(), TestCycle::HoldConnection);
    QCOMPARE(r.cycle->channelIndex(), 0);
    QCOMPARE(r.last.gauge, 0);
    // Held until more than 10 s have passed: 55 ticks of 200 ms after the answer.
    r.tickTo(79);
    QVERIFY(r.sentStarting("+++").isEmpty());
    QCOMPARE(r.tick().shownState, 2);
    QCOMPARE(r.sentStarting("+++").size(), 1);
    QCOMPARE(r.sentStarting("+++")[0].bytes, QByteArray("+++ath0\r"));
    QCOMPARE(r.sentStarting("+++")[0].tick, 80);
    QCOMPARE(r.cycle->state(), TestCycle::AwaitHangup);
    r.tick();
    QCOMPARE(r.cycle->state(), TestCycle::AwaitHangup);
    r.tick(); // tick 82: OK arrives, the pause begins
    QCOMPARE(r.cycle->state(), TestCycle::Pause);
    QCOMPARE(r.cycle->channelIndex(), 1);
    QCOMPARE(r.last.gauge, 50);
    QCOMPARE(r.recs.size(), 1);
    // Pause 3: over once more than 3 s have passed (20 ticks), the dial on the tick after.
    r.tickTo(101);
    QCOMPARE(r.cycle->state(), TestCycle::Pause);
    r.tick();
    QCOMPARE(r.cycle->state(), TestCycle::Dial);
    QCOMPARE(r.sentStarting("atdt").size(), 1);
    r.tick();
    QCOMPARE(r.sentStarting("atdt").size(), 2);
    QCOMPARE(r.sentStarting("atdt")[1].tick, 103);
    r.tick();
    QCOMPARE(r.recs.size(), 2);
    QCOMPARE(r.recs[1].answer, QStringLiteral("NO CARRIER"));
    QCOMPARE(r.recs[1].delay, 20);
    QCOMPARE(r.last.end, TestCycle::End::Normal); // no pause after the last channel
}

void TestTestCycle::answerDelaysCountTicks_data() {
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("delay");
    QTest::newRow("next tick") << 1 << 20;
    QTest::newRow("ten ticks") << 10 << 200;
    QTest::newRow("last before the time-out") << 900 << 18000;
}

void TestTestCycle::answerDelaysCountTicks() {
    QFETCH(int, ticks);
    QFETCH(int, delay);
    Rig r;
    r.answers[QStringLiteral("#80011")] = {ticks, "\r\nBUSY\r\n"};
    r.make({kCh1});
    r.tickTo(20 + ticks);
    QCOMPARE(r.recs.size(), 1);
    QCOMPARE(r.recs[0].delay, delay);
    QCOMPARE(r.last.end, TestCycle::End::Normal);
}

void TestTestCycle::lateTimerDoesNotShortenDelay() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {3, "\r\nBUSY\r\n"};
    r.make({kCh1});
    r.tickTo(21);
    r.clock.advanceMs(1000); // the machine was busy: the timer fell 5 ticks behind
    r.tickTo(23);
    QCOMPARE(r.recs.size(), 1);
    QCOMPARE(r.recs[0].delay, 160); // 1.6 s of clock time, not 3 ticks
    // A tick a little early or late does not change the count.
    Rig j;
    j.answers[QStringLiteral("#80011")] = {2, "\r\nBUSY\r\n"};
    j.make({kCh1});
    j.tickTo(21);
    j.clock.advanceMs(-60);
    j.tickTo(22);
    QCOMPARE(j.recs[0].delay, 40);
}

void TestTestCycle::incompleteAnswerLineIsRecorded() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {2, "\r\nNO CARR"};
    r.make({kCh1});
    r.tickTo(22);
    QCOMPARE(r.recs.size(), 1);
    QCOMPARE(r.recs[0].answer, QStringLiteral("NO CARR"));
}

void TestTestCycle::timeoutCheckedBeforeLateAnswer() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {901, "\r\nBUSY\r\n"};
    r.make({kCh1, kCh2});
    r.tickTo(920);
    QCOMPARE(r.last.end, TestCycle::End::None);
    QCOMPARE(r.cycle->state(), TestCycle::AwaitAnswer);
    r.tick(); // 901 ticks after the dial: the answer has just arrived, but too late
    QCOMPARE(r.last.end, TestCycle::End::Error);
    QCOMPARE(r.last.message, TestCycle::kModemFailed);
    QCOMPARE(r.last.gauge, -1);
    QVERIFY(r.recs.isEmpty());

    // A loaded machine handles a tick every 400 ms: the time-out comes by the clock, as the
    // delay is measured, so no delay above 180 s is ever recorded.
    Rig slow;
    slow.answers[QStringLiteral("#80011")] = {460, "\r\nBUSY\r\n"};
    slow.make({kCh1});
    slow.tickTo(20);
    while (slow.last.end == TestCycle::End::None) {
        slow.clock.advanceMs(200);
        slow.tick();
    }
    QCOMPARE(slow.last.end, TestCycle::End::Error);
    QCOMPARE(slow.cycle->tickCount(), 20 + 451);
    QVERIFY(slow.recs.isEmpty());

    // An answer on the last tick allowed: the clock moving on between two readings in that
    // tick must not give a delay beyond the time-out.
    Rig edge;
    edge.answers[QStringLiteral("#80011")] = {900, "\r\nBUSY\r\n"};
    edge.make({kCh1});
    edge.tickTo(919);
    edge.clock.creepMs = 150;
    edge.tick();
    QCOMPARE(edge.recs.size(), 1);
    QCOMPARE(edge.recs[0].delay, 18000);
}

void TestTestCycle::hangupTimeoutFromConnect() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {5, "\r\nCONNECT\r\n"};
    r.hangupAnswer = "+++"; // the modem stays in data mode
    r.make({kCh1});
    r.tickTo(129); // 20.8 s after the CONNECT answer at tick 25
    QCOMPARE(r.last.end, TestCycle::End::None);
    r.tick(); // 21 s
    QCOMPARE(r.last.end, TestCycle::End::Error);
    QCOMPARE(r.last.message, TestCycle::kModemFailed);
    QCOMPARE(r.recs.size(), 1);

    // NO CARRIER confirms a hang-up as well as OK.
    Rig n;
    n.answers[QStringLiteral("#80011")] = {5, "\r\nCONNECT\r\n"};
    n.hangupAnswer = "\r\nNO CARRIER\r\n";
    n.make({kCh1});
    n.tickTo(200);
    QCOMPARE(n.last.end, TestCycle::End::Normal);
    QCOMPARE(n.cycle->tickCount(), 82);
}

void TestTestCycle::lineWithoutArrowDialsFromFourthChar() {
    QCOMPARE(TestCycle::dialString(QStringLiteral("abcdefg")), QStringLiteral("defg"));
    QCOMPARE(TestCycle::dialString(QStringLiteral("a --> b --> c")), QStringLiteral("b --> c"));
    Rig r;
    r.make({QStringLiteral("xyz#8001")});
    r.tickTo(20);
    QCOMPARE(r.sent[0].bytes, QByteArray("atdt#8001\r"));
}

void TestTestCycle::stopInEachState_data() {
    QTest::addColumn<int>("stopAtTick");
    QTest::addColumn<int>("recorded");
    QTest::addColumn<int>("endTick");
    // ch1 CONNECT at 25, hang-up 80, OK 82, pause to 102, ch2 dialled 103, BUSY 106, pause...
    QTest::newRow("before the first dial") << 5 << 1 << 82;
    QTest::newRow("awaiting the answer") << 22 << 1 << 82;
    QTest::newRow("holding the call") << 40 << 1 << 82;
    QTest::newRow("awaiting the hang-up") << 81 << 1 << 82;
    QTest::newRow("pausing") << 90 << 2 << 106;
}

void TestTestCycle::stopInEachState() {
    QFETCH(int, stopAtTick);
    QFETCH(int, recorded);
    QFETCH(int, endTick);
    Rig r;
    r.answers[QStringLiteral("#80011")] = {5, "\r\nCONNECT 2400\r\n"};
    r.answers[QStringLiteral("#80012")] = {3, "\r\nBUSY\r\n"};
    r.answers[QStringLiteral("*80013")] = {3, "\r\nBUSY\r\n"};
    r.make({kCh1, kCh2, kCh3});
    r.tickTo(stopAtTick);
    r.stop = true;
    r.tickTo(1000);
    QCOMPARE(r.last.end, TestCycle::End::Normal);
    QCOMPARE(r.cycle->tickCount(), endTick);
    QCOMPARE(r.recs.size(), recorded);
    QCOMPARE(r.sentStarting("atdt").size(), recorded);
    QCOMPARE(r.cycle->channelIndex(), 3);
    QCOMPARE(r.last.gauge, 100);
    QVERIFY(!r.stop);
}

void TestTestCycle::initStringsOnAndOff() {
    Rig on;
    on.make({kCh1}, true);
    on.tickTo(20);
    QCOMPARE(on.sent.size(), 3);
    QCOMPARE(on.sent[0].tick, 2);
    QCOMPARE(on.sent[0].bytes, QByteArray("atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0\r"));
    QCOMPARE(on.sent[1].tick, 6);
    QCOMPARE(on.sent[1].bytes, QByteArray("at+MS=v34,1,2400,12000\r"));
    QCOMPARE(on.sent[2].tick, 20);

    Rig off;
    off.make({kCh1}, false);
    off.tickTo(19);
    QVERIFY(off.sent.isEmpty());
    off.tick();
    QCOMPARE(off.sent.size(), 1);
    QCOMPARE(off.sent[0].tick, 20);
}

void TestTestCycle::unconnectedLinkNeverSendsInitLater() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {2, "\r\nBUSY\r\n"};
    r.connected = false;
    r.make({kCh1}, true);
    r.tickTo(10);
    r.connected = true; // the connection comes up after tick 6
    r.tickTo(30);
    QCOMPARE(r.sent.size(), 1);
    QVERIFY(r.sent[0].bytes.startsWith("atdt"));
    QCOMPARE(r.last.end, TestCycle::End::Normal);

    // Never connected: the dial is skipped and the answer time-out ends the run.
    Rig dead;
    dead.connected = false;
    dead.make({kCh1});
    dead.tickTo(2000);
    QCOMPARE(dead.last.end, TestCycle::End::Error);
    QCOMPARE(dead.cycle->tickCount(), 921);
}

void TestTestCycle::emptyTaskAndBadPause() {
    Rig empty;
    empty.make({});
    empty.tick();
    QCOMPARE(empty.last.end, TestCycle::End::Normal);
    QCOMPARE(empty.last.message, TestCycle::kNoChannels);
    QVERIFY(empty.sent.isEmpty());

    Rig bad;
    bad.answers[QStringLiteral("#80011")] = {2, "\r\nBUSY\r\n"};
    bad.pause = QStringLiteral("2.5");
    bad.make({kCh1, kCh2});
    bad.tickTo(22);
    QCOMPARE(bad.recs.size(), 1);
    QCOMPARE(bad.last.end, TestCycle::End::None);
    bad.tick(); // the first tick of the pause reads it
    QCOMPARE(bad.last.end, TestCycle::End::Normal);
    QCOMPARE(bad.last.message, TestCycle::kPauseNotInteger);
    QCOMPARE(bad.sentStarting("atdt").size(), 1);
}

void TestTestCycle::pauseIsReadEveryTickAndWallClockJumpsIgnored() {
    Rig r;
    r.answers[QStringLiteral("#80011")] = {2, "\r\nBUSY\r\n"};
    r.pause = QStringLiteral("100");
    r.make({kCh1, kCh2});
    r.tickTo(22);                                // BUSY recorded, pause from here
    r.clock.setNow(r.clock.now().addSecs(3600)); // a clock change does not end the pause
    r.tickTo(40);
    QCOMPARE(r.cycle->state(), TestCycle::Pause);
    r.pause = QStringLiteral(" 5 "); // the operator shortens it: more than 5 s after tick 22
    r.tickTo(51);
    QCOMPARE(r.cycle->state(), TestCycle::Pause);
    r.tick(); // 6 s after the answer
    QCOMPARE(r.cycle->state(), TestCycle::Dial);
    QCOMPARE(r.cycle->tickCount(), 52);
}

QTEST_GUILESS_MAIN(TestTestCycle)
#include "test_testcycle.moc"
