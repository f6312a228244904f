#pragma once
// The engine's part of the window: the communication log and its display, the active run,
// the scheduler's memory and the engine's own messages, shown one at a time after the
// handler that raised them has returned.

#include "engine/RunResults.h"
#include "engine/Scheduler.h"
#include "engine/TestCycle.h"
#include "links/CommLog.h"

#include <QObject>
#include <QStringList>
#include <memory>

class CommLogView;
class TForm1;

class EngineState : public QObject {
    Q_OBJECT
public:
    enum class LinkKind { None, Serial, Tcp };

    // One run: everything it started with, so its end acts on its own task and link.
    struct Run : ModemPort {
        TForm1* window = nullptr;
        int row = 0;
        QString taskFile;
        QString type;
        LinkKind link = LinkKind::None;
        std::unique_ptr<RunResults> results; // MonthList and its journals
        std::unique_ptr<TestCycle> cycle;    // RunList and the cycle's state
        bool recordFailureTold = false;      // a journal that cannot be written is told once a run
        void send(const QByteArray& bytes) override;
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

private:
    void showNext();

    TForm1* window_;
    QStringList queue_; // the first one is shown while showing_
    bool showing_ = false;
    bool scheduled_ = false;
};
