#pragma once
// The Prometheus text exposition format (version 0.0.4), as node_exporter's textfile collector
// reads it, and the metrics the report publishes in it.

#include "ReportCalls.h"
#include "ReportFormats.h"
#include "monthfile/ResultGroups.h"

#include <QAnyStringView>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QVector>

#include <array>
#include <initializer_list>
#include <span>
#include <stdexcept>

namespace report {

// A metric written against the format's rules: a fault of the program, not of the data.
class PromError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Writes metric families one after the other: `# HELP` and `# TYPE`, then the family's samples.
// Every sample belongs to the family opened last; a family cannot come back, a series (its
// label names and values) cannot repeat within its family, and names must be valid, or the
// writer throws PromError before writing the line. No timestamps: the textfile collector
// refuses them.
class PromWriter {
public:
    struct Label {
        const char* name;     // [a-zA-Z_][a-zA-Z0-9_]*, not beginning with "__"
        QAnyStringView value; // any text; escaped here
    };
    explicit PromWriter(Sink& out) : out_(out) {}
    // `type`: "gauge", "counter" or "untyped" (a sample is named as its family, which the
    // suffixed samples of a histogram or a summary are not).
    void family(const char* name, const char* type, QAnyStringView help);
    void sample(std::span<const Label> labels, double value);
    void sample(std::initializer_list<Label> labels, double value) {
        sample(std::span<const Label>(labels.begin(), labels.size()), value);
    }
    void sample(double value) { sample(std::span<const Label>(), value); }

    static bool validMetricName(QByteArrayView name);
    static bool validLabelName(QByteArrayView name);
    // Integers as they are, other numbers in their shortest exact form, NaN, +Inf, -Inf.
    static QByteArray number(double v);

private:
    Sink& out_;
    QByteArray name_;
    QSet<QByteArray> families_, series_;
};

// The report's metrics for one reported period: the 24 hours up to the latest test (or as many
// as asked for), or a calendar day. A streak counts calendar days up to the period's last day.

// Failure streaks counted per direction and exchange: channels failed at least this many days
// in a row up to the last day of the reported period.
inline constexpr std::array<int, 4> kStreakSteps = {2, 3, 7, 14};

// The period's channels of one direction and exchange (of one station).
struct PromExchange {
    QString station, direction, exchange;
    int tested = 0, connected = 0, busy = 0, failed = 0;
    std::array<int, kStreakSteps.size()> streakAtLeast{}; // per kStreakSteps
    CallCounts calls{};                                   // every test of the period
    // A channel tested in the period: its mark ("Р", "З", "Г") and its failure streak in days.
    void add(QChar mark, int streak);
};

// A channel failed in the reported period; never its dial string.
struct PromFailedChannel {
    QString station, direction, exchange, channel;
    int streak = 1; // days in a row marked "Г", this one included
};

// A results folder: whether it was read, and its latest test (invalid without tests).
struct PromStation {
    QString name;
    bool ok = false;
    QDateTime latestTest;
    CallCounts calls{}; // every test of the period
};

struct PromMetrics {
    // The `station` label on every series; taken as set when there is more than one station.
    bool stationLabel = false;
    QVector<PromStation> stations;
    QVector<PromExchange> exchanges;
    QVector<PromFailedChannel> failed;
};

// Writes the metric families below in this order. Rows that name the same series (a channel
// listed twice with two dial strings, say) are written once: counts added, the longest streak.
//   chantest_report_success{station}
//   chantest_latest_test_timestamp_seconds{station}                (stations with tests)
//   chantest_channels_tested{station,direction,exchange}
//   chantest_channels_connected{station,direction,exchange}
//   chantest_channels_busy{station,direction,exchange}
//   chantest_channels_failed{station,direction,exchange}
//   chantest_channels_failing_streak{station,direction,exchange,min_days}
//   chantest_failed_channel_streak{station,direction,exchange,channel}
//   chantest_tests{station,direction,exchange} and {station} for the whole period
//   chantest_asr_ratio, chantest_ner_ratio                          (the same, where tested)
//   chantest_answer_delay_median_seconds, chantest_answer_delay_p95_seconds
//                                                                  (the same, where connected)
// (`station` only with stationLabel.) All are gauges.
void WritePrometheus(const PromMetrics& m, Sink& out);

} // namespace report
