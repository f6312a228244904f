// The test cycle over a bank of modems, on a fake clock: channels handed out in task order to
// free modems, a modem that leaves and the channel it gives back, a stop met by modems in
// different states, the run's end when the last modem goes, and modems that connect late.
#include "mock/FakeBank.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

using fakebank::Bank;
using Link = ModemPort::Link;

namespace {
QStringList channels(int n) {
    QStringList out;
    for (int i = 1; i <= n; ++i)
        out.append(QStringLiteral("Пловдив -- Юг  %1 Ch. --> #%1").arg(i));
    return out;
}
QSet<QString> keysOf(const QStringList& list) {
    return QSet<QString>(list.begin(), list.end());
}
QByteArray dial(int i) {
    return "atdt#" + QByteArray::number(i) + '\r';
}
// The channel keys recorded, each expected once.
QSet<QString> recordedOnce(const Bank& b) {
    QSet<QString> keys;
    for (const Bank::Rec& r : b.recs) {
        if (keys.contains(r.key))
            qWarning() << "recorded twice:" << r.key;
        keys.insert(r.key);
    }
    return keys.size() == b.recs.size() ? keys : QSet<QString>();
}
QList<QByteArray> dials(const fakebank::Modem& m) {
    QList<QByteArray> out;
    for (const auto& [tick, bytes] : m.sent)
        if (bytes.startsWith("atdt"))
            out.append(bytes);
    return out;
}
} // namespace

class TestBankCycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void channelsGoToFreeModemsInTaskOrder();
    void silentModemLeavesAndItsChannelIsTestedByAnother();
    void channelThatSilencesModems_data();
    void channelThatSilencesModems();
    void modemLeavesAtItsThirdTimeout();
    void stopMetInDifferentStates();
    void answerBeforeDroppedConnectionCounts();
    void lateAndFailedConnections();
    void serverAwayComesBack();
    void everyServerAwayTooLong();
    void failedChannelsRetested();
    void badModemNamed();
};

