#include "Station.h"

#include "core/AppError.h"
#include "core/Clock.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskProgress.h"

#include <QDir>
#include <QFile>
#include <utility>

namespace {
constexpr qint64 kUnsavedRetryMs = 60000;

// Runs one step of a wind-up; its failure is noted and the next step goes on.
void attempt(QStringList& problems, const std::function<void()>& body) {
    try {
        body();
    } catch (const AppError& e) {
        problems.append(e.text());
    }
}
} // namespace

Station::Station(Workspace workspace, const Clock& clock, QTimer* driver, QObject* parent)
    : QObject(parent), workspace_(std::move(workspace)), clock_(clock), timer_(driver) {
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setInterval(kIdleMs);
    }
}

Station::~Station() = default;

void Station::post(const QString& text) {
    if (!text.isEmpty())
        Q_EMIT message(text);
}

FolderLock::Outcome Station::takeFolder(FolderLock::Holder self) {
    const FolderLock::Outcome outcome = lock_.take(workspace_.folder, self);
    schedules_ = outcome != FolderLock::Outcome::HeldByOther;
    return outcome;
}

void Station::recoverJournals() {
    if (!schedules_)
        return; // the journal of the other program's run is alive
    try {
        RecoverJournalsIn(workspace_.results, [this](const QString& file, int tests) {
            Q_EMIT notice(QStringLiteral("Месечният файл %1 е допълнен с %2 от дневника на прекъснат тест.")
                              .arg(QDir::toNativeSeparators(file),
                                   tests == 1 ? QStringLiteral("1 тест") : QStringLiteral("%1 теста").arg(tests)));
        });
    } catch (const AppError& e) {
        post(e.text());
    }
}

QList<TaskRow> Station::readTasks(QStringList& errors) const {
    QList<TaskRow> rows;
    for (const TaskFile::Listed& t : TaskFile::readTable(workspace_.folder, errors))
        rows.append({int(rows.size()) + 1, t.header.type, t.header.startText(), t.header.status, t.file,
                     t.header.name});
    return rows;
}

QList<TaskRow> Station::taskRows() {
    if (taskRows_)
        return taskRows_();
    QStringList errors;
    QList<TaskRow> rows = readTasks(errors);
    tellTaskErrors(errors);
    return rows;
}

void Station::tellTaskErrors(const QStringList& errors) {
    QSet<QString> now;
    for (const QString& e : errors) {
        now.insert(e);
        if (!taskErrors_.contains(e))
            post(e);
    }
    taskErrors_ = now;
}

Run& Station::startRun(const TaskRow& task, int settleMs, bool resume) {
    if (!schedules_)
        throw AppError(QStringLiteral("Задачите на тази папка се изпълняват от друга програма."));
    if (busy())
        throw AppError(QStringLiteral("Друга задача се изпълнява.")); // callers ask busy() first
    const RunSettings settings = runSettings_ ? runSettings_() : RunSettings();
    run_ = std::make_unique<Run>(task, settings, workspace_, unsaved_, clock_, resume);
    if (resume)
        resumable_.clear();
    for (const QString& notice : run_->takeNotices())
        post(notice);
    connect(run_.get(), &Run::message, this, &Station::post);
    scheduler_.noteStarted(task.file, clock_.now());
    lastStopPollMs_ = clock_.monotonicMs();
    // The settle pause after a TCP connect delays the first running tick instead of blocking:
    // the connection completes meanwhile, and that tick sets the interval to 200.
    timer_->setInterval(run_->overTcp() ? settleMs + kRunMs : kRunMs);
    Q_EMIT runStarted(run_.get());
    return *run_;
}

void Station::startImmediate(ImmediateEvent event) {
    if (busy() || !schedules_)
        return;
    const QList<TaskRow> rows = taskRows();
    // A run cut short goes on first, with the channels it had not reached.
    bool resume = false;
    int row = -1;
    if (!resumable_.isEmpty()) {
        for (const TaskRow& r : rows)
            if (r.file == resumable_)
                row = r.row;
        if (row > 0)
            resume = true;
        else
            resumable_.clear(); // its task file is gone
    }
    if (row <= 0) {
        QList<TaskRow> candidates;
        for (const TaskRow& r : rows)
            if ((event != ImmediateEvent::Check || r.is(TaskStatus::Waiting)) && r.file != pendingEnd_.file &&
                (event == ImmediateEvent::TasksChanged || readable(r, event == ImmediateEvent::Check)))
                candidates.append(r);
        row = Scheduler::firstImmediate(candidates);
    }
    if (row <= 0)
        return;
    const TaskRow& task = rows[row - 1]; // rows are numbered from 1 in order
    try {
        startRun(task, kImmediateSettleMs, resume);
        immediateFailure_.clear();
    } catch (const AppError& e) {
        // At a check it is tried again every time and told once, until it starts or fails
        // otherwise; at the other events the face shows the failure.
        const QString failure = task.file + u'\n' + e.text();
        const bool told = failure == immediateFailure_;
        immediateFailure_ = failure;
        if (event != ImmediateEvent::Check)
            throw;
        if (!told)
            post(e.text());
    }
}

