#include "Service.h"

#include "EventLog.h"
#include "engine/Station.h"
#include "core/AppError.h"
#include "core/Clock.h"
#include "core/Cp1251.h"
#include "core/TextFile.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskStatus.h"

#include <systemd/sd-daemon.h>

using Level = EventLog::Level;

Service::Service(Station& station, const Clock& clock, EventLog& log,
                 std::function<RunSettings()> runSettings, QObject* parent)
    : QObject(parent), station_(station), clock_(clock), log_(log), runSettings_(std::move(runSettings)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kIdleMs);
    connect(&timer_, &QTimer::timeout, this, &Service::timerTick);
    // In the words the window would show them.
    connect(&station_, &Station::message, this,
            [this](const QString& text) { log_.line(text, Level::Error); });
    connect(&station_, &Station::runFinished, this, [this](const QString& task, const QString& summary) {
        log_.line(QStringLiteral("Задачата „%1“ завърши. %2")
                      .arg(task, QString(summary).replace(u'\n', QStringLiteral("; "))));
    });
}

Service::~Service() = default;

void Service::start() {
    station_.recoverJournals();
    QStringList errors;
    const QList<TaskRow> rows = Station::readTasks(errors);
    tellTaskErrors(errors);
    log_.line(QStringLiteral("Задачи в папката: %1.").arg(rows.size()));
    startImmediate(rows, true);
    notify(true);
    timer_.start();
}

void Service::timerTick() {
    if (terminating_)
        return;
    if (timer_.interval() == kIdleMs)
        check();
    else
        runTick();
}

void Service::check() {
    QStringList errors;
    const QList<TaskRow> rows = Station::readTasks(errors); // a task added in a window is seen
    tellTaskErrors(errors);
    station_.check(rows, [this](const TaskRow& row) { startRun(row, 200); });
    if (!station_.busy())
        startImmediate(rows, false);
    notify();
}

void Service::startImmediate(const QList<TaskRow>& rows, bool anyStatus) {
    // At start-up a "Веднага" task starts whatever its status, as in the window. Later only a
    // waiting one, as the window's Прибави and Промени leave it: a disabled task stays so, and
    // one whose file could not be deleted at its end is not run again and again.
    QList<TaskRow> candidates;
    for (const TaskRow& r : rows)
        if (anyStatus || r.status == TaskStatus::Waiting)
            candidates.append(r);
    const int at = Scheduler::firstImmediate(candidates);
    if (at <= 0 || station_.busy())
        return;
    const TaskRow& task = rows[at - 1]; // rows are numbered from 1 in order
    try {
        startRun(task, 1000);
        immediateFailure_.clear();
    } catch (const AppError& e) {
        // Tried again at every check; told once until it starts or fails otherwise.
        const QString failure = task.file + u'\n' + e.text();
        if (failure != immediateFailure_)
            log_.line(e.text(), Level::Error);
        immediateFailure_ = failure;
    }
}

void Service::startRun(const TaskRow& task, int settle) {
    const RunSettings settings = runSettings_();
    Run& run = station_.startRun(task, settings);
    connect(&run, &Run::logLine, this, [this](const QByteArray& line) { log_.line(Cp1251::decode(line)); });
    connect(&run, &Run::recorded, this, [this](const QString& key, const QString& answer, int delay) {
        log_.line(QStringLiteral("Резултат: %1: %2, %3,%4 с")
                      .arg(key, answer)
                      .arg(delay / 100)
                      .arg(delay % 100, 2, 10, QChar(u'0')));
    });
    QStringList ports;
    for (int i = 0; i < run.lineCount(); ++i)
        ports.append(run.line(i).name());
    QString where;
    if (run.overTcp())
        where = QStringLiteral("адрес %1, портове %2")
                    .arg(settings.link.address, ports.join(QStringLiteral(", ")));
    else if (settings.link.serial && !settings.makeLines)
        where = QStringLiteral("сериен порт %1, %2 bps").arg(settings.link.port, settings.link.speed);
    else if (ports.join(QString()).isEmpty())
        where = QStringLiteral("без избрана връзка");
    else
        where = QStringLiteral("портове %1").arg(ports.join(QStringLiteral(", ")));
    log_.line(QStringLiteral("Задачата „%1“ (%2, %3) започна: %4 канала, %5.")
                  .arg(task.name, task.type, task.file)
                  .arg(run.cycle().channelCount())
                  .arg(where));
    lastStopPollMs_ = clock_.monotonicMs();
    // The settle pause after a TCP connect delays the first tick, as in the window.
    timer_.setInterval(run.overTcp() ? settle + kRunMs : kRunMs);
    notify(true);
}

