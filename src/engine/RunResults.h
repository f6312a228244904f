#pragma once
// The month results of one run: the month files it records into, each with its journal.
// A test goes to the file of the month in which it was recorded; every record is on the disk
// before record() returns; finish() rewrites the month files and drops their journals.

#include "MonthResults.h"
#include "ResultJournal.h"

#include <QDate>
#include <QDateTime>
#include <map>
#include <memory>

class RunResults {
public:
    explicit RunResults(QString resultsDir);
    ~RunResults();

    // Loads the month of `date` (a journal still waiting for it is merged first).
    MonthResults& open(const QDate& date);
    // Records one test; the answer is sanitised. Raises FileError when the journal cannot be
    // written; the record then stays in memory and is written by finish().
    void record(const QString& key, const QString& answer, int delayHundredths, const QDateTime& when);
    // Writes every month file touched and removes its journal. All months are tried; the
    // first failure is raised afterwards. The tests of a month that failed stay in memory
    // and in its journal, so a later finish() (or the next start's merge) writes them.
    void finish();
    // Tests are waiting that no month file holds yet.
    bool hasUnsaved() const;

    const MonthResults* month(const QDate& date) const;
    QString monthPath(const QDate& date) const;

private:
    struct Month {
        MonthResults results;
        ResultJournal journal;
        bool touched = false;     // holds tests not yet in the month file
        bool journalKept = false; // the journal on the disk holds some of them: append to it
    };
    Month& monthOf(const QDate& date);

    QString dir_;
    std::map<QString, std::unique_ptr<Month>> months_; // by file name
};

// Start-up: merges every journal left in the folder into its month file. Returns the
// number of records merged; a failure is raised after all journals were tried.
int RecoverJournalsIn(const QString& resultsDir);
