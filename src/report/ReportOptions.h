#pragma once
// The command line of the report program: its options as a value type, parsed without side
// effects so that tests and the fuzzer call it directly.

#include <QChar>
#include <QString>
#include <QStringList>

namespace report {

enum class Format { Text, Csv, Json, Html };

// A monitoring threshold: a number of failed channels, or their share of those tested ("N%").
struct Threshold {
    bool set = false;
    bool percent = false;
    double value = 0;
    bool exceeded(int failed, int tested) const;
};
bool ParseThreshold(const QString& text, Threshold& out);

struct Options {
    QString resultsDir; // empty: the window's folder
    int year = 0;       // with month: 0 for the default month
    int month = 0;
    int day = 0;    // 0: the hours up to the latest test (text, check) or the whole month
    int hours = 24; // text and check without a day: the hours up to the latest test
    bool failedOnly = false;
    Format format = Format::Text;
    QChar separator = u',';
    bool check = false;
    Threshold warning, critical;
    int maxAgeHours = 26; // 0: off
    int timeoutSeconds = 10; // 0: off
    bool help = false;
    bool version = false;
};

// The separators a spreadsheet reads: comma, semicolon (with a decimal comma) and tab.
bool AllowedSeparator(QChar c);

// args[0] is the program's name. On a bad command line returns false with a message in
// Bulgarian and, in `badArgument`, the argument at fault as the monitoring line names it;
// `checkAsked` tells whether --check was among the arguments even then.
bool ParseArguments(const QStringList& args, Options& out, QString& error, bool* checkAsked = nullptr,
                    QString* badArgument = nullptr);
QString HelpText();

} // namespace report
