#include "TestCycle.h"

#include "links/CommLog.h"
#include "shell/Clock.h"
#include "shell/Cp1251.h"
#include "shell/MyUtils.h"

#include <algorithm>

const QString TestCycle::kModemFailed =
    QStringLiteral("Модемът е блокирал или връзката с него е прекъснала!!!");
const QString TestCycle::kNoChannels = QStringLiteral("Задачата няма канали.");
const QString TestCycle::kPauseNotInteger = QStringLiteral("Паузата трябва да е цяло число.");

TestCycle::TestCycle(QStringList channels, const Clock& clock, ModemPort& port, const CommLog& log,
                     bool& stopRequested, Settings settings, Recorder recorder)
    : channels_(std::move(channels)), clock_(clock), port_(port), log_(log), stop_(stopRequested),
      settings_(std::move(settings)), record_(std::move(recorder)) {}

QString TestCycle::dialString(const QString& channelLine) {
    const qsizetype p = channelLine.indexOf(QStringLiteral("--> "));
    return channelLine.mid(p < 0 ? 3 : p + 4);
}

void TestCycle::send(const QString& text) {
    port_.send(Cp1251::encode(text));
}

qint64 TestCycle::secondsSinceMark() const {
    return (clock_.monotonicMs() - markMs_) / 1000;
}

int TestCycle::answerTicks() const {
    // Ticks handled since the dial; a timer that fell behind (a busy machine skips ticks)
    // must not make the modem look faster, so the ticks' worth of clock time counts too.
    const qint64 elapsedTicks = (clock_.monotonicMs() - dialMs_ + kTickMs / 2) / kTickMs;
    return std::max(tick_ - dialTick_, int(elapsedTicks));
}

void TestCycle::advance() {
    if (stop_) {
        index_ = channelCount();
        stop_ = false;
    } else {
        ++index_;
    }
}

TestCycle::Step TestCycle::tick() {
    Step s;
    ++tick_;
    s.shownState = state_;
    if (channels_.isEmpty()) {
        s.end = End::Normal;
        s.message = kNoChannels;
        return s;
    }
    if (settings_.sendInit) {
        if (tick_ == 2)
            send(settings_.initString + u'\r');
        else if (tick_ == 6)
            send(settings_.speedString + u'\r');
    }
    if (tick_ < kFirstDialTick)
        return s;
    if (!step(s))
        return s;
    s.gauge = index_ * 100 / channelCount();
    if (index_ == channelCount())
        s.end = End::Normal;
    return s;
}

bool TestCycle::step(Step& s) {
    switch (state_) {
    case Dial:
        dialLogLine_ = log_.commLineIndex();
        log_.keepLine(dialLogLine_ + 1); // the answer
        dialTick_ = tick_;
        dialMs_ = clock_.monotonicMs();
        send(QStringLiteral("atdt") + dialString(channels_[index_]) + u'\r');
        state_ = AwaitAnswer;
        break;
    case AwaitAnswer:
        // The same measure as the delay recorded, so no recorded delay exceeds the time-out.
        if (answerTicks() > kAnswerTimeoutTicks) {
            s.end = End::Error;
            s.message = kModemFailed;
            return false;
        }
        if (log_.commLineIndex() > dialLogLine_) {
            const QString answer = log_.line(dialLogLine_ + 1);
            record_(channels_[index_], answer, answerTicks() * 20, clock_.now());
            markMs_ = clock_.monotonicMs();
            if (answer.startsWith(QStringLiteral("CONNECT"))) {
                state_ = HoldConnection;
            } else {
                state_ = Pause;
                advance();
            }
        }
        break;
    case HoldConnection:
        if (secondsSinceMark() > kHoldSeconds) {
            send(QStringLiteral("+++ath0\r"));
            state_ = AwaitHangup;
        }
        break;
    case AwaitHangup: {
        if (secondsSinceMark() > kHangupSeconds) {
            s.end = End::Error;
            s.message = kModemFailed;
            return false;
        }
        const QString last = log_.line(log_.commLineIndex() - 1);
        if (last == QStringLiteral("OK") || last.startsWith(QStringLiteral("NO "))) {
            markMs_ = clock_.monotonicMs();
            state_ = Pause;
            advance();
        }
        break;
    }
    case Pause: {
        int pause = 0;
        if (!TryStrToInt(settings_.pauseText ? settings_.pauseText() : QString(), pause)) {
            s.end = End::Normal;
            s.message = kPauseNotInteger;
            return false;
        }
        if (secondsSinceMark() > pause)
            state_ = Dial;
        break;
    }
    }
    return true;
}
