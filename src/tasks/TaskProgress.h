#pragma once
// The channels of a task's run whose tests are on the disk, one channel line per test, beside
// the task file as "NAME.tsk.done". A run cut short (the service stopped, a crash, a power cut)
// resumes from it with the channels it had not reached: none lost, none dialled twice.

#include <QString>
#include <QStringList>

class TaskProgress {
public:
    static QString pathFor(const QString& taskFile) { return taskFile + QStringLiteral(".done"); }
    // The task's channel lines less those the progress file lists (each listed line takes away
    // one equal line); all of them when there is no such file.
    static QStringList remaining(const QStringList& channels, const QString& taskFile);
    static bool exists(const QString& taskFile);
    // Deletes the progress file, if any; false when one is there and cannot be deleted.
    static bool remove(const QString& taskFile);

    TaskProgress() = default;
    ~TaskProgress();
    TaskProgress(const TaskProgress&) = delete;
    TaskProgress& operator=(const TaskProgress&) = delete;

    // Opens the task's progress file: kept for a run that resumes, empty for one that starts
    // afresh. Raises FileError when it cannot be made.
    void open(const QString& taskFile, bool resume);
    // Adds a channel whose test is on the disk, on the disk before it returns; raises FileError.
    void append(const QString& channelLine);
    void close();

private:
    int fd_ = -1;
    QString path_;
};
