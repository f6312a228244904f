#pragma once
// A bank of modems in memory for the test cycle, on a fake clock: each modem has its own log,
// echoes a dial into it and answers after a number of ticks from one script keyed by the dial
// string (no entry: silent); "+++ath0\r" is answered OK two ticks later, any other command OK
// a tick later. A reopened connection comes up at once, unless the modem is gone.

#include "engine/TestCycle.h"
#include "links/CommLog.h"
#include "mock/MockClock.h"

#include <QMultiMap>
#include <map>
#include <memory>
#include <vector>

namespace fakebank {

class Bank;

class Modem : public ModemPort {
public:
    Modem(const Bank& bank, int keptLines) : log(keptLines), bank_(bank) {}
    void send(const QByteArray& bytes) override;
    Link link() const override { return state; }
    void close() override {
        closed = true;
        state = Link::Down;
    }
    void reopen() override {
        ++reopened;
        state = gone ? Link::Down : Link::Up;
    }
    void deliver(int tick) {
        for (auto it = pending_.begin(); it != pending_.end() && it.key() <= tick;) {
            log.append(*it);
            it = pending_.erase(it);
        }
    }

    CommLog log;
    Link state = Link::Up;
    bool silent = false; // connected, and never a byte back
    bool closed = false;
    bool gone = false; // a reopened connection is refused
    bool failsAll = false; // a bad modem: NO CARRIER to every dial
    int reopened = 0;
    QList<std::pair<int, QByteArray>> sent; // bank tick, bytes

private:
    const Bank& bank_;
    QMultiMap<int, QByteArray> pending_;
};

class Bank {
public:
    struct Rec {
        QString key, answer;
        int delay;
        int tick;
    };

    MockClock clock;
    bool stop = false;
    QString pause = QStringLiteral("0");
    bool sendInit = false;
    qint64 reconnectMs = 0; // how long a modem whose connection went is tried again
    std::map<QString, std::pair<int, QByteArray>> answers; // dial string -> ticks later, bytes
    // Answers to the first dials of a string, each given once, before `answers` takes over.
    mutable std::map<QString, QList<std::pair<int, QByteArray>>> firstAnswers;
    int retests = 0;
    qint64 retestDelayMs = 0;
    std::vector<std::unique_ptr<Modem>> modems;
    std::unique_ptr<TestCycle> cycle;
    TestCycle::Step last;
    int ticks = 0;
    QList<Rec> recs;
    TestCycle::Recorder onRecord; // also told of every record, when set

    // Modems on ports 2001, 2002, ...
    void make(const QStringList& channels, int count, int keptLines = 1000) {
        QList<TestCycle::Line> lines;
        for (int i = 0; i < count; ++i) {
            modems.push_back(std::make_unique<Modem>(*this, keptLines));
            lines.append({modems.back().get(), &modems.back()->log, QString::number(2001 + i)});
        }
        TestCycle::Settings s;
        s.sendInit = sendInit;
        s.initString = QStringLiteral("ati");
        s.speedString = QStringLiteral("at+ms");
        s.pauseText = [this] { return pause; };
        s.reconnectMs = reconnectMs;
        s.retests = retests;
        s.retestDelayMs = retestDelayMs;
        cycle = std::make_unique<TestCycle>(channels, clock, lines, stop, s,
                                            [this](const QString& k, const QString& a, int d, const QDateTime& w) {
                                                recs.append({k, a, d, ticks});
                                                if (onRecord)
                                                    onRecord(k, a, d, w);
                                            });
    }
    // One 200 ms tick; the modems' bytes due by then arrive first.
    TestCycle::Step tick() {
        clock.advanceMs(TestCycle::kTickMs);
        ++ticks;
        for (auto& m : modems)
            m->deliver(ticks);
        return last = cycle->tick();
    }
    // Ticks until the bank tick `n` or the run's end.
    void tickTo(int n) {
        while (ticks < n && last.end == TestCycle::End::None)
            tick();
    }
    void runToEnd(int maxTicks = 100000) { tickTo(ticks + maxTicks); }
};

inline void Modem::send(const QByteArray& bytes) {
    if (state != Link::Up)
        return;
    sent.append({bank_.ticks, bytes});
    if (silent)
        return;
    if (bytes.startsWith("atdt")) {
        log.append(bytes); // the echo
        const QString dial = QString::fromLatin1(bytes.mid(4).chopped(1));
        if (failsAll)
            pending_.insert(bank_.ticks + 3, "\r\nNO CARRIER\r\n");
        else if (auto first = bank_.firstAnswers.find(dial); first != bank_.firstAnswers.end() && !first->second.isEmpty()) {
            const auto [after, answer] = first->second.takeFirst(); // taken before it is used
            pending_.insert(bank_.ticks + after, answer);
        }
        else if (auto it = bank_.answers.find(dial); it != bank_.answers.end())
            pending_.insert(bank_.ticks + it->second.first, it->second.second);
    } else if (bytes == "+++ath0\r") {
        pending_.insert(bank_.ticks + 2, "\r\nOK\r\n");
    } else {
        log.append(bytes);
        pending_.insert(bank_.ticks + 1, "\r\nOK\r\n");
    }
}

} // namespace fakebank
