#include "TestCycle.h"

#include "links/CommLog.h"
#include "monthfile/ChannelKey.h"
#include "core/Clock.h"
#include "core/Cp1251.h"
#include "core/MyUtils.h"
#include "monthfile/ResultGroups.h"

#include <algorithm>
#include <utility>

const QString TestCycle::kModemFailed =
    QStringLiteral("Модемът е блокирал или връзката с него е прекъснала!!!");
const QString TestCycle::kNoChannels = QStringLiteral("Задачата няма канали.");
const QString TestCycle::kPauseNotInteger = QStringLiteral("Паузата трябва да е цяло число.");

TestCycle::TestCycle(QStringList channels, const Clock& clock, ModemPort& port, const CommLog& log,
                     bool& stopRequested, Settings settings, Recorder recorder)
    : TestCycle(std::move(channels), clock, QList<Line>{{&port, &log, QString()}}, stopRequested,
                std::move(settings), std::move(recorder)) {}

TestCycle::TestCycle(QStringList channels, const Clock& clock, const QList<Line>& lines, bool& stopRequested,
                     Settings settings, Recorder recorder)
    : queue_(std::move(channels)), clock_(clock), stop_(stopRequested), settings_(std::move(settings)),
      record_(std::move(recorder)), startMs_(clock.monotonicMs()) {
    if (settings_.retests > 0)
        answers_.resize(size_t(queue_.count()));
    lines_.reserve(size_t(lines.size()));
    for (const Line& line : lines) {
        ModemLine l;
        l.port = line.port;
        l.log = line.log;
        l.name = line.name;
        lines_.push_back(l);
    }
}

QString TestCycle::dialString(const QString& channelLine) {
    return monthfile::DialString(channelLine);
}

QString TestCycle::bankNotice(const QStringList& leftPorts, const QStringList& untested) {
    QStringList parts;
    if (leftPorts.size() == 1)
        parts.append(QStringLiteral("Модемът на порт %1 излезе от теста: не отговори или връзката с него прекъсна.")
                         .arg(leftPorts[0]));
    else if (leftPorts.size() > 1)
        parts.append(QStringLiteral("Модемите на портове %1 излязоха от теста: не отговориха или връзката с тях "
                                    "прекъсна.")
                         .arg(leftPorts.join(QStringLiteral(", "))));
    if (untested.size() == 1) {
        parts.append(QStringLiteral("Каналът %1 не е тестван: два модема не получиха отговор при набирането му.")
                         .arg(untested[0]));
    } else if (untested.size() > 1) {
        parts.append(QStringLiteral("Два модема не получиха отговор при набирането на всеки от тези канали:"));
        for (const QString& channel : untested)
            parts.append(QStringLiteral("%1 не е тестван.").arg(channel));
    }
    return parts.join(u'\n');
}

QString TestCycle::awayNotice(const QString& line, qint64 ms) {
    const qint64 seconds = ms / 1000;
    const QString span = seconds >= 60 ? QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60)
                                       : QStringLiteral("%1 с").arg(seconds);
    return QStringLiteral("%1 — без връзка %2").arg(line, span);
}

qint64 TestCycle::awayMs(int line) const {
    const ModemLine& l = lines_[size_t(line)];
    return l.awayTotalMs + (l.awaySinceMs >= 0 ? clock_.monotonicMs() - l.awaySinceMs : 0);
}

QString TestCycle::bankNotice() const {
    QStringList parts;
    const QString left = bankNotice(left_, untestedChannels());
    if (!left.isEmpty())
        parts.append(left);
    // The lines that came back (or were away at the end); those that left are named above.
    for (int i = 0; i < lineCount(); ++i)
        if (lines_[size_t(i)].phase != Phase::Left && awayMs(i) >= 1000)
            parts.append(awayNotice(lineName(i), awayMs(i)));
    return parts.join(u'\n');
}

QStringList TestCycle::untestedChannels() const {
    QStringList out;
    for (const int index : queue_.givenUp())
        out.append(queue_.channel(index));
    return out;
}

int TestCycle::channelIndex() const {
    const ModemLine& l = lines_[0];
    if (l.channel >= 0)
        return l.channel;
    return l.phase == Phase::Connecting ? 0 : channelCount();
}

void TestCycle::send(ModemLine& l, const QString& text) {
    l.port->send(Cp1251::encode(text));
}

