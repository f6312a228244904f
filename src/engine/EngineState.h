#pragma once
// The engine's part of the window: the communication log and its display, the active run,
// the scheduler's memory and the engine's own messages, shown one at a time after the
// handler that raised them has returned.

#include "engine/RunResults.h"
#include "engine/Scheduler.h"
#include "engine/TestCycle.h"
#include "links/CommLog.h"
#include "links/TcpLink.h"

#include <QObject>
#include <QRect>
#include <QStringList>
#include <memory>
#include <vector>

class CommLogView;
class TForm1;

class EngineState : public QObject {
    Q_OBJECT
public:
    enum class LinkKind { None, Serial, Tcp };

    // One modem of a run: its link, and in a bank of two or more its own log, whose completed
    // lines go on to the window's log behind the port's name.
    struct RunLine : ModemPort {
        TForm1* window = nullptr;
        LinkKind kind = LinkKind::None;
        TcpLink* tcp = nullptr;            // WS1 for the first modem
        std::unique_ptr<TcpLink> ownTcp;   // a bank's other modems
        std::unique_ptr<CommLog> ownLog;   // a bank's modems
        CommLog* log = nullptr;            // where its answers are read
        QString name;                      // the port
        QString address;                   // of a TCP line
        QByteArray prefix;                 // "2003> " in a bank
        QByteArray shownDial;              // a bank's dial shown at its send: its echo is not shown again
        void send(const QByteArray& bytes) override;
        Link link() const override;
        void close() override;
        void reopen() override;
        void receive(const QByteArray& data);
    };

    // One run: everything it started with, so its end acts on its own task and links.
    struct Run {
        TForm1* window = nullptr;
        int row = 0;
        QString taskFile;
        QString type;
        LinkKind link = LinkKind::None;
        std::vector<std::unique_ptr<RunLine>> lines; // in port order
        std::unique_ptr<RunResults> results; // MonthList and its journals
        std::unique_ptr<TestCycle> cycle;    // RunList and the cycle's state
        bool recordFailureTold = false;      // a journal that cannot be written is told once a run
        QString taskName;
        int tested = 0, connected = 0, busy = 0, failed = 0; // by the day mark of each answer
        void closeLinks();
    };

    explicit EngineState(TForm1* window);
    ~EngineState() override;

    // Shows the text in an error box once the current handler has returned; a text already
    // waiting or shown is not repeated, and one box is open at a time.
    void postMessage(const QString& text);
    bool messageOpen() const { return showing_; }
    QStringList pendingMessages() const { return queue_; }

    CommLog log;
    CommLogView* view = nullptr;
    Scheduler scheduler;
    std::unique_ptr<Run> run;
    // Tests whose month file could not be written (a full disk, an unwritable folder): kept
    // here, carried into the next run and written at the first chance.
    std::unique_ptr<RunResults> unsaved;
    qint64 lastUnsavedTryMs = 0;
    bool windingUp = false; // a run's end is being made: no new run may start meanwhile
    QString lastRunSummary; // what the notification area told of the last run's end
    QRect edit1Geometry;    // Edit1 as laid out; it grows to the left for a bank's states

private:
    void showNext();

    TForm1* window_;
    QStringList queue_; // the first one is shown while showing_
    bool showing_ = false;
    bool scheduled_ = false;
};
