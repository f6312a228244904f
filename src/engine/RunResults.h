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
    // first failure is raised afterwards (its journal stays, so nothing is lost).
    void finish();

    const MonthResults* month(const QDate& date) const;
    QString monthPath(const QDate& date) const;

private:
    struct Month {
        MonthResults results;
        ResultJournal journal;
        bool touched = false;
    };
    Month& monthOf(const QDate& date);

    QString dir_;
    std::map<QString, std::unique_ptr<Month>> months_; // by file name
};

// Start-up: merges every journal left in the folder into its month file. Returns the
// number of records merged; a failure is raised after all journals were tried.
int RecoverJournalsIn(const QString& resultsDir);
