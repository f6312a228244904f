#pragma once
// Wall-clock time for timestamps and schedules, and a monotonic clock for waits; injected
// so that tests can play minutes of a run in microseconds.

#include <QDateTime>
#include <QElapsedTimer>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;      // local wall-clock time
    virtual qint64 monotonicMs() const = 0; // never jumps with clock changes
};

class SystemClock : public Clock {
public:
    SystemClock() { timer_.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 monotonicMs() const override { return timer_.elapsed(); }

private:
    QElapsedTimer timer_;
};
