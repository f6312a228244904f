#pragma once
// The channel test cycle of one run: a state machine advanced by tick() every 200 ms that
// dials each channel through the modem, reads the answer from the communication log,
// records it, hangs up a connected call and pauses before the next channel. It never waits
// and never shows anything itself: the window acts on what tick() returns.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

class Clock;
class CommLog;

// The link as the cycle sees it; a string that cannot be sent now is dropped.
class ModemPort {
public:
    virtual ~ModemPort() = default;
    virtual void send(const QByteArray& bytes) = 0;
};

class TestCycle {
public:
    enum State { Dial = 0, AwaitAnswer = 1, HoldConnection = 2, AwaitHangup = 3, Pause = 4 };
    enum class End { None, Normal, Error };

    static constexpr int kTickMs = 200;
    static constexpr int kFirstDialTick = 20;
    static constexpr int kAnswerTimeoutTicks = 900;
    static constexpr int kHoldSeconds = 10;   // hung up once more than this has passed
    static constexpr int kHangupSeconds = 20; // from the CONNECT answer

    static const QString kModemFailed;
    static const QString kNoChannels;
    static const QString kPauseNotInteger;

    struct Settings {
        bool sendInit = false;
        QString initString;
        QString speedString;
        std::function<QString()> pauseText; // read on every tick of the pause
    };
    // One recorded test; it must not throw.
    using Recorder = std::function<void(const QString& key, const QString& answer, int delayHundredths,
                                        const QDateTime& when)>;

    struct Step {
        int shownState = 0;  // the state number as it stood before the step
        int gauge = -1;      // the progress to show, -1: leave it
        End end = End::None; // the run is over: wind it up
        QString message;     // shown after the wind-up, when not empty
    };

    TestCycle(QStringList channels, const Clock& clock, ModemPort& port, const CommLog& log,
              bool& stopRequested, Settings settings, Recorder recorder);

    Step tick();

    int tickCount() const { return tick_; }
    State state() const { return state_; }
    int channelIndex() const { return index_; }
    int channelCount() const { return int(channels_.size()); }
    int dialTick() const { return dialTick_; }
    int dialLogLine() const { return dialLogLine_; }
    // The text dialled for a channel line: after its first "--> " (from its 4th character without one).
    static QString dialString(const QString& channelLine);

private:
    bool step(Step& s); // false: the run ended inside the step
    void advance();
    qint64 secondsSinceMark() const;
    int answerTicks() const;
    void send(const QString& text);

    QStringList channels_;
    const Clock& clock_;
    ModemPort& port_;
    const CommLog& log_;
    bool& stop_;
    Settings settings_;
    Recorder record_;

    int tick_ = 0;
    State state_ = Dial;
    int index_ = 0;
    int dialLogLine_ = 0;
    int dialTick_ = 0;
    qint64 dialMs_ = 0;
    qint64 markMs_ = 0; // monotonic: a clock change must not cut a wait short
};
