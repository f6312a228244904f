#include "StationBridge.h"

#include "core/AppError.h"
#include "core/Clock.h"
#include "core/Cp1251.h"
#include "engine/Station.h"
#include "tasks/StatusButton.h"
#include "tasks/TaskFile.h"

namespace web {

const QStringList& LineStates() {
    static const QStringList states{QStringLiteral("dial"),       QStringLiteral("answer"),
                                    QStringLiteral("hold"),       QStringLiteral("hangup"),
                                    QStringLiteral("pause"),      QStringLiteral("connecting"),
                                    QStringLiteral("recovering"), QStringLiteral("away")};
    return states;
}

void LogRing::append(QString text, const QDateTime& time, bool message) {
    QMutexLocker lock(&mutex_);
    lines_.push_back({++last_, time, std::move(text), message});
    if (lines_.size() > size_t(kKeep))
        lines_.pop_front();
}

QVector<LogRing::Line> LogRing::since(quint64 seq, int max, quint64& next) const {
    QMutexLocker lock(&mutex_);
    next = last_;
    QVector<Line> out;
    if (lines_.empty() || seq >= last_)
        return out;
    const quint64 first = lines_.front().seq;
    quint64 from = std::max(seq + 1, first);
    if (last_ - from + 1 > quint64(max))
        from = last_ - quint64(max) + 1;
    out.reserve(int(last_ - from + 1));
    for (auto it = lines_.begin() + qsizetype(from - first); it != lines_.end(); ++it)
        out.append(*it);
    return out;
}

StationBridge::StationBridge(Station& station, const Clock& clock,
                             std::function<void(const QString&, bool)> log, QObject* parent)
    : QObject(parent), station_(station), clock_(clock), logLine_(std::move(log)) {
    current_.serviceStarted = clock_.now();
    current_.folder = station_.workspace().folder;
    connect(&station_, &Station::runStarted, this, &StationBridge::runStarted);
    connect(&station_, &Station::stepped, this, &StationBridge::publish);
    connect(&station_, &Station::woundUp, this, &StationBridge::publish);
    connect(&station_, &Station::checked, this, [this] {
        current_.lastCheck = clock_.now();
        publish();
    });
    connect(&station_, &Station::message, this,
            [this](const QString& text) { log_.append(text, clock_.now(), true); });
    publish();
}

std::shared_ptr<const StationView> StationBridge::view() const {
    QMutexLocker lock(&mutex_);
    return published_;
}

void StationBridge::runStarted(Run* run) {
    connect(run, &Run::logLine, this,
            [this](const QByteArray& line) { log_.append(Cp1251::decode(line), clock_.now(), false); });
    connect(run, &Run::recorded, this, [this](const QString&, const QString& answer, int delay) {
        const QChar mark = Run::markOf(answer, delay);
        ++current_.recorded[mark == u'Р' ? 0 : mark == u'З' ? 1 : 2];
    });
    connect(run, &Run::journalFailed, this, [this] { ++current_.journalFailures; });
    current_.run = RunView{};
    current_.run->started = clock_.now();
    publish();
}

void StationBridge::publish() {
    const Run* run = station_.run();
    if (!run) {
        current_.run.reset();
    } else {
        if (!current_.run)
            current_.run = RunView{};
        RunView& v = *current_.run;
        const TestCycle& c = run->cycle();
        v.task = run->task().name;
        v.file = run->task().file;
        v.type = run->task().type;
        v.channels = c.channelCount();
        v.done = c.channelsFinished();
        v.stopping = run->stopping();
        v.lines.resize(c.lineCount());
        for (int i = 0; i < c.lineCount(); ++i) {
            LineView& l = v.lines[i];
            l.name = c.lineName(i);
            switch (c.phase(i)) {
            case TestCycle::Phase::Connecting:
                l.state = LineStates()[5];
                break;
            case TestCycle::Phase::Recovering:
                l.state = LineStates()[6];
                break;
            case TestCycle::Phase::Left:
                l.state = LineStates()[7];
                break;
            case TestCycle::Phase::Working:
                l.state = LineStates()[int(c.state(i))];
                break;
            }
            const int channel = c.channel(i);
            l.channel = channel >= 0 ? c.channelLine(channel) : QString();
        }
    }
    ++current_.version;
    auto copy = std::make_shared<const StationView>(current_);
    QMutexLocker lock(&mutex_);
    published_ = std::move(copy);
}

namespace {
QJsonObject failure(const QString& text) {
    return QJsonObject{{QStringLiteral("error"), text}};
}
} // namespace

StationBridge::Outcome StationBridge::taskAction(const QString& file, const QString& action, const QString& who) {
    if (!station_.schedules())
        return {409, failure(QStringLiteral("Задачите на тази папка се изпълняват от друга програма."))};
    QStringList errors;
    const QList<TaskRow> rows = station_.readTasks(errors);
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const TaskRow& r) { return r.file == file; });
    if (row == rows.end())
        return {404, failure(QStringLiteral("Няма задача с файл %1.").arg(file))};
    const QString path = station_.workspace().file(file);
    const QString named = QStringLiteral("„%1“ (%2)").arg(row->name, file);
    const Run* run = station_.run();
    const bool running = run && run->task().file == file;
    if (action == u"start") {
        if (station_.busy())
            return {409, failure(QStringLiteral("Друга задача се изпълнява: „%1“.").arg(run ? run->task().name : QString()))};
        if (row->is(TaskStatus::Disabled))
            return {409, failure(QStringLiteral("Задачата е забранена: разрешете я, за да я стартирате."))};
        try {
            station_.startRun(*row, Station::kImmediateSettleMs);
        } catch (const AppError& e) {
            return {409, failure(e.text())};
        }
        logLine_(QStringLiteral("Уеб: %1 стартира задачата %2.").arg(who, named), false);
        return {200, QJsonObject{{QStringLiteral("status"), text(TaskStatus::Started)}}};
    }
    // The status button's caption for the status in the file, and what a click on it does.
    const QString caption = StatusButton::captionFor(row->status, QString());
    const bool fits = (action == u"disable" && caption == StatusButton::CaptionDisable) ||
                      (action == u"enable" && caption == StatusButton::CaptionEnable) ||
                      (action == u"stop" && (caption == StatusButton::CaptionStop || caption == StatusButton::CaptionWait));
    if (!fits)
        return {409, failure(caption.isEmpty()
                                 ? QStringLiteral("Задачата е в непознато състояние „%1“.").arg(row->status)
                                 : QStringLiteral("Задачата е „%1“: бутонът ѝ е „%2“.").arg(row->status, caption))};
    const StatusButton::Action a = StatusButton::clickAction(caption, running);
    try {
        if (a.newStatus)
            SetTaskFileStatus(path, *a.newStatus);
    } catch (const AppError& e) {
        return {500, failure(e.text())};
    }
    if (a.requestStop)
        station_.requestStop();
    QString done;
    if (a.requestStop)
        done = QStringLiteral("Уеб: %1 спря задачата %2: всеки модем завършва канала си.");
    else if (a.newStatus == TaskStatus::Disabled)
        done = QStringLiteral("Уеб: %1 забрани задачата %2.");
    else if (a.newStatus == TaskStatus::Waiting && action == u"enable")
        done = QStringLiteral("Уеб: %1 разреши задачата %2.");
    else if (a.newStatus == TaskStatus::Waiting)
        done = QStringLiteral("Уеб: %1 върна задачата %2 в „Чакаща“: тя не се изпълнява.");
    if (!done.isEmpty())
        logLine_(done.arg(who, named), false);
    const QString now = a.newStatus ? text(*a.newStatus) : row->status;
    return {200, QJsonObject{{QStringLiteral("status"), now},
                             {QStringLiteral("caption"), StatusButton::captionFor(now, caption)}}};
}

StationBridge::Outcome StationBridge::taskAdded(const QString& file, const QString& description, const QString& who) {
    logLine_(QStringLiteral("Уеб: %1 добави задачата %2 (%3).").arg(who, description, file), false);
    QJsonObject body{{QStringLiteral("file"), file}};
    try {
        station_.startImmediate(Station::ImmediateEvent::TasksChanged);
    } catch (const AppError& e) {
        logLine_(e.text(), true);
        body.insert(QStringLiteral("warning"), e.text());
    }
    return {201, body};
}

} // namespace web
