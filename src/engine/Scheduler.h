#pragma once
// Which task a scheduler check starts, with the two memories a real scheduler needs: the
// minute in which each task file was last started (a daily task runs once a day even when
// its run ends within its start minute), and the last failed start (shown once, not on
// every check of the minute).

#include "tasks/Task.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

struct TaskRow {
    int row = 0;
    QString type;   // column 2
    QString start;  // column 3, "hh:mm"
    QString status; // column 4
    QString file;   // column 5
    QString name;   // column 1
    bool is(TaskType t) const { return type == text(t); }
    bool is(TaskStatus s) const { return status == text(s); }
};

class Scheduler {
public:
    // The start minute of a "hh:mm" cell, or -1 when it does not hold two numbers there.
    static int startMinute(const QString& cell);
    // The first "Веднага" row, whatever its status; -1 if none.
    static int firstImmediate(const QList<TaskRow>& rows);
    // The first waiting row after `afterRow` whose start time is the minute of `now` and that
    // was not started in this very minute already; -1 if none.
    int due(const QList<TaskRow>& rows, const QDateTime& now, int afterRow = 0) const;

    void noteStarted(const QString& file, const QDateTime& now);
    // True when the failure is to be shown: not the same task failing again in the same minute.
    bool noteFailure(const QString& file, const QDateTime& now);

private:
    static qint64 minuteOf(const QDateTime& t);
    QHash<QString, qint64> lastStart_;   // task file -> minute of its last start
    QHash<QString, qint64> lastFailure_; // task file -> minute of its last shown failure
};
