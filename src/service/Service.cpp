#include "Service.h"

#include "EventLog.h"
#include "engine/Station.h"
#include "core/AppError.h"
#include "core/Clock.h"
#include "core/Cp1251.h"

#include <QDir>
#include <QFileInfo>

#include <systemd/sd-daemon.h>

using Level = EventLog::Level;

Service::Service(Station& station, const Clock& clock, EventLog& log,
                 std::function<RunSettings()> runSettings, QObject* parent)
    : QObject(parent), station_(station), clock_(clock), log_(log) {
    station_.setRunSettings(std::move(runSettings));
    connect(&station_.timer(), &QTimer::timeout, this, &Service::timerTick);
    // In the words the window would show them.
    connect(&station_, &Station::message, this, [this](const QString& text) { log_.line(text, Level::Error); });
    connect(&station_, &Station::notice, this, [this](const QString& text) { log_.line(text); });
    connect(&station_, &Station::runStarted, this, [this](Run* run) { runStarted(*run); });
    connect(&station_, &Station::stepped, this, [this] { notify(); });
    connect(&station_, &Station::checked, this, [this] { notify(); });
    connect(&station_, &Station::stopAsked, this, [this](const QString& task) {
        log_.line(QStringLiteral("Задачата „%1“ спира по искане от прозореца: всеки модем завършва канала си.")
                      .arg(task));
    });
    connect(&station_, &Station::runFinished, this, [this](const QString& task, const QString& summary) {
        log_.line(QStringLiteral("Задачата „%1“ завърши. %2")
                      .arg(task, QString(summary).replace(u'\n', QStringLiteral("; "))));
        notify(true);
    });
}

Service::~Service() = default;

RunSettings Service::fileSettings(const Workspace& workspace, const QStringList& ports, EventLog& log) {
    const QString file = workspace.file(QString::fromLatin1(LinkSettingsFile::FileName));
    RunSettings settings;
    settings.link = LinkSettingsFile::load(file, ports);
    if (!QFileInfo::exists(file))
        log.line(QStringLiteral("Файлът %1 липсва: тестът е с настройките по подразбиране (сериен порт %2, %3 bps).")
                     .arg(QDir::toNativeSeparators(file),
                          settings.link.port.isEmpty() ? QStringLiteral("не е избран") : settings.link.port,
                          settings.link.speed),
                 Level::Warning);
    return settings;
}

int Service::interval() const {
    return station_.interval();
}

void Service::start() {
    station_.recoverJournals();
    station_.reviveTasks();
    log_.line(QStringLiteral("Задачи в папката: %1.").arg(station_.taskRows().size()));
    try {
        station_.startImmediate(Station::ImmediateEvent::StartUp);
    } catch (const AppError& e) {
        log_.line(e.text(), Level::Error);
    }
    notify(true);
    station_.timer().start();
}

void Service::timerTick() {
    if (!terminating_)
        station_.timerTick();
}

void Service::runStarted(Run& run) {
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
    const LinkSettings& link = run.settings().link;
    QString where;
    if (run.overTcp())
        where = QStringLiteral("адрес %1, портове %2").arg(link.address, ports.join(QStringLiteral(", ")));
    else if (link.kind == LinkKind::Serial && !run.settings().makeLines)
        where = QStringLiteral("сериен порт %1, %2 bps").arg(link.port, link.speed);
    else if (ports.join(QString()).isEmpty())
        where = QStringLiteral("без избрана връзка");
    else
        where = QStringLiteral("портове %1").arg(ports.join(QStringLiteral(", ")));
    const TaskRow& task = run.task();
    log_.line(QStringLiteral("Задачата „%1“ (%2, %3) започна: %4 канала, %5.")
                  .arg(task.name, task.type, task.file)
                  .arg(run.cycle().channelCount())
                  .arg(where));
    notify(true);
}

void Service::terminate(const QString& why) {
    if (terminating_)
        return;
    terminating_ = true;
    station_.timer().stop();
    sd_notify(0, "STOPPING=1\nSTATUS=Спира");
    Run* run = station_.run();
    if (!run) {
        log_.line(QStringLiteral("%1: услугата спира.").arg(why));
        windUp();
        return;
    }
    log_.line(QStringLiteral("%1: задачата „%2“ спира, модемите затварят линиите; каналите в процес не се "
                             "записват и се тестват при следващото стартиране.")
                  .arg(why, run->task().name));
    run->hangUp();
    QTimer::singleShot(kHangUpMs, this, [this] {
        station_.suspendRun();
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
