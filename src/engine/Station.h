#pragma once
// The station of one working folder, shared by the window and the service: it owns the driver
// loop (a scheduler check every 10 s while idle, a step of the run every 200 ms, the settle
// pause after a TCP connect), the start-up's journal recovery, the task table read from the task
// files, the immediate start of a "Веднага" task, a stop written into the running task's file by
// another program, the run and its wind-up, and the tests kept from a month file that could not
// be written. It tells what happens through signals; the faces present it. Nothing here waits on
// anybody.

#include "core/Workspace.h"
#include "engine/FolderLock.h"
#include "engine/Run.h"
#include "engine/Scheduler.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class Clock;

class Station : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleMs = 10000;
    static constexpr int kRunMs = TestCycle::kTickMs;
    // The settle pause after a TCP connect before the first running tick: a "Веднага" task's
    // start waits longer than a scheduled one's.
    static constexpr int kImmediateSettleMs = 1000;
    static constexpr int kScheduledSettleMs = 200;
    // How often a run looks at its task file for a stop asked by another program.
    static constexpr int kStopPollMs = 10000;

    // `driver`: the timer whose interval is the engine's mode (the window's Timer1); nullptr:
    // one of the station's own. The face connects its timeout to timerTick() (the window runs it
    // through its error handler).
    Station(Workspace workspace, const Clock& clock, QTimer* driver = nullptr, QObject* parent = nullptr);
    ~Station() override;

    const Workspace& workspace() const { return workspace_; }
    const QString& resultsDir() const { return workspace_.results; }
    Scheduler& scheduler() { return scheduler_; }
    QTimer& timer() { return *timer_; }
    int interval() const { return timer_->interval(); }

    // What each run is made with (the window's controls, or the settings file read anew); it
    // may raise AppError, which fails that start.
    void setRunSettings(std::function<RunSettings()> settings) { runSettings_ = std::move(settings); }
    // The task rows a check looks at: the window's table; unset, the task files of the folder.
    void setTaskRows(std::function<QList<TaskRow>()> rows) { taskRows_ = std::move(rows); }

    // Start-up, first: takes the working folder's lock for `self`. Without it the station
    // runs no task and touches no journal: another program runs this folder's tasks.
    FolderLock::Outcome takeFolder(FolderLock::Holder self);
    const FolderLock& folderLock() const { return lock_; }
    // Whether this station runs the folder's tasks (also when no lock could be made at all).
    bool schedules() const { return schedules_; }
    // Start-up: results left by a crash are merged into their month files.
    void recoverJournals();
    // Start-up, after the journals: a task left "Стартирана" by a run cut short (a shutdown, a
    // crash) is resumed by the next immediate start; any other task left "Стартирана" or "В
    // процес на спиране" by a run that no longer exists is "Чакаща" again. Both are told.
    void reviveTasks();
    // A task file is read only when whole; a scheduled or later start also waits until it has
    // not changed for this long (a program may still be writing it).
    void setTaskSettleMs(qint64 ms) { settleMs_ = ms; }
    // The task files of the folder as the task table lists them, in file order; a file that
    // cannot be read is listed with an empty header and its error put in `errors`.
    QList<TaskRow> readTasks(QStringList& errors) const;
    // The rows a check looks at (the window's table, or the folder's files read now).
    QList<TaskRow> taskRows();

    Run* run() const { return run_.get(); }
    // A run is active or being wound up: no other may start.
    bool busy() const { return run_ || windingUp_; }
    RunResults* unsaved() const { return unsaved_.get(); }
    const QString& lastRunSummary() const { return lastRunSummary_; }

    // When a "Веднага" task starts. At start-up and when a task was added or changed the first
    // one starts whatever its status; at a later look at the folder only a waiting one, so that a
    // disabled task stays so and one whose file could not be deleted is not run again and again.
    enum class ImmediateEvent { StartUp, TasksChanged, Check };
    // Starts the first "Веднага" task the event allows, if no run is active. A failed start at
    // StartUp or TasksChanged raises AppError (the task keeps its status); at a Check it is
    // told once until that task starts or fails otherwise.
    void startImmediate(ImmediateEvent event);
    // Starts the task's run with the settle pause `settleMs`; raises AppError when it cannot
    // start (the task keeps its status).
    // `resume`: only the channels the task's progress file does not list.
    Run& startRun(const TaskRow& task, int settleMs, bool resume = false);
    // A tick of the driver: the scheduler's check while idle, a step of the run otherwise.
    void timerTick();
    // The scheduler's check: the due rows of this minute are tried in order until one starts; a
    // failure is told once a minute. Then a waiting "Веднага" task, and tests kept from a failed
    // write are tried again, once a minute.
    void check();
    // The running task is asked to stop: every line finishes the channel it is on.
    void requestStop();
    // Winds the run up: its tests into their month files, the task file deleted (re-armed for a
    // daily task), its lines closed; woundUp() is told next (the window rebuilds its table). Then
    // `message`, the problems met and what the bank has to tell are told, in that order.
    void finishRun(const QString& message);
    // The service stops: the run's tests go into their month files, its lines close, and the
    // task stays "Стартирана" with its progress, to go on at the next start.
    void suspendRun();
    // Idle: tests that could not be written are tried again, quietly, once a minute; a task whose
    // run ended meanwhile is deleted or re-armed once they are on the disk.
    void retryUnsaved();
    // The program closes: the test in progress is lost, every recorded one is written; a task
    // being stopped goes back to waiting. Returns the problems met, for the closing face.
    QStringList shutdown(bool stopRequested);

