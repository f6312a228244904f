#pragma once
// The station of one working folder, shared by the window and the service: the start-up's
// journal recovery, the task table read from the task files, the scheduler's check, the run
// and its wind-up, and the tests kept from a month file that could not be written. Errors are
// told through message() for the front end to show or log; nothing here waits on anybody.

#include "engine/FolderLock.h"
#include "engine/Run.h"
#include "engine/Scheduler.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class Clock;

class Station : public QObject {
    Q_OBJECT
public:
    Station(QString resultsDir, const Clock& clock, QObject* parent = nullptr);
    ~Station() override;

    const QString& resultsDir() const { return resultsDir_; }
    Scheduler& scheduler() { return scheduler_; }

    // Start-up, first: takes the working folder's lock for `self`. Without it the station
    // runs no task and touches no journal: another program runs this folder's tasks.
    FolderLock::Outcome takeFolder(FolderLock::Holder self);
    const FolderLock& folderLock() const { return lock_; }
    // Whether this station runs the folder's tasks (also when no lock could be made at all).
    bool schedules() const { return schedules_; }
    // Start-up: results left by a crash are merged into their month files.
    void recoverJournals();
    // The task files of the current folder as the task table lists them, in file order; a
    // file that cannot be read is listed with an empty header and its error put in `errors`.
    static QList<TaskRow> readTasks(QStringList& errors);

    Run* run() const { return run_.get(); }
    // A run is active or being wound up: no other may start.
    bool busy() const { return run_ || windingUp_; }
    RunResults* unsaved() const { return unsaved_.get(); }
    const QString& lastRunSummary() const { return lastRunSummary_; }

    // Starts the task's run; raises AppError when it cannot start (the task keeps its status).
    Run& startRun(const TaskRow& task, const RunSettings& settings);
    // The scheduler's check: the due rows of this minute are tried in order until one starts
    // (`start` makes the front end's start of a row); a failure is told once a minute. Then
    // tests kept from a failed write are tried again, once a minute.
    void check(const QList<TaskRow>& rows, const std::function<void(const TaskRow&)>& start);
    // Winds the run up: its tests into their month files, the task file deleted (re-armed for a
    // daily task), its lines closed; `frontEnd` runs next (the window rebuilds its table). Then
    // `message`, the problems met and what the bank has to tell are told, in that order.
    void finishRun(const QString& message, const std::function<void()>& frontEnd = {});
    // Idle: tests that could not be written are tried again, quietly, once a minute.
    void retryUnsaved();
    // The program closes: the test in progress is lost, every recorded one is written; a task
    // being stopped goes back to waiting. Returns the problems met, for the closing window.
    QStringList shutdown(bool stopRequested);

Q_SIGNALS:
    void message(const QString& text);
    void runStarted(Run* run);
    // After the wind-up: the task's name and the counts of its answers.
    void runFinished(const QString& taskName, const QString& summary);

private:
    void post(const QString& text);

    QString resultsDir_;
    const Clock& clock_;
    FolderLock lock_;
    bool schedules_ = true;
    Scheduler scheduler_;
    std::unique_ptr<Run> run_;
    // Tests whose month file could not be written (a full disk, an unwritable folder): kept
    // here, carried into the next run and written at the first chance.
    std::unique_ptr<RunResults> unsaved_;
    qint64 lastUnsavedTryMs_ = 0;
    bool windingUp_ = false; // a run's end is being made: no new run may start meanwhile
    QString lastRunSummary_;
};
