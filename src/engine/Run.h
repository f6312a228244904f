#pragma once
// One run of a task: its modem lines, the test cycle over the task's channels and the month
// results it records into. Built from the link settings and a task row; advanced by tick();
// it tells its log lines and results through signals and never shows anything itself.

#include "config/LinkSettings.h"
#include "core/Workspace.h"
#include "monthfile/RunResults.h"
#include "engine/Scheduler.h"
#include "engine/TestCycle.h"
#include "links/ModemLine.h"
#include "tasks/TaskProgress.h"

#include <QObject>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class Clock;

// What a run is built from besides its task: the link and modem settings as saved (or as the
// window's controls hold them).
struct RunSettings {
    LinkSettings link;
    // Read on every tick of a pause (the window's edit box); empty: link.pause.
    std::function<QString()> pauseText;
    // The log that shows a single modem's bytes as they come (the window's); nullptr: none.
    CommLog* sharedLog = nullptr;
    // Makes the run's lines in place of those of the chosen link (modems simulated in memory,
    // on a fake clock); empty: the link settings decide.
    std::function<std::vector<std::unique_ptr<ModemLine>>()> makeLines;
};

class Run : public QObject {
    Q_OBJECT
public:
    // A line with a log of its own (a bank's, or any of the service's) keeps this many lines.
    static constexpr int kOwnLogLines = 1000;

    // Opens the lines, reads the task's channels, loads the month and marks the task started.
    // Every check that can fail at once is made before anything is opened; on a failure
    // AppError is raised, nothing stays open and the task keeps its status. `unsaved`: tests a
    // former run could not write, taken into this run (and left there on a failure).
    // `resume`: the task's run was cut short; only the channels its progress file does not
    // list are dialled.
    Run(const TaskRow& task, const RunSettings& settings, const Workspace& workspace,
        std::unique_ptr<RunResults>& unsaved, const Clock& clock, bool resume = false);
    ~Run() override;

    // One 200 ms tick of the cycle; what it reports is also told by the signals below.
    TestCycle::Step tick();
    // Lets every line finish the channel it is on and take no other.
    void stop() { stop_ = true; }
    bool stopping() const { return stop_; }

    const TaskRow& task() const { return task_; }
    const RunSettings& settings() const { return settings_; }
    const TestCycle& cycle() const { return *cycle_; }
    int lineCount() const { return int(lines_.size()); }
    ModemLine& line(int i) { return *lines_[size_t(i)]; }
    bool overTcp() const { return tcp_; }
    // The day marks of the answers recorded, as the notification at the end tells them.
    QString summary() const;
    // The day mark one test gives on its own ("Р", "З" or "Г").
    static QChar markOf(const QString& answer, int delayHundredths);
    // What is to be told of the run's start: journals set aside, lines left out.
    QStringList takeNotices() { return std::exchange(notices_, {}) + results_->takeNotices(); }

    // Every line hangs up now; the channels in progress are not recorded.
    void hangUp();
    void closeLines();
    // Writes the recorded tests into their month files; raises the first failure. Whatever
    // could not be written is handed to `unsaved`.
    void finishResults(std::unique_ptr<RunResults>& unsaved);

Q_SIGNALS:
    // A line of the modem dialogue as a log shows it (Windows-1251): the port, "> ", the text.
    void logLine(const QByteArray& line);
    void recorded(const QString& key, const QString& answer, int delayHundredths, const QDateTime& when);
    // A recorded test could not be written to the journal (it is kept in memory).
    void journalFailed();
    // An error met during the run, to be told once the handler has returned.
    void message(const QString& text);
    // Every tick: each line's state digit ("-" for one that left), first port first.
    void states(const QString& digits);
    // The share of the channels finished, when it changed.
    void progress(int percent);
    // The run is over and is to be wound up; `message` is to be told after the wind-up.
    void ended(TestCycle::End how, const QString& message);

private:
    void makeLines(const RunSettings& settings);
    void record(const QString& key, const QString& answer, int delay, const QDateTime& when);

    TaskRow task_;
    RunSettings settings_;
    bool tcp_ = false;
    bool stop_ = false;
    std::vector<std::unique_ptr<ModemLine>> lines_; // in port order
    std::unique_ptr<RunResults> results_;           // MonthList and its journals
    std::unique_ptr<TestCycle> cycle_;              // RunList and the cycle's state
    bool recordFailureTold_ = false;                // a journal that cannot be written is told once a run
    int tested_ = 0, connected_ = 0, busy_ = 0, failed_ = 0;
    int retested_ = 0, confirmed_ = 0, transient_ = 0; // with the retests of failed channels
    // Which channels' tests are on the disk, for a run cut short to resume from.
    TaskProgress progress_;
    bool progressFailureTold_ = false;
    QStringList notDurable_; // channels whose tests are in memory only, in order
    QStringList notices_;
    void noteDurable(const QString& key);
};
