#pragma once
// The results page's view of a month: the month grid's rows, the detail panel's rows and the
// day comments, read with the month file library's reader, result groups and day marks. A row
// shows its label's tests: after a change of a channel's dial string, those of both its lines,
// merged by time. No widgets.

#include "monthfile/MonthReader.h"
#include "monthfile/ResultGroups.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVector>

namespace results {

// The month file's own reading, under the names the results page has always used.
using monthfile::ChannelLabel;
using monthfile::DayMark;
using monthfile::DayMarks;
using monthfile::DaysInMonth;
using monthfile::DelayWithComma;
using monthfile::kBusyLimit;
using monthfile::kMarkBusy;
using monthfile::kMarkConnect;
using monthfile::kMarkFailure;
using monthfile::LineLabel;
using monthfile::MonthFileName;
using monthfile::MonthName;
using monthfile::MonthOfLines;
using monthfile::MonthTitle;
using monthfile::ParseInt;
using monthfile::ResultGroup;
using monthfile::ResultGroups;
using monthfile::ShownDelay;
using monthfile::TestTime;

inline constexpr int kDetailRows = 13;

// The tests a grid row shows: those of every line of the month with its label, merged by time
// (a line's alone in its own order). A row without a label shows the first line without one.
monthfile::ChannelTests RowTests(const monthfile::Month& month, const QString& label);

// Width of each day column of the month grid.
inline int DayColumnWidth(int days) {
    return 530 / days - 1;
}
// The rows 1.. of the month grid (colCount cells each: number, label, the day marks).
// labels[0] is the header of the label column; fewer than two labels give one empty row.
// A row takes the marks of its RowTests; a day shows "Р" if any test that day connected,
// otherwise the mark of its last test.
QVector<QStringList> MonthGridRows(const QStringList& labels, const QStringList& viewList, int colCount);

// The detail panel's rows for one day: answer, delay with the comma, time; at most 13.
struct DetailRow {
    QString answer;
    QString delay;
    QString time;
};
QVector<DetailRow> DetailRows(const QVector<ResultGroup>& groups, int day);
QVector<DetailRow> DetailRows(QStringView line, int day);
// label + " за  " + dd.mm.yyyy + "г."
QString DetailTitle(const QString& label, int day, int month, int year);

// The comment of one day cell: one line per test of that day, each ended by a line feed;
// only "BUSY" shows its delay. Scanning stops at the first group of a later day.
QString DayComment(const QVector<ResultGroup>& groups, int day);
QString DayComment(QStringView line, int day);
// The comments of days 1..days in one pass (index 0 unused), same rule.
QVector<QString> DayComments(const QVector<ResultGroup>& groups, int days);
QVector<QString> DayComments(QStringView line, int days);

// Control characters other than the line feed dropped, so the text is valid in a workbook.
QString CleanText(const QString& text);

} // namespace results
