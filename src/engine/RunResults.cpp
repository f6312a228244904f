#include "RunResults.h"

#include "shell/AppError.h"

#include <QDir>
#include <QFile>
#include <exception>

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
    if (!m.journal.isOpen()) {
        // A journal kept from a failed write goes on; truncating it would drop its tests.
        if (m.journalKept && QFile::exists(m.journal.path()))
            m.journal.reopen();
        else
            m.journal.create(ResultJournal::pathFor(monthPath(when.date())), m.results.loadedFingerprint());
        m.journalKept = true;
    }
    m.journal.append(r);
}

bool RunResults::hasUnsaved() const {
    for (const auto& [name, m] : months_)
        if (m->touched)
            return true;
    return false;
}

void RunResults::finish() {
    std::exception_ptr failure; // the first, with its own type
    for (auto& [name, m] : months_) {
        if (!m->touched)
            continue;
        try {
            const QString path = QDir(dir_).filePath(name);
            m->results.save(path);
            m->touched = false;
            // The journal's tests are in the file now: a later test starts a new journal on it,
            // even if this one cannot be removed.
            m->journalKept = false;
            SyncDirectory(dir_);
            m->journal.remove();
        } catch (const AppError&) {
            m->journal.close();
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

const MonthResults* RunResults::month(const QDate& date) const {
    auto it = months_.find(MonthResults::fileName(date));
    return it == months_.end() ? nullptr : &it->second->results;
}

int RecoverJournalsIn(const QString& resultsDir) {
    const QDir dir(resultsDir);
    int merged = 0;
    std::exception_ptr failure; // the first, with its own type
    for (const QString& name : dir.entryList({QStringLiteral("*.jrn")}, QDir::Files, QDir::Name)) {
        try {
            QString month = name;
            month.chop(4);
            merged +=
                ResultJournal::recover(dir.filePath(name), dir.filePath(month + QStringLiteral(".tst")));
        } catch (const AppError&) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    return merged;
}