void Station::timerTick() {
    if (timer_->interval() == kIdleMs) {
        if (!schedules_) {
            Q_EMIT watched();
            return;
        }
        check();
        Q_EMIT checked();
        return;
    }
    runTick();
}

void Station::runTick() {
    Run* run = run_.get();
    if (!run) {
        timer_->setInterval(kIdleMs);
        return;
    }
    if (timer_->interval() != kRunMs)
        timer_->setInterval(kRunMs); // the first tick after the settle pause
    if (clock_.monotonicMs() - lastStopPollMs_ >= kStopPollMs) {
        lastStopPollMs_ = clock_.monotonicMs();
        pollStop(*run);
    }
    const TestCycle::Step step = run->tick();
    Q_EMIT stepped(step);
    if (step.end != TestCycle::End::None)
        finishRun(step.message);
}

// "Спри" in a window that does not run the folder's tasks writes "В процес на спиране" into the
// task file.
void Station::pollStop(Run& run) {
    if (run.stopping())
        return;
    QString status;
    try {
        status = TaskFile::parseHeader(TextFile::readFirstLine(workspace_.file(run.task().file))).status;
    } catch (const AppError&) {
        return; // read again at the next poll
    }
    if (status != text(TaskStatus::Stopping))
        return;
    run.stop();
    Q_EMIT stopAsked(run.task().name);
}

void Station::requestStop() {
    if (run_)
        run_->stop();
}

bool Station::readable(const TaskRow& task, bool settled) const {
    // A file gone is no file being written: its start fails and says so.
    const QString file = workspace_.file(task.file);
    return !QFile::exists(file) || TaskFile::isWhole(file, settled ? settleMs_ : 0);
}

void Station::reviveTasks() {
    if (!schedules_)
        return;
    QStringList errors;
    const QList<TaskRow> rows = readTasks(errors);
    QSet<QString> files;
    for (const TaskRow& r : rows) {
        files.insert(r.file);
        const QString file = workspace_.file(r.file);
        const bool stopping = r.is(TaskStatus::Stopping);
        if (!stopping && !r.is(TaskStatus::Started))
            continue;
        if (!stopping && resumable_.isEmpty() && TaskProgress::exists(file)) {
            resumable_ = r.file;
            Q_EMIT notice(QStringLiteral("Задачата „%1“ (%2) е прекъсната преди края си: продължава с каналите, "
                                         "които не е тествала.")
                              .arg(r.name, r.file));
            continue;
        }
        try {
            SetTaskFileStatus(file, TaskStatus::Waiting);
            TaskProgress::remove(file);
            Q_EMIT notice(QStringLiteral("Задачата „%1“ (%2) е останала „%3“ от тест, който вече не върви: "
                                         "отново е „Чакаща“.")
                              .arg(r.name, r.file, r.status));
        } catch (const AppError& e) {
            post(e.text());
        }
    }
    // The progress of a task deleted since is of no use.
    for (const QString& done :
         QDir(workspace_.folder).entryList({QStringLiteral("*.tsk.done")}, QDir::Files | QDir::Hidden)) {
        const QString task = done.chopped(5);
        if (!files.contains(task))
            QFile::remove(QDir(workspace_.folder).filePath(done));
    }
}

void Station::check() {
    if (!schedules_)
        return;
    const QDateTime now = clock_.now();
    const QList<TaskRow> rows = taskRows();
    // A due task that cannot start does not keep the others due in this minute from theirs.
    for (int row = scheduler_.due(rows, now); row > 0 && !busy(); row = scheduler_.due(rows, now, row)) {
        if (!readable(rows[row - 1], true))
            continue; // still being written: the next check of the minute reads it
        try {
            startRun(rows[row - 1], kScheduledSettleMs);
        } catch (const AppError& e) {
            // Retried by every check of the minute; told once.
            if (scheduler_.noteFailure(rows[row - 1].file, now))
                post(e.text());
        }
    }
    startImmediate(ImmediateEvent::Check);
    if (!busy())
        retryUnsaved();
}