void TestBankCycle::channelsGoToFreeModemsInTaskOrder() {
    Bank b;
    for (int i = 1; i <= 8; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {i == 4 ? 8 : 4, "\r\nBUSY\r\n"};
    b.make(channels(8), 3);
    b.tickTo(20);
    QCOMPARE(b.last.shownStates, QStringLiteral("000"));
    QCOMPARE(b.last.gauge, 0);
    for (int m = 0; m < 3; ++m)
        QCOMPARE(dials(*b.modems[size_t(m)]), QList<QByteArray>{dial(m + 1)});
    b.tickTo(24);
    // The three answers of one tick are recorded in port order.
    QCOMPARE(b.recs.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(b.recs[i].key, channels(8)[i]);
        QCOMPARE(b.recs[i].tick, 24);
    }
    QCOMPARE(b.last.shownStates, QStringLiteral("111"));
    QCOMPARE(b.last.gauge, 37);
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QCOMPARE(b.last.gauge, 100);
    QCOMPARE(recordedOnce(b), keysOf(channels(8)));
    // Modem 1 was busy longest with #4, so #7 and #8 went to the other two.
    QCOMPARE(dials(*b.modems[0]), (QList<QByteArray>{dial(1), dial(4)}));
    QCOMPARE(dials(*b.modems[1]), (QList<QByteArray>{dial(2), dial(5), dial(7)}));
    QCOMPARE(dials(*b.modems[2]), (QList<QByteArray>{dial(3), dial(6), dial(8)}));
    QVERIFY(b.cycle->leftLines().isEmpty());
}

void TestBankCycle::silentModemLeavesAndItsChannelIsTestedByAnother() {
    Bank b;
    b.pause = QStringLiteral("60"); // the others are still at work when 2002 gives up
    for (int i = 1; i <= 12; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {3, "\r\nNO CARRIER\r\n"};
    b.make(channels(12), 3);
    b.modems[1]->silent = true;
    // 2002 dialled #2 at tick 20 and hears nothing: at its time-out it hangs up, reconnects
    // and asks its modem, which stays mute, so it leaves.
    b.tickTo(20 + TestCycle::kAnswerTimeoutTicks);
    QCOMPARE(b.cycle->phase(1), TestCycle::Phase::Working);
    QCOMPARE(b.tick().shownStates.at(1), u'1'); // as it stood before the tick
    QCOMPARE(b.cycle->phase(1), TestCycle::Phase::Recovering);
    QCOMPARE(b.modems[1]->sent.last().second, QByteArray("+++ath0\r"));
    b.tickTo(b.ticks + 70);
    QCOMPARE(b.modems[1]->reopened, 1);
    QCOMPARE(b.modems[1]->sent.last().second, QByteArray("at\r"));
    QCOMPARE(b.cycle->phase(1), TestCycle::Phase::Left);
    QVERIFY(b.modems[1]->closed);
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QCOMPARE(b.last.shownStates.at(1), u'-');
    QCOMPARE(recordedOnce(b), keysOf(channels(12)));
    QCOMPARE(dials(*b.modems[1]), QList<QByteArray>{dial(2)});
    QCOMPARE(b.cycle->leftLines(), QStringList{QStringLiteral("2002")});
    QCOMPARE(b.cycle->bankNotice(),
             QStringLiteral("Модемът на порт 2002 излезе от теста: не отговори или връзката с него прекъсна."));
}

void TestBankCycle::channelThatSilencesModems_data() {
    QTest::addColumn<int>("modems");
    QTest::newRow("two") << 2;
    QTest::newRow("three") << 3;
}

// A channel the far end never answers costs each of two modems one time-out and a recovery,
// no modem leaves, and the channel is named as not tested.
void TestBankCycle::channelThatSilencesModems() {
    QFETCH(int, modems);
    Bank b;
    for (int i = 2; i <= 4; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {2, "\r\nBUSY\r\n"}; // #1: never answered
    b.make(channels(4), modems);
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QVERIFY(b.last.message.isEmpty());
    QCOMPARE(b.last.gauge, 100);
    QVERIFY(b.cycle->leftLines().isEmpty());
    QCOMPARE(recordedOnce(b), keysOf(channels(4).mid(1)));
    QCOMPARE(b.cycle->channelsFinished(), 4);
    // Dialled by two modems; the first was brought back and went on, the run ended at the
    // second one's time-out.
    int dialledBy = 0, reopened = 0;
    for (const auto& m : b.modems) {
        const int n = int(dials(*m).count(dial(1)));
        QVERIFY(n <= 1);
        dialledBy += n;
        reopened += m->reopened;
    }
    QCOMPARE(dialledBy, 2);
    QCOMPARE(reopened, 1);
    QCOMPARE(b.cycle->bankNotice(), QStringLiteral("Каналът Пловдив -- Юг  1 Ch. --> #1 не е тестван: два модема не "
                                                   "получиха отговор при набирането му."));
}

// Modems that time out a third time leave; the run ends with the modem message when none is left.
void TestBankCycle::modemLeavesAtItsThirdTimeout() {
    Bank b;
    b.sendInit = true;
    b.make(channels(3), 2); // nothing is ever answered
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Error);
    QCOMPARE(b.last.message, TestCycle::kModemFailed);
    QCOMPARE(b.cycle->leftLines(), (QStringList{QStringLiteral("2001"), QStringLiteral("2002")}));
    QVERIFY(b.recs.isEmpty());
    for (const auto& m : b.modems) {
        QCOMPARE(m->reopened, 2);
        QCOMPARE(dials(*m).size(), 3);
        // Each time brought back with its initialisation strings, as at the start.
        QCOMPARE(std::count_if(m->sent.begin(), m->sent.end(), [](const auto& s) { return s.second == "ati\r"; }),
                 3);
    }
    const QString notice = b.cycle->bankNotice();
    QVERIFY2(notice.startsWith(QStringLiteral("Модемите на портове 2001, 2002 излязоха от теста")), qPrintable(notice));
    for (const QString& ch : channels(3))
        QVERIFY2(notice.contains(ch + QStringLiteral(" не е тестван.")), qPrintable(notice));
}

void TestBankCycle::stopMetInDifferentStates() {
    Bank b;
    b.pause = QStringLiteral("3");
    b.answers[QStringLiteral("#1")] = {2, "\r\nCONNECT 2400\r\n"};
    b.answers[QStringLiteral("#2")] = {2, "\r\nBUSY\r\n"};
    b.answers[QStringLiteral("#3")] = {30, "\r\nNO CARRIER\r\n"};
    for (int i = 4; i <= 9; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {2, "\r\nBUSY\r\n"};
    b.make(channels(9), 3);
    b.tickTo(25);
    // Holding a call, pausing with #4 taken next, awaiting an answer.
    QCOMPARE(b.tick().shownStates, QStringLiteral("241"));
    b.stop = true;
    b.tickTo(60);
    QVERIFY(b.stop); // held for the other modems after the first honoured it
    QCOMPARE(b.last.end, TestCycle::End::None);
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QCOMPARE(b.last.gauge, 100);
    QVERIFY(!b.stop);
    QCOMPARE(recordedOnce(b), (QSet<QString>{channels(9)[0], channels(9)[1], channels(9)[2], channels(9)[3]}));
    // The call was hung up and confirmed before the end.
    QCOMPARE(b.modems[0]->sent.last().second, QByteArray("+++ath0\r"));
    QVERIFY(b.ticks > b.modems[0]->sent.last().first + 1);
    QCOMPARE(dials(*b.modems[1]), (QList<QByteArray>{dial(2), dial(4)}));
}

void TestBankCycle::answerBeforeDroppedConnectionCounts() {
    Bank b;
    for (int i = 1; i <= 3; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {4, "\r\nBUSY\r\n"};
    b.make(channels(3), 2);
    b.tickTo(23);
    b.modems[0]->state = Link::Down; // its answer arrives with the close, in tick 24
    b.tick();
    QCOMPARE(b.cycle->leftLines(), QStringList{QStringLiteral("2001")});
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QCOMPARE(recordedOnce(b), keysOf(channels(3)));
    QCOMPARE(dials(*b.modems[0]), QList<QByteArray>{dial(1)});
    QCOMPARE(dials(*b.modems[1]), (QList<QByteArray>{dial(2), dial(3)}));
    QCOMPARE(b.cycle->bankNotice(),
             QStringLiteral("Модемът на порт 2001 излезе от теста: не отговори или връзката с него прекъсна."));
}

void TestBankCycle::lateAndFailedConnections() {
    Bank b;
    b.sendInit = true;
    for (int i = 1; i <= 4; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {2, "\r\nBUSY\r\n"};
    b.make(channels(4), 4);
    b.modems[1]->state = Link::Connecting; // up at tick 30
    b.modems[2]->state = Link::Connecting; // never
    b.modems[3]->state = Link::Down;       // refused
    b.tick();
    QCOMPARE(b.cycle->leftLines(), QStringList{QStringLiteral("2004")});
    b.tickTo(29);
    b.modems[1]->state = Link::Up;
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QCOMPARE(recordedOnce(b).size(), 4);
    // 2002 counted its ticks from its connection: nothing of its start was lost.
    const auto& late = b.modems[1]->sent;
    QVERIFY(late.size() >= 3);
    QCOMPARE(late[0], std::make_pair(31, QByteArray("ati\r")));
    QCOMPARE(late[1], std::make_pair(35, QByteArray("at+ms\r")));
    QCOMPARE(late[2].first, 49);
    QVERIFY(late[2].second.startsWith("atdt"));
    // 2003 left 10 s after the start, without taking a channel.
    QCOMPARE(b.cycle->leftLines(), (QStringList{QStringLiteral("2004"), QStringLiteral("2003")}));
    QVERIFY(b.modems[2]->closed);
    QVERIFY(b.modems[2]->sent.isEmpty());
    QCOMPARE(b.last.shownStates.mid(2), QStringLiteral("--"));
}

// Two servers of two modems: the second reboots for 90 s mid-run, a modem of the first is
// refused at the start and comes up later; every channel is recorded once all the same.
void TestBankCycle::serverAwayComesBack() {
    Bank b;
    b.reconnectMs = TestCycle::kReconnectMs;
    for (int i = 1; i <= 200; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {i % 7 ? 4 : 60, "\r\nBUSY\r\n"};
    b.make(channels(200), 4);
    b.modems[1]->state = Link::Down;
    b.modems[1]->gone = true;
    b.tickTo(100);
    b.modems[1]->gone = false; // tried at 1, 3, 7, 15 s, up at 31 s, its modem answers a tick later
    b.tickTo(300);
    QCOMPARE(b.cycle->phase(1), TestCycle::Phase::Working);
    QCOMPARE(b.cycle->awayMs(1), 31200);
    for (int m : {2, 3}) {
        b.modems[size_t(m)]->state = Link::Down;
        b.modems[size_t(m)]->gone = true;
    }
    const int dialsBefore = int(dials(*b.modems[2]).size());
    b.tickTo(300 + 450);
    QCOMPARE(b.cycle->phase(2), TestCycle::Phase::Away);
    for (int m : {2, 3})
        b.modems[size_t(m)]->gone = false;
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QVERIFY(b.cycle->leftLines().isEmpty());
    QVERIFY(b.cycle->untestedChannels().isEmpty());
    QCOMPARE(recordedOnce(b), keysOf(channels(200)));
    QVERIFY(dials(*b.modems[2]).size() > dialsBefore + 5); // back at work
    // Away from the tick it saw the drop until its try at 1+2+4+...+32+60 = 123 s came up.
    QCOMPARE(b.cycle->awayMs(2), 123200);
    QCOMPARE(b.cycle->bankNotice(), QStringLiteral("2002 — без връзка 31 с\n2003 — без връзка 2 мин 3 с\n"
                                                   "2004 — без връзка 2 мин 3 с"));
}

// A run ends in error only when no modem has been connected for the whole wait.
void TestBankCycle::everyServerAwayTooLong() {
    Bank b;
    b.reconnectMs = TestCycle::kReconnectMs;
    for (int i = 1; i <= 50; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {4, "\r\nBUSY\r\n"};
    b.make(channels(50), 2);
    b.tickTo(40);
    for (auto& m : b.modems) {
        m->state = Link::Down;
        m->gone = true;
    }
    b.tickTo(41 + int(TestCycle::kReconnectMs / TestCycle::kTickMs) - 10);
    QCOMPARE(b.last.end, TestCycle::End::None);
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Error);
    QCOMPARE(b.last.message, TestCycle::kModemFailed);
    QCOMPARE(b.ticks, 41 + int(TestCycle::kReconnectMs / TestCycle::kTickMs));
    QCOMPARE(b.cycle->leftLines().size(), 2);
}

// With two retests 20 minutes on: a channel that fails once and then answers is tested
// twice, the second time by the other modem; one that always fails is tested three times;
// a busy channel is not retested.
void TestBankCycle::failedChannelsRetested() {
    Bank b;
    b.retests = 2;
    b.retestDelayMs = 20 * 60 * 1000;
    for (int i = 1; i <= 6; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {3, i == 4 ? "\r\nBUSY\r\n" : "\r\nCONNECT 2400\r\n"};
    b.answers[QStringLiteral("#5")] = {3, "\r\nNO CARRIER\r\n"};
    b.firstAnswers[QStringLiteral("#1")] = {{3, "\r\nNO CARRIER\r\n"}};
    b.make(channels(6), 2);
    QList<int> retestTicks;
    b.onRecord = [&](const QString& key, const QString&, int, const QDateTime&) {
        if (b.cycle->recordingRetest())
            retestTicks.append(b.ticks);
        Q_UNUSED(key);
    };
    b.runToEnd(20000);
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    QStringList keys;
    for (const Bank::Rec& r : b.recs)
        keys.append(r.key);
    QCOMPARE(keys.count(channels(6)[0]), 2);
    QCOMPARE(keys.count(channels(6)[4]), 3);
    QCOMPARE(keys.count(channels(6)[3]), 1);
    QCOMPARE(b.recs.size(), 9);
    QCOMPARE(b.recs.last().answer, QStringLiteral("NO CARRIER"));
    // #1 failed on 2001, which is asked first, and was retested on 2002, 20 minutes later.
    QCOMPARE(dials(*b.modems[0]).count(dial(1)), 1);
    QCOMPARE(dials(*b.modems[1]).count(dial(1)), 1);
    QCOMPARE(retestTicks.size(), 3);
    QVERIFY(retestTicks[0] >= 20 * 60 * 5);
    QVERIFY(retestTicks[2] - retestTicks[0] >= 20 * 60 * 5);
    QCOMPARE(b.cycle->transientFailures(), 1);
    QCOMPARE(b.cycle->confirmedFailures(), 1);
    QCOMPARE(b.cycle->channelsFinished(), 6);
}

// A modem that fails every call is named beside the others' share; one bad channel names none.
void TestBankCycle::badModemNamed() {
    Bank b;
    for (int i = 1; i <= 80; ++i)
        b.answers[QStringLiteral("#%1").arg(i)] = {3, i % 7 ? "\r\nBUSY\r\n" : "\r\nNO CARRIER\r\n"};
    b.make(channels(80), 4);
    b.modems[2]->failsAll = true;
    b.runToEnd();
    QCOMPARE(b.last.end, TestCycle::End::Normal);
    const QStringList suspects = b.cycle->suspectModems();
    QCOMPARE(suspects.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^модемът на 2003: 100 % неуспешни при 1?[0-9] % за останалите$"))
                 .match(suspects[0])
                 .hasMatch(),
             qPrintable(suspects[0]));
    Bank healthy;
    for (int i = 1; i <= 80; ++i)
        healthy.answers[QStringLiteral("#%1").arg(i)] = {3, i % 7 ? "\r\nBUSY\r\n" : "\r\nNO CARRIER\r\n"};
    healthy.make(channels(80), 4);
    healthy.runToEnd();
    QVERIFY(healthy.cycle->suspectModems().isEmpty());
}

QTEST_GUILESS_MAIN(TestBankCycle)
#include "test_bankcycle.moc"
