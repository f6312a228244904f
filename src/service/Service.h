#pragma once
// The station of one working folder run without a window: it drives the station by the
// window's rules, with one timer whose interval is the engine's mode (a scheduler check every
// 10 s while idle, a step of the run every 200 ms), and tells every event to its log. Where the
// window starts a "Веднага" task on "Прибави" or "Промени", the service, which has no buttons,
// starts the first one at start-up and at every scheduler check while no run is active.

#include "engine/Run.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

class Clock;
class EventLog;
class Station;

class Service : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleMs = 10000;
    static constexpr int kRunMs = TestCycle::kTickMs;
    // How often a run looks at its task file for a stop asked from a window.
    static constexpr int kStopPollMs = 10000;
    // Between the hang-up at a signal and the lines' close, so that the hang-up leaves.
    static constexpr int kHangUpMs = 500;
    // The service manager is told of the progress (and the watchdog fed) at most this often.
    static constexpr int kNotifyMs = 5000;

    // `runSettings` makes the settings of each run as it starts (the link settings file is
    // read anew); it may raise AppError.
    Service(Station& station, const Clock& clock, EventLog& log, std::function<RunSettings()> runSettings,
            QObject* parent = nullptr);
    ~Service() override;

    // Start-up, once the folder's lock is held: the journals are recovered, the first
    // "Веднага" task is started, and the timer runs.
    void start();
    // A tick of the timer: the scheduler check while idle, a step of the run otherwise.
    void timerTick();
    int interval() const { return timer_.interval(); }
    // The service manager's watchdog is fed from the ticks.
    void setWatchdog(bool on) { watchdog_ = on; }
    // A signal to end: every line hangs up now, and a moment later the run is wound up as after
    // "Спри" (the channels in progress are not recorded); then finished().
    void terminate(const QString& why);

Q_SIGNALS:
    void finished();

private:
    void check();
    void startImmediate(const QList<TaskRow>& rows, bool anyStatus);
    void startRun(const TaskRow& task, int settle);
    void runTick();
    void pollStop(Run& run);
    void finishRun(const QString& message);
    void windUp();
    void notify(bool force = false);
    void tellTaskErrors(const QStringList& errors);

    Station& station_;
    const Clock& clock_;
    EventLog& log_;
    std::function<RunSettings()> runSettings_;
    QTimer timer_;
    bool watchdog_ = false;
    bool terminating_ = false;
    qint64 lastStopPollMs_ = 0;
    qint64 lastNotifyMs_ = -1;
    QString immediateFailure_; // the last failed start of a "Веднага" task, told once
    QSet<QString> taskErrors_; // task files that cannot be read, told once while they last
};
