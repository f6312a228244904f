#pragma once
// The channel test cycle of one run: a state machine advanced by tick() every 200 ms that
// dials each channel through the modem, reads the answer from the communication log,
// records it, hangs up a connected call and pauses before the next channel. A bank of modems
// is one such line per modem, all taking their channels from one queue; a single modem is
// the bank of one. It never waits and never shows anything itself: the window acts on what
// tick() returns.

#include "engine/ChannelQueue.h"
#include "links/ModemPort.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

class Clock;
class CommLog;

class TestCycle {
public:
    enum State { Dial = 0, AwaitAnswer = 1, HoldConnection = 2, AwaitHangup = 3, Pause = 4 };
    enum class End { None, Normal, Error };
    // Connecting: its ticks have not begun (a bank's modem whose connection is not up yet).
    // Recovering: a bank's modem that timed out is being brought back before its next channel.
    // Away: a bank's modem whose connection was refused or dropped, tried again with a back-off.
    enum class Phase { Connecting, Working, Recovering, Left, Away };

    static constexpr int kTickMs = 200;
    static constexpr int kFirstDialTick = 20;
    static constexpr int kAnswerTimeoutTicks = 900;
    static constexpr int kHoldSeconds = 10;   // hung up once more than this has passed
    static constexpr int kHangupSeconds = 20; // from the CONNECT answer
    static constexpr int kConnectWaitMs = 10000; // a bank's modem not connected by then leaves
    static constexpr int kEscapeWaitMs = 2000;   // after the hang-up of a recovery, before the reconnect
    static constexpr int kRecoveryAnswerMs = 10000; // for the modem's answer to its initialisation
    static constexpr int kMaxTimeouts = 3;          // a bank's modem leaves at its third time-out
    static constexpr qint64 kReconnectMs = 10 * 60 * 1000; // how long a bank's modem away is tried again
    static constexpr qint64 kFirstBackoffMs = 1000;         // doubled after every failed try...
    static constexpr qint64 kMaxBackoffMs = 60 * 1000;      // ...up to this

    static const QString kModemFailed;
    static const QString kNoChannels;
    static const QString kPauseNotInteger;

    struct Settings {
        bool sendInit = false;
        QString initString;
        QString speedString;
        std::function<QString()> pauseText; // read on every tick of the pause
        // How long a bank's modem whose connection was refused, dropped or not made is tried
        // again before it leaves; 0: it leaves at once.
        qint64 reconnectMs = 0;
        // When the queue is empty, each channel whose every answer in this run failed is
        // dialled again up to this many times, no sooner than retestDelayMs after its last
        // failure, by another modem than the one that failed while another one is up.
        int retests = 0;
        qint64 retestDelayMs = 0;
    };
    // One recorded test; it must not throw.
    using Recorder = std::function<void(const QString& key, const QString& answer, int delayHundredths,
                                        const QDateTime& when)>;

    // One modem of a bank: its link, the log its answers are read from, and its name (the port).
    struct Line {
        ModemPort* port = nullptr;
        const CommLog* log = nullptr;
        QString name;
    };

    struct Step {
        int shownState = 0;  // the first modem's state number as it stood before the step
        QString shownStates; // every modem's, in bank order; "-" for one that left
        int gauge = -1;      // the progress to show, -1: leave it
        End end = End::None; // the run is over: wind it up
        QString message;     // shown after the wind-up, when not empty
    };

    // One modem.
    TestCycle(QStringList channels, const Clock& clock, ModemPort& port, const CommLog& log,
              bool& stopRequested, Settings settings, Recorder recorder);
    // A bank: the lines in port order; each result of a tick is recorded in that order.
    TestCycle(QStringList channels, const Clock& clock, const QList<Line>& lines, bool& stopRequested,
              Settings settings, Recorder recorder);

    Step tick();

    // The first modem (the only one of a bank of one).
    int tickCount() const { return lines_[0].tick; }
    State state() const { return lines_[0].state; }
    // The channel it is testing or will test next; the number of channels once it has none.
    int channelIndex() const;
    int dialTick() const { return lines_[0].dialTick; }
    int dialLogLine() const { return lines_[0].dialLogLine; }