Q_SIGNALS:
    // What the operator is to be told: an error or a warning (the window shows it in a box).
    void message(const QString& text);
    // A warning the operator is to be told (the window shows it in a box, the service logs it
    // as a warning).
    void warning(const QString& text);
    // What went well and is worth a line in a log (the window shows none).
    void notice(const QString& text);
    void runStarted(Run* run);
    // Every step of the run, after it was made.
    void stepped(const TestCycle::Step& step);
    // Another program asked the running task to stop through its file.
    void stopAsked(const QString& taskName);
    // The run is over: nothing of it is wound up yet.
    void runEnding();
    // Its results, task file and lines are done; the messages follow.
    void woundUp();
    // After the wind-up: the task's name and the counts of its answers.
    void runFinished(const QString& taskName, const QString& summary);
    // An idle tick of a station that does not run the folder's tasks: the faces follow the
    // statuses the other program writes.
    void watched();
    // An idle tick's check is done.
    void checked();

private:
    struct PendingEnd {
        QString file, name;
        bool daily = false;
    };
    void post(const QString& text);
    bool readable(const TaskRow& task, bool settled) const;
    void endTask(const PendingEnd& end);
    // The first steps of every wind-up: the idle interval, runEnding(), the run taken over.
    std::unique_ptr<Run> beginWindUp();
    void runTick();
    void pollStop(Run& run);
    void tellTaskErrors(const QStringList& errors);

    Workspace workspace_;
    const Clock& clock_;
    QPointer<QTimer> timer_;
    std::function<RunSettings()> runSettings_;
    std::function<QList<TaskRow>()> taskRows_;
    FolderLock lock_;
    bool schedules_ = true;
    Scheduler scheduler_;
    std::unique_ptr<Run> run_;
    // Tests whose month file could not be written (a full disk, an unwritable folder): kept
    // here, carried into the next run and written at the first chance.
    std::unique_ptr<RunResults> unsaved_;
    qint64 lastUnsavedTryMs_ = 0;
    qint64 lastStopPollMs_ = 0;
    bool windingUp_ = false; // a run's end is being made: no new run may start meanwhile
    QString lastRunSummary_;
    QString immediateFailure_; // the last failed start of a "Веднага" task at a check, told once
    QSet<QString> taskErrors_; // task files that cannot be read at a check, told once while they last
    qint64 settleMs_ = 2000;
    QString resumable_;     // the task file of a run cut short, to go on at the next immediate start
    PendingEnd pendingEnd_; // a task whose run ended with tests not yet on the disk
};
