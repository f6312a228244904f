#pragma once
// The result groups of a month results line and the day marks they give: what every reader of
// the month files (the results page, the report, the engine's counts) reads the same way. The
// month names and the file name of a month are here too.

#include "ChannelKey.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVector>
#include <cstring>

namespace monthfile {

inline constexpr QChar kMarkConnect = QChar(0x0420); // "Р"
inline constexpr QChar kMarkBusy = QChar(0x0417);    // "З"
inline constexpr QChar kMarkFailure = QChar(0x0413); // "Г"
inline constexpr int kBusyLimit = 2200;              // hundredths of a second

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

// A day mark as a small code, for tables of many channels and days.
enum class Mark : quint8 { None, Connect, Busy, Failure };
QChar MarkChar(Mark m); // a null QChar for None
Mark MarkOf(QChar mark);

// The mark of one test: "Р" for an answer that begins with "CONNECT", "З" for exactly "BUSY"
// within 22.00 s, "Г" for anything else. The same for the answer's Windows-1251 bytes.
constexpr Mark AnswerMark(bool connect, bool busy, int delay) {
    return connect ? Mark::Connect : busy && delay <= kBusyLimit ? Mark::Busy : Mark::Failure;
}
inline Mark AnswerMark(QStringView answer, int delay) {
    return AnswerMark(answer.startsWith(u"CONNECT"), answer == u"BUSY", delay);
}
// Inline comparisons: the report reads millions of answers from the bytes.
inline bool IsConnect(QByteArrayView answer) {
    return answer.size() >= 7 && std::memcmp(answer.data(), "CONNECT", 7) == 0;
}
inline bool IsBusy(QByteArrayView answer) {
    return answer.size() == 4 && std::memcmp(answer.data(), "BUSY", 4) == 0;
}
inline Mark AnswerMark(QByteArrayView answer, int delay) {
    return AnswerMark(IsConnect(answer), IsBusy(answer), delay);
}
inline QChar DayMark(const ResultGroup& g) {
    return MarkChar(AnswerMark(g.answer, g.delayValue));
}
// A day's mark after one more of its tests, taken in time order: "Р" once any test that day
// connected, otherwise the mark of its last test.
inline void MarkDay(Mark& day, Mark test) {
    if (day != Mark::Connect)
        day = test;
}
// The day marks of days 1..lastDay of groups in time order (index 0 unused, a null QChar for a
// day without tests), by MarkDay.
QVector<QChar> DayMarks(const QVector<ResultGroup>& groups, int lastDay);

// hh * 60 + nn of a timestamp "yymmddhhnn"; 0 (00:00) when its hours and minutes are no time.
int MinuteOfDay(QStringView timestamp);
// A test's minute from the start of its month: what puts the tests of a label's lines in order.
inline int MinuteOfMonth(const ResultGroup& g) {
    return (g.day - 1) * 1440 + MinuteOfDay(g.timestamp);
}
// 2200 reads "22,00", 20 reads ",20", an empty delay a lone comma.
QString DelayWithComma(QStringView delay);
// A delay as a list shows it: with the comma when it is a number, otherwise as stored.
QString ShownDelay(const ResultGroup& g);
// "hh:nn" from characters 7 to 10 of the timestamp.
QString TestTime(QStringView timestamp);

int DaysInMonth(int year, int month);

// ResultsDir/yymm.tst; yy are the last two digits of the year, month counts from 1 (the name
// MonthResults::fileName gives the month of a date).
QString MonthFileName(const QString& resultsDir, int year, int month);
// "Данни за месец Март 2024 г."
QString MonthTitle(const QString& monthName, int year);
// "Януари" .. "Декември" for months 1..12.
QString MonthName(int month);

} // namespace monthfile
