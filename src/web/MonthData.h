#pragma once
// The months as the web face shows them, by the results page's own functions and the report's:
// the month's lines (with the tests of a run still going), the grid rows of chosen channels, the
// tests behind one day, the workbook, the report's page and its 24-hour metrics. Everything the
// web face reads of a month goes through here. Slow on a big month: called away from the web
// thread; safe from any thread.

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <QVector>
#include <memory>

namespace web::month {

inline const QString kNoData = QStringLiteral("Няма данни за този месец.");
inline const QString kLabelHeader = QStringLiteral("Направление -- Канал");

// The lines of month `month` of `year`, or nullptr when it has neither a file nor a journal. A
// month unchanged on disk since it was read last is not read again. Raises AppError.
std::shared_ptr<const QStringList> Lines(const QString& resultsDir, int year, int month);
// The channel labels of the month's lines, each once, in the file's order.
QStringList Labels(const QStringList& lines);

// "Данни за месец Май 2026 г."
QString Title(int year, int month);
QString MonthName(int month); // "Януари" .. "Декември"
int Days(int year, int month);
// The label of a channel item or line: the key of its row in the grid.
QString Label(const QString& channel);
// Grid rows of the given labels: the number, the label and the day marks of days 1..days.
QVector<QStringList> GridRows(const QStringList& lines, const QStringList& labels, int days);

struct Test {
    QString answer, delay, time; // the delay with its comma, the time hh:mm
};
struct Day {
    QString title; // empty when the day has no tests, as the panel shows it
    QVector<Test> tests;
};
Day DayTests(const QStringList& lines, const QString& label, int year, int month, int day);

// The month grid of the labels as the window exports it, to `path`. Raises AppError.
void WriteWorkbook(const QStringList& lines, const QStringList& labels, int year, int month, bool comments,
                   const QString& path);

// The report's html page of the month; false with the report's reason when it cannot be made.
bool ReportPage(const QString& resultsDir, int year, int month, const QDateTime& now, QIODevice& out,
                QString& error);
// The report's metrics of the 24 hours up to the latest test (what --format prometheus writes).
QByteArray ReportMetrics(const QString& resultsDir, const QDateTime& now);

} // namespace web::month
