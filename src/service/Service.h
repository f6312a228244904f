#pragma once
// The face of a station run without a window: it subscribes to the station, tells every event
// to its log and keeps the service manager informed (the status line, the watchdog). Where the
// window has its boxes, the service has its log; the station's loop and rules are the same.

#include "engine/Run.h"

#include <QObject>
#include <functional>

class Clock;
class EventLog;
class Station;

class Service : public QObject {
    Q_OBJECT
public:
    // Between the hang-up at a signal and the lines' close, so that the hang-up leaves.
    static constexpr int kHangUpMs = 500;
    // The service manager is told of the progress (and the watchdog fed) at most this often.
    static constexpr int kNotifyMs = 5000;

    // `runSettings` makes the settings of each run as it starts (the link settings file is
    // read anew); it may raise AppError.
    Service(Station& station, const Clock& clock, EventLog& log, std::function<RunSettings()> runSettings,
            QObject* parent = nullptr);
    ~Service() override;

    // The settings of a run as the folder's settings file gives them, read anew; a missing file
    // gives the defaults, and the log says so. Raises FileError for a file that cannot be read.
    static RunSettings fileSettings(const Workspace& workspace, const QStringList& ports, EventLog& log);

    // Start-up, once the folder's lock is held: the journals are recovered, the first
    // "Веднага" task is started, and the station's timer runs.
    void start();
    // A tick of the station's timer.
    void timerTick();
    int interval() const;
    // The service manager's watchdog is fed from the ticks.
    void setWatchdog(bool on) { watchdog_ = on; }
    // A signal to end: every line hangs up now, and a moment later the run's tests go into their
    // month files and its task waits, "Стартирана", to go on at the next start with the channels
    // it had not reached (those in progress among them); then finished().
    void terminate(const QString& why);

Q_SIGNALS:
    void finished();

private:
    void runStarted(Run& run);
    void windUp();
    void notify(bool force = false);

    Station& station_;
    const Clock& clock_;
    EventLog& log_;
    bool watchdog_ = false;
    bool terminating_ = false;
    qint64 lastNotifyMs_ = -1;
};
