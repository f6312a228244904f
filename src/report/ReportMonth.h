#pragma once
// One month of results as the report reads it: the month file library's reader, under the names
// the report's files have always used, and the periods the morning list and the check cover.

#include "monthfile/MonthReader.h"

#include <QDateTime>
#include <QString>
#include <QVector>
#include <functional>

namespace report {

// A problem that stops the report: `text` for the operator (Bulgarian), `status` for the
// monitoring status line (English).
using ReportError = monthfile::ReadError;
using monthfile::BuildMonth;
using monthfile::ChannelParts;
using monthfile::ChannelTests;
using monthfile::DayTest;
using monthfile::DayTests;
using monthfile::FileAccess;
using monthfile::LineTests;
using monthfile::LoadMonth;
using monthfile::Mark;
using monthfile::MarkChar;
using monthfile::MarkDays;
using monthfile::MarkOf;
using monthfile::Month;
using monthfile::OpenRegular;
using monthfile::SplitKey;
using monthfile::TestTime;

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