std::unique_ptr<Run> Station::beginWindUp() {
    timer_->setInterval(kIdleMs);
    Q_EMIT runEnding();
    windingUp_ = true;
    return std::move(run_);
}

void Station::finishRun(const QString& message) {
    if (!run_)
        return;
    const std::unique_ptr<Run> run = beginWindUp();
    QStringList problems;
    const QString notice = run->cycle().bankNotice();
    const QStringList suspects = run->cycle().suspectModems();
    attempt(problems, [&] { run->finishResults(unsaved_); });
    lastUnsavedTryMs_ = clock_.monotonicMs();
    const PendingEnd end{run->task().file, run->task().name, run->task().is(TaskType::Daily)};
    if (unsaved_ && !unsaved_->allDurable()) {
        // Deleted or re-armed only once every test is on the disk; until then a restart resumes it.
        pendingEnd_ = end;
        problems.append(QStringLiteral("Задачата „%1“ остава „Стартирана“, докато всичките ѝ тестове не бъдат "
                                       "записани; записът се опитва отново всяка минута.")
                            .arg(end.name));
    } else {
        attempt(problems, [&] { endTask(end); });
    }
    run->closeLines();
    Q_EMIT woundUp();
    windingUp_ = false;
    lastRunSummary_ = run->summary();
    Q_EMIT runFinished(run->task().name, lastRunSummary_);
    post(message);
    for (const QString& p : problems)
        post(p);
    post(notice);
    for (const QString& s : suspects)
        Q_EMIT warning(QStringLiteral("Вероятно повреден модем — %1.").arg(s));
}

void Station::endTask(const PendingEnd& end) {
    const QString file = workspace_.file(end.file);
    if (!end.daily) {
        if (QFile::exists(file) && !QFile::remove(file))
            throw FileError(QStringLiteral("Cannot delete file %1.").arg(file));
    } else {
        SetTaskFileStatus(file, TaskStatus::Waiting);
    }
    TaskProgress::remove(file);
}

void Station::suspendRun() {
    if (!run_)
        return;
    const std::unique_ptr<Run> run = beginWindUp();
    QStringList problems;
    const int done = run->cycle().channelsFinished(), all = run->cycle().channelCount();
    // The task stays "Стартирана" beside its progress: the next start goes on from there.
    attempt(problems, [&] { run->finishResults(unsaved_); });
    run->closeLines();
    Q_EMIT woundUp();
    windingUp_ = false;
    lastRunSummary_ = run->summary();
    Q_EMIT notice(QStringLiteral("Задачата „%1“ е прекъсната: тествани са %2 от %3 канала; останалите се тестват "
                                 "при следващото стартиране.")
                      .arg(run->task().name)
                      .arg(done)
                      .arg(all));
    for (const QString& p : problems)
        post(p);
}

void Station::retryUnsaved() {
    if (!unsaved_ || windingUp_ || clock_.monotonicMs() - lastUnsavedTryMs_ < kUnsavedRetryMs)
        return;
    lastUnsavedTryMs_ = clock_.monotonicMs();
    try {
        unsaved_->finish();
    } catch (const AppError&) {
    }
    if (!unsaved_->allDurable())
        return;
    if (!unsaved_->hasUnsaved())
        unsaved_.reset();
    if (!pendingEnd_.file.isEmpty()) {
        const PendingEnd end = std::exchange(pendingEnd_, {});
        try {
            endTask(end);
            Q_EMIT notice(QStringLiteral("Тестовете на задачата „%1“ са записани.").arg(end.name));
        } catch (const AppError& e) {
            post(e.text());
        }
    }
}

QStringList Station::shutdown(bool stopRequested) {
    QStringList problems;
    if (std::unique_ptr<Run> run = std::move(run_)) {
        if (stopRequested)
            attempt(problems, [&] {
                SetTaskFileStatus(workspace_.file(run->task().file), TaskStatus::Waiting);
                TaskProgress::remove(workspace_.file(run->task().file));
            });
        // The test in progress is lost; every recorded one goes into its month file now.
        attempt(problems, [&] { run->finishResults(unsaved_); });
        run->closeLines();
    } else if (unsaved_) {
        attempt(problems, [&] { unsaved_->finish(); });
    }
    unsaved_.reset(); // what could not be written is still in its journal
    return problems;
}
