#pragma once
// The monitoring check (--check), run as Icinga and Nagios run a plugin: its state is the exit
// code, its status line (with the performance data after '|') comes first and the lines that
// explain it follow, all of it on standard output. Its settings are one value, CheckOptions,
// taken from the program's options (-w, -c, --max-age, --min-days).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class QDateTime;

namespace report {

struct Options;
struct Source;

// The states of a check, as exit codes.
enum CheckState : int { kCheckOk = 0, kCheckWarning = 1, kCheckCritical = 2, kCheckUnknown = 3 };
// "OK", "WARNING", "CRITICAL" or "UNKNOWN".
QLatin1StringView StateText(CheckState state);

// A threshold of -w or -c: more failed channels than a number ("N"), or a larger share of the
// channels tested than a percentage ("N%", with a point or a comma). One that is not set is
// never exceeded.
struct Threshold {
    bool set = false;
    bool percent = false;
    double value = 0;
    bool exceeded(int failed, int tested) const;
};
// Reads "N" or "N%" (from 0 to 100); false, with `out` not set, for anything else.
bool ParseThreshold(const QString& text, Threshold& out);
// The state the thresholds give: CRITICAL past `critical`, else WARNING past `warning`, else OK.
CheckState ThresholdState(const Threshold& warning, const Threshold& critical, int failed, int tested);

// What the check is asked: its thresholds, how old the latest test may be, and how many days in
// a row a channel must have failed to count.
struct CheckOptions {
    Threshold warning, critical;
    int maxAgeHours = 26; // 0: off
    int minDays = 1;
    bool stations = false; // a line per station after the status line
    static CheckOptions of(const Options& o);
};

// The check's answer: its state, its status line and the lines that follow it.
struct CheckResult {
    CheckState code = kCheckUnknown;
    QString line;
    QStringList details;
};
CheckResult Check(const QVector<Source>& sources, const CheckOptions& o, const QDateTime& now);

// The status line of a check that could not be made, for the reason `why`.
QString UnknownLine(const QString& why);
// What the check writes on standard output: the status line, then the lines after it. A
// monitoring system shows the first line, and some merge standard error into it, so nothing
// of the check goes there.
QByteArray CheckOutput(const QString& statusLine, const QStringList& after = {});

} // namespace report
