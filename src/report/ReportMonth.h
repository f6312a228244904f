#pragma once
// One month of results as the report reads it: the month file, with the journal of a run that is
// still going when its header names that very file, read in memory only. A channel is every line
// with its label (direction, exchange and channel): after a change of its dial string the month
// holds a line of each, and their tests are one channel's.

#include "monthfile/ResultJournal.h"
#include "monthfile/ResultGroups.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>
#include <QVector>
#include <functional>
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

// How the report opens its folder and files: open(2) unless `open` is set. A stand-in gives
// the refusals a root test run never meets (permission denied) or a file system that hangs.
struct FileAccess {
    std::function<int(const QByteArray& path, int flags)> open;
    int openPath(const QString& path, int flags) const;
};

using monthfile::Mark;
using monthfile::MarkChar;
using monthfile::MarkOf;

// A test as the day marks see it: its day, its mark and its minute of the day (00:00 when its
// hours and minutes are no time).
struct DayTest {
    quint8 day;
    Mark mark;
    quint16 minute;
};
using DayTests = QVarLengthArray<DayTest, 128>;
// The tests of one results line in Windows-1251, as ResultGroups reads them, within days
// 1..`days`; read from the bytes, without decoding the line, where its fields are plain.
void LineTests(QByteArrayView line, int days, DayTests& out);
// The same for a decoded line.
void LineTests(QStringView line, int days, DayTests& out);
// The calendar day marks of tests in the order of `tests` (index 0 unused), by MarkDay.
void MarkDays(const DayTests& tests, Mark (&marks)[32]);

// Opens a file of the report for reading without waiting for it; -1 when there is none. A FIFO,
// a device or a folder is refused and so is a file the user may not read (ReportError); `what`
// names the file in Bulgarian ("Файлът с резултати").
int OpenRegular(const FileAccess& files, const QString& path, const QString& what);

using monthfile::ChannelParts;
using monthfile::SplitKey;

// One channel's lines, decoded, and its tests within the month's days (views into the lines) in
// time order; tests of one minute keep the file's order.
struct ChannelTests {
    QStringList lines;
    QVector<monthfile::ResultGroup> groups;
    int latest = 0;        // the line of the latest test: its dial string is the one shown
    QString key() const;   // field 0 of that line
    QString label() const; // as a person reads it, without the blank in front of the arrow
};

struct Month {
    QString path; // .../yymm.tst
    int year = 0, month = 0, days = 0;
    bool fileExists = false;
    QString journalPath;    // a journal read with the file, or empty
    int journalRecords = 0; // its records
    QString warning;        // a journal that could not be read, for the operator
    QVector<int> channels;  // per channel, its first line, in file order
    QStringList labels;     // per channel, its label

    // Lines are decoded when they are used, so a big month is held once, as its bytes.
    int lineCount() const { return int(spans_.size() + added_.size()); }
    QString line(int i) const;
    ChannelTests tests(int channel) const;
    int latestDay() const; // 0 without tests
    // A channel's calendar day mark, as DayMarks of its tests gives it.
    Mark dayMark(int channel, int day) const {
        marks();
        return Mark(marks_[qsizetype(channel) * 32 + day]);
    }
    // The local time of the latest test; invalid without tests.
    QDateTime latestTest() const;
    qint64 latestMinute() const; // as minuteOf(); -1 without tests
    QDate date(int day) const { return QDate(year, month, day); }
    // A test's local time in minutes from the start of the Julian day count (hours and minutes
    // that are not a time count as 00:00), so that tests of several months compare.
    qint64 minuteOf(const monthfile::ResultGroup& g) const {
        return firstMinute() + monthfile::MinuteOfMonth(g);
    }
    qint64 firstMinute() const { return firstDay_ * 1440; }

    void setBytes(QByteArray bytes);
    // The records of a journal, as MonthResults::AddResult would add them to the file's lines,
    // kept beside the bytes instead of in a decoded copy of the whole file.
    void addRecords(const QList<ResultJournal::Record>& records);
    // The channels of the lines read; the month's year and month are set.
    void index();
    // The file whose mapping the bytes are.
    void keepMapped(std::shared_ptr<QFile> file) { mapped_ = std::move(file); }

private:
    void marks() const;
    void channelTests(int channel, DayTests& out) const;
    QByteArrayView span(int i) const {
        return QByteArrayView(bytes_).sliced(spans_[i].first, spans_[i].second);
    }
    QString labelOf(int i) const;
    std::shared_ptr<QFile> mapped_;
    QByteArray bytes_;
    QVector<QPair<qsizetype, qsizetype>> spans_; // offset and length of each line in bytes_
    QHash<int, QString> tails_;                  // a journal's tests after a line of the file
    QStringList added_;                          // a journal's lines for keys the file lacks
    QVector<int> next_;                          // per line, the next line of its channel or -1
    qint64 firstDay_ = 0;                        // the Julian day of the month's first day
    mutable QByteArray marks_;                   // per channel, the marks of days 0..31
    mutable int latestDay_ = -1;
    mutable qint64 latestMinute_ = -1;
};

// Reads month `month` of `year` from `dir`. Returns false when neither the month file nor a
// journal for it exists; raises ReportError when one cannot be read or is no regular file, or
// when the month file holds a NUL byte.
bool LoadMonth(const QString& dir, int year, int month, Month& out, const FileAccess& files = {});
// The same from bytes already read (the fuzzer's way in); `journal` may be empty.
void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes);

// The test's local time: the month's day, hours and minutes of the timestamp (00:00 when they are
// not a time).
QDateTime TestTime(const Month& m, const monthfile::ResultGroup& g);

// What the morning list and the check cover: one calendar day of a month, or the hours up to the
// latest test over the months they reach. Tests from `from` to `to` (minutes, both included).
struct Period {
    QVector<const Month*> months; // oldest first; the last holds the latest test
    int day = 0;                  // a calendar day of the last month, or 0 for hours
    int hours = 0;
    QDateTime end; // hours: the latest test
    qint64 from = 0, to = -1;
    static Period ofDay(const Month& m, int day);
    // The months in time order, the latest test in the last one.
    static Period ofHours(QVector<const Month*> months, int hours);
};

// Every channel tested within the period, one per label over all its months, in the order the
// months first list them: its mark there (a connection wins, else its latest test) and its latest
// test, a view into `tests`.
// `channel` is the channel's index in `m`.
using ChannelVisit = std::function<void(const Month& m, int channel, const ChannelTests& tests,
                                        const monthfile::ResultGroup& latest, QChar mark)>;
void VisitPeriod(const Period& p, const ChannelVisit& visit);

} // namespace report