qint64 TestCycle::secondsSinceMark(const ModemLine& l) const {
    return (clock_.monotonicMs() - l.markMs) / 1000;
}

int TestCycle::answerTicks(const ModemLine& l) const {
    // Ticks handled since the dial; a timer that fell behind (a busy machine skips ticks)
    // must not make the modem look faster, so the ticks' worth of clock time counts too.
    const qint64 elapsedTicks = (clock_.monotonicMs() - l.dialMs + kTickMs / 2) / kTickMs;
    return std::max(l.tick - l.dialTick, int(elapsedTicks));
}

int TestCycle::remaining() const {
    return int(std::count_if(lines_.begin(), lines_.end(),
                             [](const ModemLine& l) { return l.phase != Phase::Left; }));
}

// A modem's ticks begin: it takes its first channel, even under a stop, as one modem always
// tests the channel it started on.
void TestCycle::start(ModemLine& l) {
    l.phase = Phase::Working;
    l.channel = take(l);
}

// A channel this modem gave back goes to another, while another is there to test it.
int TestCycle::take(ModemLine& l) {
    l.retest = false;
    const int index = queue_.take(remaining() > 1 ? int(&l - lines_.data()) : -1);
    return index >= 0 || retests_.empty() ? index : takeRetest(l);
}

// The first retest due that this line may dial: not the one it failed itself while another
// line is up to dial it.
int TestCycle::takeRetest(ModemLine& l) {
    const int self = int(&l - lines_.data());
    bool otherUp = false;
    for (const ModemLine& o : lines_)
        otherUp = otherUp || (&o != &l && (o.phase == Phase::Working || o.phase == Phase::Recovering));
    const qint64 now = clock_.monotonicMs();
    for (auto it = retests_.begin(); it != retests_.end() && it->dueMs <= now; ++it) {
        if (it->line == self && otherUp)
            continue;
        const int index = it->channel;
        retests_.erase(it);
        ++answers_[size_t(index)].retests;
        l.retest = true;
        return index;
    }
    return -1;
}

void TestCycle::queueRetest(int channel, qint64 dueMs, int line) {
    const auto at = std::upper_bound(retests_.begin(), retests_.end(), dueMs,
                                     [](qint64 due, const PendingRetest& p) { return due < p.dueMs; });
    retests_.insert(at, PendingRetest{channel, dueMs, line});
}

void TestCycle::noteAnswer(ModemLine& l, const QString& answer, int delay) {
    monthfile::ResultGroup g;
    g.answer = answer;
    g.delayIsNumber = true;
    g.delayValue = delay;
    const bool failed = monthfile::DayMark(g) == monthfile::kMarkFailure;
    ++l.tests;
    l.failures += failed ? 1 : 0;
    if (answers_.empty())
        return;
    Answers& a = answers_[size_t(l.channel)];
    if (!failed) {
        a.good = true;
        return;
    }
    if (a.failures < 255)
        ++a.failures;
    a.lastLine = qint16(&l - lines_.data());
    if (!a.good && a.retests < settings_.retests)
        queueRetest(l.channel, clock_.monotonicMs() + settings_.retestDelayMs, a.lastLine);
}

void TestCycle::giveBack(ModemLine& l, bool dialled) {
    const int self = int(&l - lines_.data());
    if (!l.retest) {
        queue_.handBack(l.channel, dialled, self);
        return;
    }
    // A retest cut short is dialled again while its count allows.
    Answers& a = answers_[size_t(l.channel)];
    if (a.retests < settings_.retests)
        queueRetest(l.channel, clock_.monotonicMs(), self);
    l.retest = false;
}

// A retest on another modem is what tells a bad modem from bad channels; this names the
// modem whose failures stand out from the others'.
QStringList TestCycle::suspectModems() const {
    QStringList out;
    if (lines_.size() < 2)
        return out;
    qint64 tests = 0, failures = 0;
    for (const ModemLine& l : lines_) {
        tests += l.tests;
        failures += l.failures;
    }
    for (const ModemLine& l : lines_) {
        const qint64 otherTests = tests - l.tests, otherFailures = failures - l.failures;
        // Two failures at least: one is no sign of a modem.
        if (l.tests < kSuspectTests || l.failures < 2 || otherTests == 0)
            continue;
        // share >= 3 * others' share, in whole numbers
        if (qint64(l.failures) * otherTests < 3 * otherFailures * qint64(l.tests))
            continue;
        out.append(QStringLiteral("модемът на %1: %2 % неуспешни при %3 % за останалите")
                       .arg(l.name)
                       .arg(qRound(100.0 * l.failures / l.tests))
                       .arg(qRound(100.0 * double(otherFailures) / double(otherTests))));
    }
    return out;
}

