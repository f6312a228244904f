#pragma once
// The month results of one run: the month files it records into, each with its journal.
// A test goes to the file of the month in which it was recorded; every record is on the disk
// before record() returns; finish() rewrites the month files and drops their journals.

#include "MonthResults.h"
#include "ResultJournal.h"

#include <QDate>
#include <QDateTime>
#include <functional>
#include <map>
#include <memory>

class RunResults {
public:
    explicit RunResults(QString resultsDir);
    ~RunResults();

    // Loads the month of `date` (a journal still waiting for it is merged first).
    MonthResults& open(const QDate& date);
    // Records one test; the answer is sanitised. Raises FileError when the journal cannot be
    // written or the month file cannot be read; the record then stays in memory (and in the
    // journal where it could be written) and is written by finish().
    void record(const QString& key, const QString& answer, int delayHundredths, const QDateTime& when);
    // Writes every month file touched and removes its journal; a month opened by the run whose
    // file is missing is created empty. All months are tried; the first failure is raised
    // afterwards. The tests of a month that failed stay in memory and in its journal, so a
    // later finish() (or the next start's merge) writes them. A month file that could not be
    // read is never replaced.
    void finish();
    // Tests are waiting that no month file holds yet.
    bool hasUnsaved() const;
    // Every test recorded is on the disk, in its month file or its journal.
    bool allDurable() const;
    // What the operator is to be told that raised nothing: a journal set aside on loading.
    QStringList takeNotices();

    const MonthResults* month(const QDate& date) const;
    QString monthPath(const QDate& date) const;

private:
    struct Month {
        MonthResults results;
        bool loaded = false;                  // `results` holds the month file
        QList<ResultJournal::Record> waiting; // tests recorded while it could not be read
        ResultJournal journal;
        bool touched = false;     // holds tests not yet in the month file
        bool journalKept = false; // the journal on the disk holds some of them: append to it
        // The tests not yet in the month file on the disk, in order: a journal made anew (the
        // first was lost with its folder, or could not be written) is given all of them.
        QList<ResultJournal::Record> pending;
        bool journalStale = false; // the journal on the disk lacks some of `pending`
    };
    // Makes sure the month's journal holds every pending test; raises FileError.
    void writeJournal(const QString& journalPath, Month& m, const std::exception_ptr& unreadable);
    Month& monthOf(const QDate& date); // made on first use, not read yet
    // Reads the month file (a journal left for it is merged first) and adds the waiting tests.
    void load(const QString& name, Month& m);

    QString dir_;
    std::map<QString, std::unique_ptr<Month>> months_; // by file name
    QStringList notices_;
};

// Start-up: merges every journal left in the folder into its month file, and deletes the
// temporaries of month file writes cut short. Returns the number of records merged, and tells
// `merged` of each month file that got some; a failure is raised after all journals were tried.
int RecoverJournalsIn(const QString& resultsDir,
                      const std::function<void(const QString& monthFile, int tests)>& merged = {});
