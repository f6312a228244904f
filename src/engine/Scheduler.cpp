#include "Scheduler.h"

#include "core/MyUtils.h"

int Scheduler::startMinute(const QString& cell) {
    int h = 0, m = 0;
    if (cell.size() < 5 || !TryStrToInt(cell.mid(0, 2), h) || !TryStrToInt(cell.mid(3, 2), m))
        return -1;
    return h * 60 + m;
}

int Scheduler::firstImmediate(const QList<TaskRow>& rows) {
    for (const TaskRow& r : rows) {
        if (r.is(TaskType::Immediate))
            return r.row;
    }
    return -1;
}

qint64 Scheduler::minuteOf(const QDateTime& t) {
    return t.date().toJulianDay() * 1440 + t.time().hour() * 60 + t.time().minute();
}

int Scheduler::due(const QList<TaskRow>& rows, const QDateTime& now, int afterRow) const {
    const int clockMinute = now.time().hour() * 60 + now.time().minute();
    const qint64 thisMinute = minuteOf(now);
    for (const TaskRow& r : rows) {
        if (r.row <= afterRow || !r.is(TaskStatus::Waiting) || startMinute(r.start) != clockMinute)
            continue;
        if (lastStart_.value(r.file, -1) == thisMinute)
            continue;
        return r.row;
    }
    return -1;
}

void Scheduler::noteStarted(const QString& file, const QDateTime& now) {
    lastStart_.insert(file, minuteOf(now));
    lastFailure_.remove(file);
}

bool Scheduler::noteFailure(const QString& file, const QDateTime& now) {
    const qint64 m = minuteOf(now);
    if (lastFailure_.value(file, -1) == m)
        return false;
    lastFailure_.insert(file, m);
    return true;
}