int TestCycle::confirmedFailures() const {
    return int(std::count_if(answers_.begin(), answers_.end(),
                             [](const Answers& a) { return a.failures > 0 && a.retests > 0 && !a.good; }));
}

int TestCycle::transientFailures() const {
    return int(std::count_if(answers_.begin(), answers_.end(),
                             [](const Answers& a) { return a.failures > 0 && a.good; }));
}

// The channel is complete: the next one is taken now, so that a stop during the pause still
// lets it be tested.
void TestCycle::advance(ModemLine& l) {
    if (!l.retest)
        queue_.finish(l.channel);
    l.dialled = false;
    l.channel = stop_ ? -1 : take(l);
}

void TestCycle::leave(ModemLine& l) {
    if (l.channel >= 0) {
        if (l.state == HoldConnection || l.state == AwaitHangup) {
            if (!l.retest)
                queue_.finish(l.channel); // its answer is recorded
        } else {
            giveBack(l, l.dialled);
        }
    }
    l.channel = -1;
    l.dialled = false;
    l.retest = false;
    l.phase = Phase::Left;
    left_.append(l.name);
    l.port->close();
}

void TestCycle::lostConnection(ModemLine& l) {
    if (settings_.reconnectMs > 0)
        goAway(l);
    else
        leave(l);
}

// The connection went (a modem server rebooting, a network cut): the channel goes back to the
// queue uncounted, for the fault is not the channel's, and the line tries again, waiting 1, 2,
// 4 ... up to 60 s between tries, until it has been away for reconnectMs.
void TestCycle::goAway(ModemLine& l) {
    const qint64 now = clock_.monotonicMs();
    if (l.channel >= 0) {
        if (l.state == HoldConnection || l.state == AwaitHangup) {
            if (!l.retest)
                queue_.finish(l.channel); // its answer is recorded
        } else {
            giveBack(l, false);
        }
    }
    l.channel = -1;
    l.dialled = false;
    l.retest = false;
    l.state = Dial;
    if (l.awaySinceMs < 0) {
        l.awaySinceMs = now;
        l.backoffMs = kFirstBackoffMs;
    } else {
        l.backoffMs = std::min(l.backoffMs * 2, kMaxBackoffMs);
    }
    if (now - l.awaySinceMs >= settings_.reconnectMs) {
        leave(l);
        return;
    }
    l.phase = Phase::Away;
    l.trying = false;
    l.nextTryMs = now + l.backoffMs;
    l.port->close();
}

void TestCycle::reconnect(ModemLine& l) {
    const qint64 now = clock_.monotonicMs();
    if (!l.trying && now - l.awaySinceMs >= settings_.reconnectMs) {
        leave(l);
        return;
    }
    if (!l.trying) {
        if (now < l.nextTryMs)
            return;
        l.port->reopen();
        l.trying = true;
        l.recoveryMs = now;
    }
    switch (l.port->link()) {
    case ModemPort::Link::Up:
        // Back: initialised as after a recovery, then it takes channels again.
        l.phase = Phase::Recovering;
        l.recovery = ModemLine::Recovery::Init;
        l.recoveryMs = now;
        l.recoveryLogLine = l.log->commLineIndex();
        l.recoveryStrings = 0;
        recover(l);
        return;
    case ModemPort::Link::Connecting:
        if (now - l.recoveryMs < kConnectWaitMs)
            return;
        [[fallthrough]];
    case ModemPort::Link::Down:
        goAway(l);
        return;
    }
}

// A bank's modem that timed out: the channel it dialled goes to another modem (the second
// time-out on it gives it up), and the modem is brought back unless this was its last chance.
void TestCycle::timedOut(ModemLine& l) {
    if (l.channel >= 0) {
        if (l.state == AwaitAnswer)
            giveBack(l, true);
        else if (!l.retest)
            queue_.finish(l.channel); // hung up late: its answer is recorded
    }
    l.channel = -1;
    l.dialled = false;
    l.retest = false;
    l.state = Dial;
    if (++l.timeouts >= kMaxTimeouts) {
        leave(l);
        return;
    }
    l.phase = Phase::Recovering;
    l.recovery = ModemLine::Recovery::Escape;
    l.recoveryMs = clock_.monotonicMs();
    send(l, QStringLiteral("+++ath0\r"));
}