void Service::runTick() {
    Run* run = station_.run();
    if (!run) {
        timer_.setInterval(kIdleMs);
        return;
    }
    if (timer_.interval() != kRunMs)
        timer_.setInterval(kRunMs); // the first tick after the settle pause
    if (clock_.monotonicMs() - lastStopPollMs_ >= kStopPollMs) {
        lastStopPollMs_ = clock_.monotonicMs();
        pollStop(*run);
    }
    const TestCycle::Step step = run->tick();
    notify();
    if (step.end != TestCycle::End::None)
        finishRun(step.message);
}

// "Спри" in a window beside the service writes "В процес на спиране" into the task file.
void Service::pollStop(Run& run) {
    if (run.stopping())
        return;
    QString status;
    try {
        status = TaskFile::parseHeader(TextFile::readFirstLine(run.task().file)).status;
    } catch (const AppError&) {
        return; // read again at the next poll
    }
    if (status != TaskStatus::Stopping)
        return;
    log_.line(QStringLiteral("Задачата „%1“ спира по искане от прозореца: всеки модем завършва канала си.")
                  .arg(run.task().name));
    run.stop();
}

void Service::finishRun(const QString& message) {
    timer_.setInterval(kIdleMs);
    station_.finishRun(message);
    notify(true);
}

void Service::terminate(const QString& why) {
    if (terminating_)
        return;
    terminating_ = true;
    timer_.stop();
    sd_notify(0, "STOPPING=1\nSTATUS=Спира");
    Run* run = station_.run();
    if (!run) {
        log_.line(QStringLiteral("%1: услугата спира.").arg(why));
        windUp();
        return;
    }
    log_.line(QStringLiteral(
                  "%1: задачата „%2“ спира, модемите затварят линиите; каналите в процес не се записват.")
                  .arg(why, run->task().name));
    run->hangUp();
    QTimer::singleShot(kHangUpMs, this, [this] {
        station_.finishRun(QString());
        windUp();
    });
}

void Service::windUp() {
    for (const QString& problem : station_.shutdown(false))
        log_.line(problem, Level::Error);
    log_.line(QStringLiteral("Услугата спря."));
    Q_EMIT finished();
}

void Service::notify(bool force) {
    const qint64 now = clock_.monotonicMs();
    if (!force && lastNotifyMs_ >= 0 && now - lastNotifyMs_ < kNotifyMs)
        return;
    lastNotifyMs_ = now;
    QString status = QStringLiteral("Няма задача в изпълнение");
    if (const Run* run = station_.run())
        status = QStringLiteral("Задача „%1“: %2 от %3 канала")
                     .arg(run->task().name)
                     .arg(run->cycle().channelsFinished())
                     .arg(run->cycle().channelCount());
    QByteArray text = "STATUS=" + status.toUtf8();
    if (watchdog_)
        text += "\nWATCHDOG=1";
    sd_notify(0, text.constData());
}

void Service::tellTaskErrors(const QStringList& errors) {
    QSet<QString> now;
    for (const QString& e : errors) {
        now.insert(e);
        if (!taskErrors_.contains(e))
            log_.line(e, Level::Error);
    }
    taskErrors_ = now;
}
