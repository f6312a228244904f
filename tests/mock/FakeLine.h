#pragma once
// A modem line in memory on the fake clock, for a whole run through the station: it echoes a
// dial and answers after the delay the network gives its dial string; a hang-up is confirmed
// after 400 ms, anything else after 200. deliver() hands it what is due by the clock.

#include "engine/Run.h"
#include "mock/MockClock.h"

#include <functional>
#include <map>

class FakeLine : public ModemLine {
public:
    using Network = std::function<std::pair<int, QByteArray>(const QByteArray& dial)>;
    FakeLine(int port, const MockClock& clock, Network network)
        : ModemLine(QString::number(port), nullptr, Run::kOwnLogLines), clock_(clock),
          network_(std::move(network)) {}
    void open() override {}
    bool isOpen() const override { return true; }
    void deliver() {
        const qint64 now = clock_.monotonicMs();
        while (!due_.empty() && due_.begin()->first <= now) {
            const QByteArray bytes = due_.begin()->second;
            due_.erase(due_.begin());
            receive(bytes);
        }
    }

protected:
    bool write(const QByteArray& bytes) override {
        const qint64 now = clock_.monotonicMs();
        if (bytes.startsWith("atdt")) {
            receive(bytes); // the echo
            const auto [ms, answer] = network_(bytes.mid(4).chopped(1));
            due_.emplace(now + ms, answer);
        } else {
            due_.emplace(now + (bytes == "+++ath0\r" ? 400 : 200), QByteArrayLiteral("\r\nOK\r\n"));
        }
        return true;
    }

private:
    const MockClock& clock_;
    Network network_;
    std::multimap<qint64, QByteArray> due_;
};
