#pragma once
// Failure streaks: for a channel, the days in a row up to a day whose day mark was "Г". Where a
// streak reaches the first day of the month reported, the month before is read for it too; one
// month back is enough. A day without a test ends a streak: it is not known to have failed.

#include "ReportCalls.h"
#include "ReportMonth.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

namespace report {

// For each of `labels` (as Month::labels holds them), the days in a row marked "Г" up to the
// last day of the month before `m`: its file, and the journal of a run in it, read through a
// small buffer, and only those channels' lines kept (LoadMonthPart). A label without such days is
// left out. No file: none. A file that cannot be read: none, and `warning` says so.
QHash<QString, int> EarlierStreaks(const Month& m, const QSet<QString>& labels, const FileAccess& files,
                                   QString& warning);

// The streak of every channel of `m` (by its index) up to day `last`; 0 for a channel not marked
// "Г" that day.
QVector<int> MonthStreaks(const Month& m, int last, const FileAccess& files, QString& warning);

// A channel tested within a period, as the morning list, the check and the metrics show it.
struct PeriodChannel {
    const Month* month = nullptr; // the month of its latest test in the period
    int channel = 0;              // its index in that month
    QChar mark;                   // over the period: a connection wins, else the latest test
    int day = 0;                  // of its latest test
    int streak = 0;               // 0 unless marked "Г"
    // The latest test's answer, delay and the "hhnn" of its timestamp, one after the other in
    // PeriodChannels::texts; none unless read with texts.
    qint32 text = 0, answerSize = 0, delaySize = 0;
    bool delayIsNumber = false;
    QStringView label() const { return QStringView(month->labels[channel]).trimmed(); }
};

// The channels of a period, one per label, in the order the months list them. The period's mark
// stands for the day of the channel's latest test in it, and the calendar days before that day
// follow: a night's run that crosses midnight is one day, whichever side of it a channel fell.
struct PeriodChannels {
    QVector<PeriodChannel> rows;
    QString texts;
    // With `calls`, every test of the period is counted there too, in whichever month it lies.
    void read(const Period& p, bool withTexts, const FileAccess& files, QString& warning,
              CallTable* calls = nullptr);
    QStringView answer(const PeriodChannel& r) const { return QStringView(texts).mid(r.text, r.answerSize); }
    QStringView delay(const PeriodChannel& r) const {
        return QStringView(texts).mid(r.text + r.answerSize, r.delaySize);
    }
    QString time(const PeriodChannel& r) const; // "hh:nn"
};

} // namespace report