    int channelCount() const { return queue_.count(); }
    int channelsFinished() const { return queue_.finished(); }
    int lineCount() const { return int(lines_.size()); }
    QString lineName(int line) const { return lines_[size_t(line)].name; }
    Phase phase(int line) const { return lines_[size_t(line)].phase; }
    State state(int line) const { return lines_[size_t(line)].state; }
    int tickCount(int line) const { return lines_[size_t(line)].tick; }
    int channel(int line) const { return lines_[size_t(line)].channel; } // -1: none
    // The channel line of a channel index (as channel() gives it).
    const QString& channelLine(int index) const { return queue_.channel(index); }
    QStringList leftLines() const { return left_; } // names, in the order they left
    // The test being recorded is a retest of a failed channel (asked by the recorder).
    bool recordingRetest() const { return recordingRetest_; }
    // Channels retested that failed every time, and those that answered on a retest.
    int confirmedFailures() const;
    int transientFailures() const;
    // How long the line has been without its connection in this run, in milliseconds.
    qint64 awayMs(int line) const;
    // The channel lines given up after two modems timed out on them, in the order given up.
    QStringList untestedChannels() const;

    // The text dialled for a channel line: after its first "--> " (from its 4th character without one).
    static QString dialString(const QString& channelLine);
    // After a bank's run: the ports of the modems that left and the channels not tested; empty
    // when there is nothing to tell.
    static QString bankNotice(const QStringList& leftPorts, const QStringList& untested);
    QString bankNotice() const;
    // At a bank's end, the lines whose share of failed tests, over at least kSuspectTests of
    // theirs, is at least three times that of the other lines together, one sentence each.
    QStringList suspectModems() const;
    static constexpr int kSuspectTests = 10;
    // "10.0.0.6:4003 — без връзка 2 мин 10 с"
    static QString awayNotice(const QString& line, qint64 ms);

private:
    struct ModemLine {
        ModemPort* port = nullptr;
        const CommLog* log = nullptr;
        QString name;
        Phase phase = Phase::Connecting;
        int tick = 0;
        State state = Dial;
        int channel = -1;     // taken from the queue
        bool dialled = false; // its answer is awaited
        int dialLogLine = 0;
        int dialTick = 0;
        qint64 dialMs = 0;
        qint64 markMs = 0; // monotonic: a clock change must not cut a wait short
        int timeouts = 0;  // in this run
        // The recovery: the step it is at, when that began, and where its answers start.
        enum class Recovery { Escape, Reconnect, Init, AwaitAnswer } recovery = Recovery::Escape;
        qint64 recoveryMs = 0;
        int recoveryLogLine = 0;
        int recoveryStrings = 0; // sent so far
        // Away: since when (-1: it is not), the time away before, the next try and its wait.
        qint64 awaySinceMs = -1;
        qint64 awayTotalMs = 0;
        qint64 nextTryMs = 0;
        qint64 backoffMs = 0;
        bool trying = false;
        bool retest = false; // its channel is a retest
        int tests = 0, failures = 0; // recorded in this run
    };
    // A channel's answers in this run, kept only when the failed channels are retested.
    struct Answers {
        quint8 failures = 0;
        quint8 retests = 0; // dials taken for a retest
        bool good = false;  // an answer that was no failure
        qint16 lastLine = -1; // the line of its last failure
    };
    struct PendingRetest {
        int channel;
        qint64 dueMs;
        int line; // the line that failed on it last
    };
    enum class Outcome { Stepped, Waiting, TimedOut, BadPause };

    Outcome tickLine(ModemLine& l);
    Outcome step(ModemLine& l);
    void start(ModemLine& l);
    void advance(ModemLine& l);
    void leave(ModemLine& l);
    int take(ModemLine& l);
    int takeRetest(ModemLine& l);
    void noteAnswer(ModemLine& l, const QString& answer, int delay);
    void queueRetest(int channel, qint64 dueMs, int line);
    void giveBack(ModemLine& l, bool dialled); // an unrecorded channel goes back where it came from
    void timedOut(ModemLine& l);
    void recover(ModemLine& l);
    void goAway(ModemLine& l);
    void reconnect(ModemLine& l);
    void lostConnection(ModemLine& l); // away, or gone when it may not be tried again
    QStringList recoveryStrings() const;
    int remaining() const;
    qint64 secondsSinceMark(const ModemLine& l) const;
    int answerTicks(const ModemLine& l) const;
    static void send(ModemLine& l, const QString& text);

    ChannelQueue queue_;
    const Clock& clock_;
    bool& stop_;
    Settings settings_;
    Recorder record_;
    std::vector<ModemLine> lines_;
    QStringList left_;
    qint64 startMs_ = 0;
    std::vector<Answers> answers_;       // by channel; empty without retests
    std::deque<PendingRetest> retests_;  // by the time each is due
    bool recordingRetest_ = false;
};