QStringList TestCycle::recoveryStrings() const {
    QStringList out;
    if (settings_.sendInit) {
        for (const QString& text : {settings_.initString, settings_.speedString})
            if (!text.trimmed().isEmpty())
                out.append(text);
    }
    if (out.isEmpty())
        out.append(QStringLiteral("at")); // the modem answers OK when it is back
    return out;
}

// Escape and hang up, close and reopen the connection, send the initialisation strings (one
// every 4 ticks, as at a run's start); the modem is back when it answers every one of them.
void TestCycle::recover(ModemLine& l) {
    using Recovery = ModemLine::Recovery;
    const qint64 now = clock_.monotonicMs();
    switch (l.recovery) {
    case Recovery::Escape:
        if (now - l.recoveryMs >= kEscapeWaitMs) {
            l.port->reopen();
            l.recovery = Recovery::Reconnect;
            l.recoveryMs = now;
        }
        return;
    case Recovery::Reconnect:
        switch (l.port->link()) {
        case ModemPort::Link::Down:
            lostConnection(l);
            return;
        case ModemPort::Link::Connecting:
            if (now - l.recoveryMs >= kConnectWaitMs)
                lostConnection(l);
            return;
        case ModemPort::Link::Up:
            l.recovery = Recovery::Init;
            l.recoveryMs = now;
            l.recoveryLogLine = l.log->commLineIndex();
            l.recoveryStrings = 0;
            break;
        }
        [[fallthrough]];
    case Recovery::Init: {
        const QStringList strings = recoveryStrings();
        if (now - l.recoveryMs >= qint64(l.recoveryStrings) * 4 * kTickMs) {
            send(l, strings[l.recoveryStrings] + u'\r');
            if (++l.recoveryStrings == strings.size()) {
                l.recovery = Recovery::AwaitAnswer;
                l.recoveryMs = now;
            }
        }
        return;
    }
    case Recovery::AwaitAnswer: {
        int answers = 0;
        for (int i = std::max(l.recoveryLogLine, l.log->firstKeptIndex()); i < l.log->commLineIndex(); ++i) {
            const QString line = l.log->line(i).trimmed();
            if (line == QStringLiteral("OK") || line == QStringLiteral("ERROR"))
                ++answers;
        }
        if (answers >= l.recoveryStrings) {
            l.phase = Phase::Working; // its next tick dials the next channel
            l.state = Dial;
            if (l.awaySinceMs >= 0)
                l.awayTotalMs += now - std::exchange(l.awaySinceMs, -1);
        } else if (l.awaySinceMs >= 0 && l.port->link() != ModemPort::Link::Up) {
            goAway(l); // dropped again before its modem answered
        } else if (now - l.recoveryMs >= kRecoveryAnswerMs) {
            if (l.awaySinceMs >= 0)
                goAway(l); // a server back before its modems: tried again while it may be
            else
                leave(l);
        }
        return;
    }
    }
}

