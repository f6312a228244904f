#pragma once
// Reading a month results file for the results page: channel labels, result groups, day
// marks, the month grid's rows, the detail panel's rows and the day comments. No widgets.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVector>

namespace results {

inline constexpr QChar kMarkConnect = QChar(0x0420); // "Р"
inline constexpr QChar kMarkBusy = QChar(0x0417);    // "З"
inline constexpr QChar kMarkFailure = QChar(0x0413); // "Г"
inline constexpr int kBusyLimit = 2200;              // hundredths of a second
inline constexpr int kDetailRows = 13;

// The text up to and including the blank in front of the first " --> "; empty without one.
QString ChannelLabel(QStringView text);

// A decimal integer, optionally signed and surrounded by blanks (as StrToInt reads it).
bool ParseInt(QStringView text, int& value);

// One test of a results line. The views point into the line, which must outlive them.
struct ResultGroup {
    QStringView answer;
    QStringView delay;
    QStringView timestamp; // "yymmddhhnn"
    int day = 0;
    bool delayIsNumber = false;
    int delayValue = 0; // 0 unless delayIsNumber
};

// The result groups of a line in line order (groups = carets / 3). A group whose timestamp is
// short or whose day is not a number in 1..31 is left out, and so is a "BUSY" whose delay is not
// a number, since its mark depends on it; any other answer keeps its delay as stored.
QVector<ResultGroup> ResultGroups(QStringView line);

QChar DayMark(const ResultGroup& g);
// The day marks of days 1..lastDay of one line's groups (index 0 unused, a null QChar for a day
// without tests): "Р" if any test that day connected, otherwise the mark of its last test.
QVector<QChar> DayMarks(const QVector<ResultGroup>& groups, int lastDay);
// 2200 reads "22,00", 20 reads ",20", an empty delay a lone comma.
QString DelayWithComma(QStringView delay);
// A delay as a list shows it: with the comma when it is a number, otherwise as stored.
QString ShownDelay(const ResultGroup& g);
// "hh:nn" from characters 7 to 10 of the timestamp.
QString TestTime(QStringView timestamp);

// Label -> index of the first line of the list with that label.
class LabelIndex {
public:
    explicit LabelIndex(const QStringList& lines);
    int find(const QString& label) const { return index_.value(label, -1); }

private:
    QHash<QString, int> index_;
};

// Index of the first line with this label, or -1 (one linear pass, for single look-ups).
int FirstLineWithLabel(const QStringList& lines, const QString& label);

int DaysInMonth(int year, int month);
// Width of each day column of the month grid.
inline int DayColumnWidth(int days) {
    return 530 / days - 1;
}
// ResultsDir/yymm.tst; yy are the last two digits of the year, month counts from 1.
QString MonthFileName(const QString& resultsDir, int year, int month);
// "Данни за месец Март 2024 г."
QString MonthTitle(const QString& monthName, int year);
// "Януари" .. "Декември" for months 1..12.
QString MonthName(int month);

// The rows 1.. of the month grid (colCount cells each: number, label, the day marks).
// labels[0] is the header of the label column; fewer than two labels give one empty row.
// A row takes the marks of the first line with its label; a day shows "Р" if any test that day
// connected, otherwise the mark of its last test.
QVector<QStringList> MonthGridRows(const QStringList& labels, const QStringList& viewList, int colCount);

// The detail panel's rows for one day: answer, delay with the comma, time; at most 13.
struct DetailRow {
    QString answer;
    QString delay;
    QString time;
};
QVector<DetailRow> DetailRows(QStringView line, int day);
// label + " за  " + dd.mm.yyyy + "г."
QString DetailTitle(const QString& label, int day, int month, int year);

// The comment of one day cell: one line per test of that day, each ended by a line feed;
// only "BUSY" shows its delay. Scanning stops at the first group of a later day.
QString DayComment(QStringView line, int day);
// The comments of days 1..days of one line in one pass (index 0 unused), same rule.
QVector<QString> DayComments(QStringView line, int days);

// Control characters other than the line feed dropped, so the text is valid in a workbook.
QString CleanText(const QString& text);

} // namespace results
