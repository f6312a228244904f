#include "Run.h"

#include "links/TcpPorts.h"
#include "monthfile/ResultGroups.h"
#include "core/AppError.h"
#include "core/Clock.h"
#include "core/Cp1251.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"
#include "tasks/ChannelLine.h"
#include "tasks/TaskFile.h"

#include <utility>

Run::Run(const TaskRow& task, const RunSettings& settings, const Workspace& workspace,
         std::unique_ptr<RunResults>& unsaved, const Clock& clock, bool resume)
    : task_(task), settings_(settings) {
    // A pause from the settings file is read once, here; the window's box is read at every pause.
    int pause = 0;
    if (!settings.pauseText && (!TryStrToInt(settings.link.pause, pause) || pause < 0))
        throw AppError(TestCycle::kPauseNotInteger + QStringLiteral(" (%1: „%2“)")
                                                         .arg(QString::fromLatin1(LinkSettingsFile::FileName),
                                                              settings.link.pause));
    makeLines(settings);
    for (const std::unique_ptr<ModemLine>& line : lines_)
        line->open(); // raises: the lines made so far close as they go

    QStringList channels;
    results_ = unsaved ? std::move(unsaved) : std::make_unique<RunResults>(workspace.results);
    const QString file = workspace.file(task.file);
    try {
        channels = TextFile::readLines(file);
        if (!channels.isEmpty())
            channels.removeFirst();
        if (resume)
            channels = TaskProgress::remaining(channels, file);
        results_->open(clock.now().date());
        SetTaskFileStatus(file, TaskStatus::Started);
    } catch (...) {
        if (results_->hasUnsaved())
            unsaved = std::move(results_);
        closeLines();
        throw;
    }
    try {
        progress_.open(file, resume);
    } catch (const AppError& e) {
        progressFailureTold_ = true;
        notices_.append(e.text() + QStringLiteral(" Тест, прекъснат преди края си, ще започне отново от първия канал."));
    }
    // What no modem can dial is named once and left out; its test could not be stored either.
    QStringList bad;
    for (qsizetype i = 0; i < channels.size();) {
        const QString why = UndialableReason(channels[i]);
        if (why.isEmpty()) {
            ++i;
            continue;
        }
        bad.append(QStringLiteral("„%1“: %2").arg(channels[i].left(80), why));
        channels.removeAt(i);
    }
    if (!bad.isEmpty()) {
        constexpr int kNamed = 10;
        QString text = QStringLiteral("Задачата „%1“: %2 не се набира%3: ")
                           .arg(task.name,
                                bad.size() == 1 ? QStringLiteral("1 ред") : QStringLiteral("%1 реда").arg(bad.size()),
                                bad.size() == 1 ? QString() : QStringLiteral("т"));
        text += bad.mid(0, kNamed).join(QStringLiteral("; "));
        if (bad.size() > kNamed)
            text += QStringLiteral("; и още %1.").arg(bad.size() - kNamed);
        else
            text += u'.';
        notices_.append(text);
    }

    TestCycle::Settings s;
    s.sendInit = settings.link.sendInit;
    s.initString = settings.link.initString;
    s.speedString = settings.link.modemSpeed;
    s.pauseText = settings.pauseText ? settings.pauseText : [p = QString::number(pause)] { return p; };
    // A bank's modem server that reboots or a network cut costs minutes, not the night's run.
    s.reconnectMs = lines_.size() > 1 ? TestCycle::kReconnectMs : 0;
    s.retests = settings.link.retestCount;
    s.retestDelayMs = qint64(settings.link.retestMinutes) * 60 * 1000;
    QList<TestCycle::Line> cycleLines;
    for (const std::unique_ptr<ModemLine>& line : lines_)
        cycleLines.append({line.get(), &line->log(), line->name()});
    cycle_ = std::make_unique<TestCycle>(
        channels, clock, cycleLines, stop_, s,
        [this](const QString& key, const QString& answer, int delay, const QDateTime& when) {
            record(key, answer, delay, when);
        });
}

Run::~Run() = default;

TestCycle::Step Run::tick() {
    const TestCycle::Step step = cycle_->tick();
    Q_EMIT states(step.shownStates);
    if (step.gauge >= 0)
        Q_EMIT progress(step.gauge);
    if (step.end != TestCycle::End::None)
        Q_EMIT ended(step.end, step.message);
    return step;
}

