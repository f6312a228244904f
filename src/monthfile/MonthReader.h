#pragma once
// One month of results as its readers see it: the month file, with the journal of a run that is
// still going when its header names that very file, read in memory only. A channel is every line
// with its label (direction, exchange and channel): after a change of its dial string the month
// holds a line of each, and their tests are one channel's, merged by time. The report reads a
// month from its file, the results page from the lines it holds.

#include "MonthResults.h"
#include "ResultGroups.h"
#include "ResultJournal.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>
#include <QVector>
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

namespace monthfile {

// A month file or journal that cannot be read: `text` for the operator (Bulgarian), `status` a
// short line in English for a monitoring system.
class ReadError : public std::exception {
public:
    ReadError(QString text, QString status) : text_(std::move(text)), status_(std::move(status)) {}
    const QString& text() const { return text_; }
    const QString& status() const { return status_; }
    const char* what() const noexcept override { return "month file read error"; }

private:
    QString text_, status_;
};

// How a month's files are opened: open(2) unless `open` is set. A stand-in gives the refusals a
// root test run never meets (permission denied) or a file system that hangs.
struct FileAccess {
    std::function<int(const QByteArray& path, int flags)> open;
    int openPath(const QString& path, int flags) const;
};

// Opens a file for reading without waiting for it; -1 when there is none. A FIFO, a device or a
// folder is refused and so is a file the user may not read (ReadError); `what` names the file in
// Bulgarian ("Файлът с резултати").
int OpenRegular(const FileAccess& files, const QString& path, const QString& what);

// A test as the day marks see it: its day, its mark and its minute of the day.
struct DayTest {
    quint8 day;
    Mark mark;
    quint16 minute;
};
inline int MinuteOfMonth(const DayTest& t) {
    return (t.day - 1) * 1440 + t.minute;
}
using DayTests = QVarLengthArray<DayTest, 128>;
// The tests of one results line in Windows-1251, as ResultGroups reads them, within days
// 1..`days`; read from the bytes, without decoding the line, where its fields are plain.
void LineTests(QByteArrayView line, int days, DayTests& out);
// The same for a decoded line.
void LineTests(QStringView line, int days, DayTests& out);
// The calendar day marks of tests in time order (index 0 unused), by MarkDay.
void MarkDays(const DayTests& tests, Mark (&marks)[32]);

// The order of the tests of a label's several lines, as indices into `tests`: by their minute in
// the month; tests of one minute keep the order of their lines in the file, then their own.
template <class Tests> QVarLengthArray<int, 128> TimeOrder(const Tests& tests) {
    QVarLengthArray<QPair<int, int>, 128> timed; // minute, index
    timed.reserve(tests.size());
    for (int i = 0; i < int(tests.size()); ++i)
        timed.append({MinuteOfMonth(tests[i]), i});
    std::stable_sort(timed.begin(), timed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QVarLengthArray<int, 128> order;
    order.reserve(timed.size());
    for (const auto& t : timed)
        order.append(t.second);
    return order;
}

// One channel's lines, decoded, and its tests within the month's days (views into the lines):
// a line's in its own order, several lines' in time order (TimeOrder).
struct ChannelTests {
    QStringList lines;
    QVector<ResultGroup> groups;
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
    // The channel of a label, or -1.
    int channel(const QString& label) const;
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
    qint64 minuteOf(const ResultGroup& g) const { return firstMinute() + MinuteOfMonth(g); }
    qint64 firstMinute() const { return firstDay_ * 1440; }

    void setBytes(QByteArray bytes);
    // Lines already decoded, as the results page holds them, in place of the bytes.
    void setLines(QStringList lines);
    // The records of a journal, added to the lines by MonthResults::AddResult, kept beside the
    // bytes instead of in a decoded copy of the whole file.
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
    mutable QHash<QString, int> channelOf_;      // by label, made on the first look-up
    mutable QByteArray marks_;                   // per channel, the marks of days 0..31
    mutable int latestDay_ = -1;
    mutable qint64 latestMinute_ = -1;
};

// Reads month `month` of `year` from `dir`. Returns false when neither the month file nor a
// journal for it exists; raises ReadError when one cannot be read or is no regular file, or
// when the month file holds a NUL byte.
bool LoadMonth(const QString& dir, int year, int month, Month& out, const FileAccess& files = {});
// The same for the channels of `labels` only, the file read through a small buffer and only
// their lines kept: a month wanted for a few channels beside another one held whole.
bool LoadMonthPart(const QString& dir, int year, int month, const QSet<QString>& labels, Month& out,
                   const FileAccess& files = {});
// The same from bytes already read (the fuzzer's way in); `journal` may be empty.
void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes);
// The results page's month: its lines as held, every test of days 1..31 kept.
Month MonthOfLines(const QStringList& lines);

// The test's local time: the month's day, hours and minutes of the timestamp (00:00 when they are
// not a time).
QDateTime TestTime(const Month& m, const ResultGroup& g);

} // namespace monthfile
