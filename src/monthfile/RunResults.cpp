#include "RunResults.h"

#include "core/AppError.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <exception>
#include <utility>

RunResults::RunResults(QString resultsDir) : dir_(std::move(resultsDir)) {}

RunResults::~RunResults() = default;

QString RunResults::monthPath(const QDate& date) const {
    return QDir(dir_).filePath(MonthResults::fileName(date));
}

RunResults::Month& RunResults::monthOf(const QDate& date) {
    std::unique_ptr<Month>& m = months_[MonthResults::fileName(date)];
    if (!m)
        m = std::make_unique<Month>();
    return *m;
}

void RunResults::load(const QString& name, Month& m) {
    const QString path = QDir(dir_).filePath(name);
    const QString journal = ResultJournal::pathFor(path);
    // A journal of this object's own holds the waiting tests: it is not merged as a stranger's.
    if (!m.journalKept && QFile::exists(journal)) {
        try {
            ResultJournal::recover(journal, path);
        } catch (const AppError& e) {
            if (QFile::exists(journal))
                throw;
            notices_.append(e.text()); // set aside for the operator: the month goes on without it
        }
    }
    m.results.load(path);
    m.loaded = true;
    for (const ResultJournal::Record& r : std::exchange(m.waiting, {}))
        m.results.AddResult(r.key, r.answer, r.delay, r.stamp);
}

MonthResults& RunResults::open(const QDate& date) {
    Month& m = monthOf(date);
    if (!m.loaded)
        load(MonthResults::fileName(date), m);
    return m.results;
}

void RunResults::record(const QString& key, const QString& answer, int delayHundredths,
                        const QDateTime& when) {
    const ResultJournal::Record r{key, MonthResults::sanitizeAnswer(answer), QString::number(delayHundredths),
                                  when.toString(QStringLiteral("yyMMddhhmm"))};
    Month& m = monthOf(when.date());
    std::exception_ptr unreadable;
    if (!m.loaded) {
        try {
            load(MonthResults::fileName(when.date()), m);
        } catch (const AppError&) {
            unreadable = std::current_exception();
        }
    }
    if (m.loaded)
        m.results.AddResult(r.key, r.answer, r.delay, r.stamp);
    else
        m.waiting.append(r);
    m.touched = true;
    m.pending.append(r);
    const QString journalPath = ResultJournal::pathFor(monthPath(when.date()));
    const bool appendOnly = m.journal.isOpen() && !m.journalStale;
    try {
        if (appendOnly)
            m.journal.append(r);
        else
            writeJournal(journalPath, m, unreadable);
    } catch (const AppError&) {
        // Kept in memory; the next test (or the run's end) writes the journal anew.
        m.journal.close();
        m.journalStale = true;
        throw;
    }
    if (unreadable)
        std::rethrow_exception(unreadable);
}

void RunResults::writeJournal(const QString& journalPath, Month& m, const std::exception_ptr& unreadable) {
    // A journal kept from a failed month file write holds every pending test: it goes on.
    if (!m.journalStale && m.journalKept && QFile::exists(m.journal.path())) {
        m.journal.reopen();
        m.journal.append(m.pending.last());
        return;
    }
    // Another's journal waits for the unreadable file: the test stays in memory only.
    if (!m.loaded && !m.journalKept && QFile::exists(journalPath)) {
        if (unreadable)
            std::rethrow_exception(unreadable);
        throw FileError(QStringLiteral("Cannot create file %1.").arg(QDir::toNativeSeparators(journalPath)));
    }
    QDir().mkpath(dir_); // a Results folder removed meanwhile is made again
    m.journal.create(journalPath, m.loaded ? std::optional(m.results.loadedFingerprint()) : std::nullopt,
                     m.loaded ? std::optional(m.results.rewrittenFingerprint()) : std::nullopt);
    m.journalKept = true;
    for (const ResultJournal::Record& p : m.pending)
        m.journal.append(p);
    m.journalStale = false;
}

QStringList RunResults::takeNotices() {
    return std::exchange(notices_, {});
}

bool RunResults::allDurable() const {
    for (const auto& [name, m] : months_)
        if (m->journalStale && !m->pending.isEmpty())
            return false;
    return true;
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
        const QString path = QDir(dir_).filePath(name);
        // The month of a run comes into being at its end, tests or none.
        if (!m->touched && !(m->loaded && !QFile::exists(path)))
            continue;
        try {
            if (!m->loaded)
                load(name, *m);
            QDir().mkpath(dir_); // a Results folder removed meanwhile is made again
            m->results.save(path);
            m->touched = false;
            m->pending.clear();
            m->journalStale = false;
            // The journal's tests are in the file now: a later test starts a new journal on it,
            // even if this one cannot be removed.
            m->journalKept = false;
            SyncDirectory(dir_);
            m->journal.remove();
        } catch (const AppError&) {
            m->journal.close();
            if (!failure)
                failure = std::current_exception();
            // The tests are at least put into a journal anew, where one can be written.
            if (m->journalStale && !m->pending.isEmpty()) {
                try {
                    writeJournal(ResultJournal::pathFor(path), *m, {});
                    m->journal.close();
                } catch (const AppError&) {
                    m->journal.close();
                }
            }
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

const MonthResults* RunResults::month(const QDate& date) const {
    auto it = months_.find(MonthResults::fileName(date));
    return it == months_.end() ? nullptr : &it->second->results;
}

int RecoverJournalsIn(const QString& resultsDir,
                      const std::function<void(const QString& monthFile, int tests)>& merged) {
    TextFile::removeStaleTemporaries(resultsDir);
    const QDir dir(resultsDir);
    int total = 0;
    QStringList failures; // every journal is tried; all that went wrong is told together
    for (const QString& name : dir.entryList({QStringLiteral("*.jrn")}, QDir::Files, QDir::Name)) {
        try {
            QString month = name;
            month.chop(4);
            const QString file = dir.filePath(month + QStringLiteral(".tst"));
            const int n = ResultJournal::recover(dir.filePath(name), file);
            total += n;
            if (n > 0 && merged)
                merged(file, n);
        } catch (const AppError& e) {
            failures.append(e.text());
        }
    }
    if (!failures.isEmpty())
        throw FileError(failures.join(u'\n'));
    return total;
}
