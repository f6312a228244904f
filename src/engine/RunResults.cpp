#include "RunResults.h"

#include "shell/AppError.h"

#include <QDir>
#include <QFile>
#include <optional>

RunResults::RunResults(QString resultsDir) : dir_(std::move(resultsDir)) {}

RunResults::~RunResults() = default;

QString RunResults::monthPath(const QDate& date) const {
    return QDir(dir_).filePath(MonthResults::fileName(date));
}

RunResults::Month& RunResults::monthOf(const QDate& date) {
    const QString name = MonthResults::fileName(date);
    auto it = months_.find(name);
    if (it != months_.end())
        return *it->second;
    const QString path = monthPath(date);
    const QString journal = ResultJournal::pathFor(path);
    if (QFile::exists(journal))
        ResultJournal::recover(journal, path);
    auto m = std::make_unique<Month>();
    m->results.load(path);
    return *months_.emplace(name, std::move(m)).first->second;
}

MonthResults& RunResults::open(const QDate& date) {
    return monthOf(date).results;
}

void RunResults::record(const QString& key, const QString& answer, int delayHundredths,
                        const QDateTime& when) {
    Month& m = monthOf(when.date());
    const ResultJournal::Record r{key, MonthResults::sanitizeAnswer(answer), QString::number(delayHundredths),
                                  when.toString(QStringLiteral("yyMMddhhmm"))};
    m.results.AddResult(r.key, r.answer, r.delay, r.stamp);
    m.touched = true;
    if (!m.journal.isOpen())
        m.journal.create(ResultJournal::pathFor(monthPath(when.date())), m.results.loadedFingerprint());
    m.journal.append(r);
}

void RunResults::finish() {
    std::optional<AppError> failure;
    for (auto& [name, m] : months_) {
        if (!m->touched)
            continue;
        try {
            const QString path = QDir(dir_).filePath(name);
            m->results.save(path);
            SyncDirectory(dir_);
            m->journal.remove();
            m->touched = false;
        } catch (const AppError& e) {
            m->journal.close();
            if (!failure)
                failure = e;
        }
    }
    if (failure)
        throw *failure;
}

const MonthResults* RunResults::month(const QDate& date) const {
    auto it = months_.find(MonthResults::fileName(date));
    return it == months_.end() ? nullptr : &it->second->results;
}

int RecoverJournalsIn(const QString& resultsDir) {
    const QDir dir(resultsDir);
    int merged = 0;
    std::optional<AppError> failure;
    for (const QString& name : dir.entryList({QStringLiteral("*.jrn")}, QDir::Files, QDir::Name)) {
        try {
            QString month = name;
            month.chop(4);
            merged +=
                ResultJournal::recover(dir.filePath(name), dir.filePath(month + QStringLiteral(".tst")));
        } catch (const AppError& e) {
            if (!failure)
                failure = e;
        }
    }
    if (failure)
        throw *failure;
    return merged;
}
