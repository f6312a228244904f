#pragma once
// One month of results as the report reads it: the month file, with the journal of a run that is
// still going when its header names that very file, read in memory only. Channels and day marks
// follow the results page: a channel is the first line with its label.

#include "results/MonthView.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <stdexcept>

namespace report {

// A problem that stops the report: `text` for the operator (Bulgarian), `status` for the
// monitoring status line (English).
class ReportError : public std::exception {
public:
    ReportError(QString text, QString status) : text_(std::move(text)), status_(std::move(status)) {}
    const QString& text() const { return text_; }
    const QString& status() const { return status_; }
    const char* what() const noexcept override { return "report error"; }

private:
    QString text_, status_;
};

// The parts of a channel key "direction -- exchange  channel Ch. --> dial".
struct ChannelParts {
    QString direction, exchange, channel, dial;
};
ChannelParts SplitKey(QStringView key);

// One channel's results line, decoded, and its groups within the month's days (views into it).
struct ChannelTests {
    QString line;
    QVector<results::ResultGroup> groups;
    QString key() const;   // field 0
    QString label() const; // as a person reads it, without the blank in front of the arrow
};

struct Month {
    QString path; // .../yymm.tst
    int year = 0, month = 0, days = 0;
    bool fileExists = false;
    QString journalPath;    // a journal read with the file, or empty
    int journalRecords = 0; // its records
    QString warning;        // a journal that could not be read, for standard error
    QVector<int> channels;  // per channel, the line it takes, in file order

    // Lines are decoded when they are used, so a big month is held once, as its bytes.
    int lineCount() const { return decoded_ ? int(lines_.size()) : int(spans_.size()); }
    QString line(int i) const;
    ChannelTests tests(int channel) const;
    int latestDay() const; // 0 without tests
    // The local time of the latest test; invalid without tests.
    QDateTime latestTest() const;
    QDate date(int day) const { return QDate(year, month, day); }

    void setBytes(QByteArray bytes);
    void setLines(QStringList lines);
    // The file whose mapping the bytes are.
    void keepMapped(std::shared_ptr<QFile> file) { mapped_ = std::move(file); }

private:
    void scan() const;
    std::shared_ptr<QFile> mapped_;
    QByteArray bytes_;
    QVector<QPair<qsizetype, qsizetype>> spans_; // offset and length of each line in bytes_
    bool decoded_ = false;
    QStringList lines_;
    mutable int latestDay_ = -1;
    mutable int latestMinute_ = -1;
};

// Reads month `month` of `year` from `dir`. Returns false when neither the month file nor a
// journal for it exists; raises ReportError when one cannot be read.
bool LoadMonth(const QString& dir, int year, int month, Month& out);
// The same from bytes already read (the fuzzer's way in); `journal` may be empty.
void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes);

// The test's local time: the month's day, hours and minutes of the timestamp (00:00 when they are
// not a time).
QDateTime TestTime(const Month& m, const results::ResultGroup& g);

} // namespace report
