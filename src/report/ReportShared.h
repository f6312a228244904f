#pragma once
// What several of the report's formats share: dates and paths as they show them, the channels
// --failed keeps, the day marks and their counts.

#include "ReportCalls.h"
#include "ReportFormats.h"

namespace report {

// "1 тест", "2 теста", "21 тест": Bulgarian takes the singular after a number ending in one.
QString Counted(qint64 n, const QString& one, const QString& many);
// Day `day` of the month as "dd.MM.yyyy".
QString DayText(const Month& m, int day);
// The latest test of a period, as "dd.MM.yyyy HH:mm".
QString EndText(const Period& p);
QString ShownPath(const QString& path);
// "PATH (N теста)": a journal read with the month.
QString JournalText(const Month& m);
// The first folder that could be read; the report has one whenever a format runs.
const Source* FirstRead(const QVector<Source>& sources);

// Whether channel `c` is one --failed keeps: marked "Г" on a day of the span, or with
// --min-days failed at least that many days in a row up to the span's last day.
bool KeptAsFailed(const Source& s, int c, const Options& o, Span span);

// "hh:nn" of a timestamp: four digits as they are (TimeDigits, then PutTime), anything else
// through monthfile::TestTime().
bool TimeDigits(QStringView ts);
void PutTime(Sink& out, QStringView ts);

// Days 1..m.days of the month as ISO dates, each followed by `after` (index 0 is empty).
QVector<QByteArray> IsoDates(const Month& m, const QByteArray& after = {});

// part ÷ whole as a percentage with one decimal and a decimal comma ("57,1 %"); "—" when whole is 0.
QString Percent(qint64 part, qint64 whole);
// A percentile of the connections' delays in seconds as the lists show delays ("12,40"); "—"
// without one.
QString DelayPercentileText(const CallCounts& c, int percent);

// A day mark ("Р", "З" or "Г") as UTF-8 bytes.
const char* MarkBytes(QChar mark);

// The channels of each day mark.
struct DayCounts {
    int failed = 0, busy = 0, connected = 0;
    int tested() const { return failed + busy + connected; }
    DayCounts& operator+=(const DayCounts& o) {
        failed += o.failed;
        busy += o.busy;
        connected += o.connected;
        return *this;
    }
    void add(QChar mark) {
        if (mark == monthfile::kMarkFailure)
            ++failed;
        else if (mark == monthfile::kMarkBusy)
            ++busy;
        else if (mark == monthfile::kMarkConnect)
            ++connected;
    }
};

} // namespace report