TestCycle::Step TestCycle::tick() {
    Step s;
    s.shownState = lines_[0].state;
    for (const ModemLine& l : lines_)
        s.shownStates += l.phase == Phase::Left ? QStringLiteral("-") : QString::number(l.state);
    if (channelCount() == 0) {
        ++lines_[0].tick;
        s.end = End::Normal;
        s.message = kNoChannels;
        return s;
    }
    bool stepped = false;
    const bool bank = lines_.size() > 1;
    for (ModemLine& l : lines_) {
        if (l.phase == Phase::Left)
            continue;
        if (l.phase == Phase::Recovering) {
            recover(l);
            continue;
        }
        if (l.phase == Phase::Away) {
            reconnect(l);
            continue;
        }
        // The last modem left waits for no connection and leaves only when it cannot be
        // brought back.
        const bool last = remaining() == 1;
        if (l.phase == Phase::Connecting) {
            const ModemPort::Link link = last ? ModemPort::Link::Up : l.port->link();
            if (link == ModemPort::Link::Up) {
                start(l);
            } else {
                if (link == ModemPort::Link::Down || clock_.monotonicMs() - startMs_ >= kConnectWaitMs)
                    lostConnection(l);
                continue;
            }
        } else if (!last && l.port->link() == ModemPort::Link::Down) {
            // An answer that arrived before the connection went still counts.
            if (l.state == AwaitAnswer && l.tick >= kFirstDialTick)
                step(l);
            lostConnection(l);
            continue;
        }
        switch (tickLine(l)) {
        case Outcome::Waiting:
            break;
        case Outcome::Stepped:
            stepped = true;
            break;
        case Outcome::TimedOut:
            if (!bank) {
                s.end = End::Error;
                s.message = kModemFailed;
                return s;
            }
            timedOut(l);
            break;
        case Outcome::BadPause:
            s.end = End::Normal;
            s.message = kPauseNotInteger;
            return s;
        }
    }
    if (remaining() == 0) {
        s.end = End::Error;
        s.message = kModemFailed;
        return s;
    }
    bool busy = false;       // a modem holds a channel
    bool connecting = false; // a modem will take one when it connects
    for (const ModemLine& l : lines_) {
        busy = busy || l.channel >= 0;
        connecting = connecting || l.phase == Phase::Connecting;
    }
    if (stepped)
        s.gauge = channelsFinished() * 100 / channelCount();
    // Retests wait for their time while the run is not being stopped.
    const bool retestsDue = !retests_.empty() && !stop_;
    if (!busy && !retestsDue && (!queue_.waiting() || (stop_ && !connecting))) {
        s.end = End::Normal;
        s.gauge = 100;
        stop_ = false; // honoured by every modem
    }
    return s;
}

TestCycle::Outcome TestCycle::tickLine(ModemLine& l) {
    ++l.tick;
    if (settings_.sendInit) {
        if (l.tick == 2)
            send(l, settings_.initString + u'\r');
        else if (l.tick == 6)
            send(l, settings_.speedString + u'\r');
    }
    if (l.tick < kFirstDialTick)
        return Outcome::Waiting;
    return step(l);
}

TestCycle::Outcome TestCycle::step(ModemLine& l) {
    const CommLog& log = *l.log;
    switch (l.state) {
    case Dial:
        if (l.channel < 0 && !stop_)
            l.channel = take(l); // a channel another modem gave back
        if (l.channel < 0)
            break;
        l.dialLogLine = log.commLineIndex();
        log.keepLine(l.dialLogLine + 1); // the answer
        l.dialTick = l.tick;
        l.dialMs = clock_.monotonicMs();
        l.dialled = true;
        send(l, QStringLiteral("atdt") + dialString(queue_.channel(l.channel)) + u'\r');
        l.state = AwaitAnswer;
        break;
    case AwaitAnswer: {
        // Read once: the same measure as the delay recorded, so no recorded delay exceeds the
        // time-out.
        const int ticks = answerTicks(l);
        if (ticks > kAnswerTimeoutTicks)
            return Outcome::TimedOut;
        if (log.commLineIndex() > l.dialLogLine) {
            const QString answer = log.line(l.dialLogLine + 1);
            recordingRetest_ = l.retest;
            record_(queue_.channel(l.channel), answer, ticks * 20, clock_.now());
            recordingRetest_ = false;
            noteAnswer(l, answer, ticks * 20);
            l.markMs = clock_.monotonicMs();
            if (answer.startsWith(QStringLiteral("CONNECT"))) {
                l.state = HoldConnection;
            } else {
                l.state = Pause;
                advance(l);
            }
        }
        break;
    }
    case HoldConnection:
        if (secondsSinceMark(l) > kHoldSeconds) {
            send(l, QStringLiteral("+++ath0\r"));
            l.state = AwaitHangup;
        }
        break;
    case AwaitHangup: {
        if (secondsSinceMark(l) > kHangupSeconds)
            return Outcome::TimedOut;
        const QString last = log.line(log.commLineIndex() - 1);
        if (last == QStringLiteral("OK") || last.startsWith(QStringLiteral("NO "))) {
            l.markMs = clock_.monotonicMs();
            l.state = Pause;
            advance(l);
        }
        break;
    }
    case Pause: {
        int pause = 0;
        if (!TryStrToInt(settings_.pauseText ? settings_.pauseText() : QString(), pause))
            return Outcome::BadPause;
        if (secondsSinceMark(l) > pause)
            l.state = Dial;
        break;
    }
    }
    return Outcome::Stepped;
}
