#pragma once
// The command line of the report program: its options as a value type, parsed without side
// effects so that tests and the fuzzer call it directly.

#include "ReportCheck.h"

#include <QChar>
#include <QString>
#include <QStringList>
#include <QVector>

namespace report {

enum class Format { Text, Csv, Json, Html, Prometheus };

// A results folder to report on: one per station, copied or mounted from several sites.
struct ResultsFolder {
    QString name; // the station: given as NAME=DIR, else the folder's name
    QString dir;
    bool named = false; // given as NAME=DIR
};

struct Options {
    QVector<ResultsFolder> results; // empty: the window's folder
    int year = 0;       // with month: 0 for the default month
    int month = 0;
    int day = 0;    // 0: the hours up to the latest test (text, check) or the whole month
    int hours = 24; // text and check without a day: the hours up to the latest test
    bool failedOnly = false;
    int minDays = 1;            // --failed and the check: only channels failed this many days in a row
    bool ignoreMissing = false; // several folders: one that cannot be read does not fail the rest
    bool all = false;           // html: every channel in the grid, not only those with a failure
    bool summary = false;       // csv: a row per direction and exchange with the call ratios
    Format format = Format::Text;
    QChar separator = u',';
    bool check = false;
    Threshold warning, critical;
    int maxAgeHours = 26; // 0: off
    int timeoutSeconds = 10; // 0: off
    bool help = false;
    bool version = false;
};

// Whether the station is named in the output: several folders, or one named by NAME=DIR.
bool ShowStations(const Options& o);
// The longest failure streak --min-days may ask for: the streaks look one month back at most.
inline constexpr int kMaxMinDays = 62;

// The separators a spreadsheet reads: comma, semicolon (with a decimal comma) and tab.
bool AllowedSeparator(QChar c);

// args[0] is the program's name. On a bad command line returns false with a message in
// Bulgarian and, in `badArgument`, the argument at fault as the monitoring line names it;
// `checkAsked` tells whether --check was among the arguments even then.
bool ParseArguments(const QStringList& args, Options& out, QString& error, bool* checkAsked = nullptr,
                    QString* badArgument = nullptr);
QString HelpText();

} // namespace report
