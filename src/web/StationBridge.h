#pragma once
// The station as the web face sees it, kept on the station's own thread: it follows the
// station's signals and publishes what it sees as an immutable view that the web thread reads
// at any time, keeps the communication log as it grows, and carries out the changes asked from
// the web (a task's status, "start now", a new task's start) on the station's thread, by the
// window's rules, logging each with the user's name. No other thread touches the station.

#include "Users.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QVector>
#include <deque>
#include <functional>
#include <memory>

class Clock;
class Run;
class Station;

namespace web {

// A modem line of the run: its port, what it does ("dial", "answer", "hold", "hangup", "pause"
// as the cycle's states; "connecting", "recovering", "away") and the channel it is on.
struct LineView {
    QString name;
    QString state;
    QString channel;
};

struct RunView {
    QString task, file, type;
    int channels = 0, done = 0;
    bool stopping = false;
    QDateTime started;
    QVector<LineView> lines;
};

struct StationView {
    QDateTime serviceStarted;
    QDateTime lastCheck; // invalid before the first
    QString folder;
    std::optional<RunView> run;
    quint64 recorded[3] = {}; // tests since the start by their mark: Р, З, Г
    quint64 journalFailures = 0;
    quint64 version = 0;
};

// Every state a line can be in, in the order the metrics list them.
const QStringList& LineStates();

// The lines of the communication log and the station's messages, numbered from 1 as they come;
// the last kKeep are kept. Written on the station's thread, read on the web thread.
class LogRing {
public:
    static constexpr int kKeep = 2000;
    struct Line {
        quint64 seq;
        QDateTime time;
        QString text;
        bool message; // one of the station's messages, not the modem dialogue
    };
    void append(QString text, const QDateTime& time, bool message);
    // The lines after `seq`, at most `max` of the latest; `next` is the number to ask after next.
    QVector<Line> since(quint64 seq, int max, quint64& next) const;

private:
    mutable QMutex mutex_;
    std::deque<Line> lines_;
    quint64 last_ = 0;
};

class StationBridge : public QObject {
    Q_OBJECT
public:
    // `log` writes a line to the service's log (on this thread).
    StationBridge(Station& station, const Clock& clock, std::function<void(const QString&, bool error)> log,
                  QObject* parent = nullptr);

    // Any thread.
    std::shared_ptr<const StationView> view() const;
    const LogRing& log() const { return log_; }

    struct Outcome {
        int status = 200;
        QJsonObject body;
    };
    // The station's thread: a task's action from the web ("disable", "enable", "stop", "start")
    // by the status button's rules; `who` names the user for the log.
    Outcome taskAction(const QString& file, const QString& action, const QString& who);
    // A task file written from the web: told, and started at once when it is the first
    // "Веднага" task, as after "Прибави".
    Outcome taskAdded(const QString& file, const QString& description, const QString& who);
    // A line for the service's log from the web face.
    void note(const QString& text, bool error = false) { logLine_(text, error); }

private:
    void runStarted(Run* run);
    void publish();

    Station& station_;
    const Clock& clock_;
    std::function<void(const QString&, bool)> logLine_;
    LogRing log_;
    StationView current_; // this thread's copy, published as a whole
    mutable QMutex mutex_;
    std::shared_ptr<const StationView> published_;
};

} // namespace web
