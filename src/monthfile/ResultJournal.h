#pragma once
// The append-only journal beside a month results file: every recorded test reaches the disk
// at once, while the month file itself is rewritten only at a run's end. A journal left by a
// crash is merged into its month file at the next start; the merge is idempotent.

#include "MonthResults.h"

#include <QList>
#include <QString>
#include <optional>

class ResultJournal {
public:
    struct Record {
        QString key, answer, delay, stamp;
        bool operator==(const Record&) const = default;
    };
    struct Contents {
        bool headerValid = false;
        bool baseKnown = false;    // the header names the month file state the records go on
        FileFingerprint base;      // the month file the records are to be added to
        FileFingerprint rewritten; // the same as the program writes it (CR LF after every line)
        QList<Record> records;
        QList<int> unreadLines; // 1-based: lines that are no header and no record (line 1 when
                                // the header is damaged or missing)
        // The tests of a run still going on the month file as it was read: the header names
        // that very file (or its absence).
        bool continues(const FileFingerprint& monthAsRead) const {
            return headerValid && baseKnown && base == monthAsRead && !records.isEmpty();
        }
    };

    // "2405.tst" -> "2405.jrn" in the same folder.
    static QString pathFor(const QString& monthPath);
    // The month file's lines with the tests of a run still going (its journal's, when the
    // journal continues the file as read), in memory only: nothing is written or deleted.
    // Raises FileError when the month file cannot be read; a journal that cannot is left out.
    static QStringList currentLines(const QString& monthPath);

    ResultJournal() = default;
    ~ResultJournal();
    ResultJournal(const ResultJournal&) = delete;
    ResultJournal& operator=(const ResultJournal&) = delete;

    // Creates the journal naming the month file state `base` (none: a month file that could
    // not be read), and `rewritten`, that file as a rewrite leaves it where that differs;
    // durable when it returns.
    void create(const QString& path, const std::optional<FileFingerprint>& base,
                const std::optional<FileFingerprint>& rewritten = std::nullopt);
    // Opens the journal closed earlier for further records, after those it holds.
    void reopen();
    bool isOpen() const { return fd_ >= 0; }
    // Appends one record and waits until it is on the disk.
    void append(const Record& record);
    void close();
    // Closes and deletes the journal file (after its records reached the month file).
    void remove();
    const QString& path() const { return path_; }

    // Reads a journal: every intact record line, whatever became of the others. A damaged line
    // is noted in unreadLines; a last line without its line end (the record being written when
    // the program stopped) is read when whole and otherwise left out unnoted.
    static Contents read(const QString& path);
    // The same from the journal's bytes.
    static Contents parse(QByteArrayView bytes);
    // Brings the month file up to date with the journal, then deletes the journal. The records
    // are merged when the month file is the one the header names; the journal is dropped
    // unmerged only when its records are verifiably in the month file already (the crash came
    // after its rewrite). Without the header's word, the month file decides: no record there,
    // they are merged; every record the last of its channel's line, dropped. A journal with a
    // line that could not be read is never deleted, as that line may have held a test: what
    // could be read is merged or dropped as above, and the journal kept aside. Any journal kept
    // aside is under a name of its own and FileError tells where. Returns the number of records
    // merged.
    static int recover(const QString& journalPath, const QString& monthPath);

private:
    void writeDurably(const QByteArray& bytes);

    QString path_;
    int fd_ = -1;
    qint64 seq_ = 0;
    bool torn_ = false;
};

// Makes a directory entry change (a created, renamed or deleted file) durable.
void SyncDirectory(const QString& dirPath);
