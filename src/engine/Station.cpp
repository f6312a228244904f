#include "Station.h"

#include "core/AppError.h"
#include "core/Clock.h"
#include "core/MyUtils.h"
#include "tasks/TaskFile.h"

#include <QDir>
#include <QFile>

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

Station::Station(QString resultsDir, const Clock& clock, QObject* parent)
    : QObject(parent), resultsDir_(std::move(resultsDir)), clock_(clock) {}

Station::~Station() = default;

void Station::post(const QString& text) {
    if (!text.isEmpty())
        Q_EMIT message(text);
}

FolderLock::Outcome Station::takeFolder(FolderLock::Holder self) {
    const FolderLock::Outcome outcome = lock_.take(QDir::currentPath(), self);
    schedules_ = outcome != FolderLock::Outcome::HeldByOther;
    return outcome;
}

void Station::recoverJournals() {
    if (!schedules_)
        return; // the journal of the other program's run is alive
    try {
        RecoverJournalsIn(resultsDir_);
    } catch (const AppError& e) {
        post(e.text());
    }
}

QList<TaskRow> Station::readTasks(QStringList& errors) {
    QList<TaskRow> rows;
    for (const TaskFile::Listed& t : TaskFile::readTable(errors))
        rows.append({int(rows.size()) + 1, t.header.type, t.header.startText(), t.header.status, t.file,
                     t.header.name});
    return rows;
}

Run& Station::startRun(const TaskRow& task, const RunSettings& settings) {
    if (!schedules_)
        throw AppError(QStringLiteral("Задачите на тази папка се изпълняват от друга програма."));
    if (busy())
        throw AppError(QStringLiteral("Друга задача се изпълнява.")); // callers ask busy() first
    run_ = std::make_unique<Run>(task, settings, resultsDir_, unsaved_, clock_);
    for (const QString& notice : run_->takeNotices())
        post(notice);
    connect(run_.get(), &Run::message, this, &Station::post);
    scheduler_.noteStarted(task.file, clock_.now());
    Q_EMIT runStarted(run_.get());
    return *run_;
}

void Station::check(const QList<TaskRow>& rows, const std::function<void(const TaskRow&)>& start) {
    if (!schedules_)
        return;
    const QDateTime now = clock_.now();
    // A due task that cannot start does not keep the others due in this minute from theirs.
    for (int row = scheduler_.due(rows, now); row > 0 && !busy(); row = scheduler_.due(rows, now, row)) {
        try {
            start(rows[row - 1]);
        } catch (const AppError& e) {
            // Retried by every check of the minute; told once.
            if (scheduler_.noteFailure(rows[row - 1].file, now))
                post(e.text());
        }
    }
    if (!busy())
        retryUnsaved();
}

void Station::finishRun(const QString& message, const std::function<void()>& frontEnd) {
    std::unique_ptr<Run> run = std::move(run_);
    if (!run)
        return;
    windingUp_ = true;
    QStringList problems;
    const QString notice = run->cycle().bankNotice();
    attempt(problems, [&] { run->finishResults(unsaved_); });
    lastUnsavedTryMs_ = clock_.monotonicMs();
    attempt(problems, [&] {
        const QString& file = run->task().file;
        if (run->task().type != Scheduler::kDaily) {
            if (QFile::exists(file) && !QFile::remove(file))
                throw FileError(QStringLiteral("Cannot delete file %1.").arg(file));
        } else {
            SetTaskFileStatus(file, Scheduler::kWaiting);
        }
    });
    run->closeLines();
    if (frontEnd)
        frontEnd();
    windingUp_ = false;
    lastRunSummary_ = run->summary();
    Q_EMIT runFinished(run->task().name, lastRunSummary_);
    post(message);
    for (const QString& p : problems)
        post(p);
    post(notice);
}

void Station::retryUnsaved() {
    if (!unsaved_ || windingUp_ || clock_.monotonicMs() - lastUnsavedTryMs_ < kUnsavedRetryMs)
        return;
    lastUnsavedTryMs_ = clock_.monotonicMs();
    try {
        unsaved_->finish();
    } catch (const AppError&) {
    }
    if (!unsaved_->hasUnsaved())
        unsaved_.reset();
}

QStringList Station::shutdown(bool stopRequested) {
    QStringList problems;
    if (std::unique_ptr<Run> run = std::move(run_)) {
        if (stopRequested)
            attempt(problems, [&] { SetTaskFileStatus(run->task().file, Scheduler::kWaiting); });
        // The test in progress is lost; every recorded one goes into its month file now.
        attempt(problems, [&] { run->finishResults(unsaved_); });
        run->closeLines();
    } else if (unsaved_) {
        attempt(problems, [&] { unsaved_->finish(); });
    }
    unsaved_.reset(); // what could not be written is still in its journal
    return problems;
}
