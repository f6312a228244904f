#pragma once
// A clock that stands still until the test moves it.

#include "core/Clock.h"

class MockClock : public Clock {
public:
    explicit MockClock(QDateTime start = QDateTime(QDate(2024, 5, 14), QTime(7, 5, 0)))
        : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    qint64 monotonicMs() const override {
        const qint64 t = mono_;
        mono_ += creepMs;
        return t;
    }
    void advanceMs(qint64 ms) {
        mono_ += ms;
        now_ = now_.addMSecs(ms);
    }
    void setNow(const QDateTime& t) { now_ = t; } // a wall-clock jump; monotonic time stays
    qint64 creepMs = 0; // monotonic time moves on by this at every reading, as a real clock does

private:
    QDateTime now_;
    mutable qint64 mono_ = 1000000;
};