void Run::makeLines(const RunSettings& settings) {
    const LinkSettings& link = settings.link;
    if (settings.makeLines) {
        lines_ = settings.makeLines();
    } else if (link.kind == LinkKind::Serial) {
        const int baud = StrToInt(link.speed);
        lines_.push_back(std::make_unique<SerialLine>(link.port, baud, settings.sharedLog, kOwnLogLines));
    } else if (link.kind == LinkKind::Tcp) {
        tcp_ = true;
        const QList<TcpPorts::Endpoint> modems = TcpPorts::endpoints(link.address, link.tcpPort);
        const bool bank = modems.size() > 1;
        for (const TcpPorts::Endpoint& m : modems)
            lines_.push_back(std::make_unique<TcpLine>(m.address, m.port, bank ? nullptr : settings.sharedLog,
                                                       kOwnLogLines, m.name));
    } else {
        lines_.push_back(std::make_unique<NoLine>(settings.sharedLog, kOwnLogLines));
    }
    // Each line's dialogue as the log shows it: a dial at once (its answer may take minutes),
    // and every completed line but the modem's echo of that dial.
    for (const std::unique_ptr<ModemLine>& line : lines_) {
        ModemLine* l = line.get();
        const QByteArray prefix = l->name().isEmpty() ? QByteArray() : Cp1251::encode(l->name()) + "> ";
        auto shownDial = std::make_shared<QByteArray>();
        connect(l, &ModemLine::sent, this, [this, prefix, shownDial](const QByteArray& bytes) {
            if (!bytes.startsWith("atdt"))
                return;
            *shownDial = bytes.endsWith('\r') ? bytes.chopped(1) : bytes;
            Q_EMIT logLine(prefix + *shownDial);
        });
        connect(l, &ModemLine::lineCompleted, this, [this, prefix, shownDial](const QByteArray& text) {
            if (!shownDial->isEmpty() && text == *shownDial) {
                shownDial->clear();
                return;
            }
            Q_EMIT logLine(prefix + text);
        });
    }
}

QChar Run::markOf(const QString& answer, int delayHundredths) {
    monthfile::ResultGroup g;
    g.answer = answer;
    g.delayIsNumber = true;
    g.delayValue = delayHundredths;
    return monthfile::DayMark(g);
}

void Run::record(const QString& key, const QString& answer, int delay, const QDateTime& when) {
    const QChar mark = markOf(answer, delay);
    if (cycle_ && cycle_->recordingRetest()) {
        ++retested_; // its channel is counted once, by its first test
    } else {
        ++tested_;
        if (mark == monthfile::kMarkConnect)
            ++connected_;
        else if (mark == monthfile::kMarkBusy)
            ++busy_;
        else
            ++failed_;
    }
    try {
        results_->record(key, answer, delay, when);
        noteDurable(key);
    } catch (const AppError& e) {
        // Kept in memory, tried again at every test and at the run's end; said at once, and
        // again once it is on the disk.
        notDurable_.append(key);
        if (!std::exchange(recordFailureTold_, true))
            Q_EMIT message(e.text() + QStringLiteral(" Тестовете се пазят в паметта и се записват, щом е възможно."));
        Q_EMIT journalFailed();
    }
    for (const QString& notice : results_->takeNotices())
        Q_EMIT message(notice);
    Q_EMIT recorded(key, answer, delay, when);
}

void Run::noteDurable(const QString& key) {
    if (recordFailureTold_ && !notDurable_.isEmpty())
        Q_EMIT message(QStringLiteral("Тестовете отново се записват на диска (%1 чакаха в паметта).")
                           .arg(notDurable_.size()));
    recordFailureTold_ = false;
    QStringList keys = std::exchange(notDurable_, {});
    if (!key.isEmpty())
        keys.append(key);
    for (const QString& k : keys) {
        try {
            progress_.append(k);
        } catch (const AppError& e) {
            if (!std::exchange(progressFailureTold_, true))
                Q_EMIT message(e.text() +
                               QStringLiteral(" Тест, прекъснат преди края си, ще започне отново от първия канал."));
        }
    }
}

QString Run::summary() const {
    QString text = QStringLiteral("Тествани канали: %1\nВръзка: %2, заето: %3, неуспешни: %4")
                       .arg(tested_)
                       .arg(connected_)
                       .arg(busy_)
                       .arg(failed_);
    if (settings_.link.retestCount > 0)
        text += QStringLiteral("\nПовторни тестове: %1; %2 потвърдени повреди, %3 преходни")
                    .arg(retested_)
                    .arg(confirmed_)
                    .arg(transient_);
    return text;
}

void Run::hangUp() {
    for (const std::unique_ptr<ModemLine>& line : lines_)
        line->send(QByteArrayLiteral("+++ath0\r"));
}

void Run::closeLines() {
    for (const std::unique_ptr<ModemLine>& line : lines_)
        line->close();
}

void Run::finishResults(std::unique_ptr<RunResults>& unsaved) {
    if (cycle_) {
        confirmed_ = cycle_->confirmedFailures();
        transient_ = cycle_->transientFailures();
    }
    cycle_.reset(); // RunList
    try {
        results_->finish();
    } catch (...) {
        if (results_->hasUnsaved())
            unsaved = std::move(results_);
        results_.reset();
        throw;
    }
    if (results_->hasUnsaved())
        unsaved = std::move(results_);
    else
        noteDurable(QString()); // every test is in its month file now
    results_.reset(); // MonthList
}
