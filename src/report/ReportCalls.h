#pragma once
// The standard call ratios of the tests reported, per direction and exchange and in total:
// ASR, the answer-seizure ratio (tests answered with a connection ÷ tests), NER, the network
// effectiveness ratio (tests the network carried to the far end, whatever the far end did ÷
// tests), and the median and 95th percentile of the connections' answer delays.
//
// A test is a result group the report reads (a BUSY whose delay is no number is none, as for the
// day marks). A time-out leaves no result in the month file, so it is no test. Answers are
// compared as recorded, as the day marks compare them.

#include "ReportMonth.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <string_view>
#include <unordered_map>
#include <vector>

namespace report {

// What a test's answer says of the call.
enum class CallAnswer : quint8 {
    Connected, // "CONNECT…", any speed or suffix: the far end answered
    Busy,      // "BUSY" within the 22-second limit (the day mark "З"): the far end was busy
    NoAnswer,  // exactly "NO ANSWER": the far end rang and nobody answered
    Other,     // anything else: NO CARRIER, NO DIALTONE, ERROR, a late BUSY, a stray line
};
CallAnswer CallAnswerOf(const monthfile::ResultGroup& g);

// The tests of one direction and exchange, or of more of them together.
struct CallCounts {
    qint64 tests = 0, connected = 0, busy = 0, noAnswer = 0;

    void add(const monthfile::ResultGroup& g);
    CallCounts& operator+=(const CallCounts& o);
    qint64 carried() const { return connected + busy + noAnswer; }
    // Fractions of the tests from 0 to 1; NaN without tests.
    double asr() const;
    double ner() const;
    // The connections with a delay that is a number.
    qint64 delays() const { return delayCount_; }
    // The nearest-rank percentile of those delays, in hundredths of a second: the smallest delay
    // at or below which at least `percent` % of them lie (50: the median); -1 without any.
    int delayPercentile(int percent) const;

private:
    void addDelay(int hundredths);
    // The delays as recorded, appended in turn (a month's millions of them are a few MB, written
    // one after the other): those up to the time-out of 180 s in 16 bits, any other (a file edited
    // by hand) apart. A sum of counts (a total) counts them by value instead.
    std::vector<quint16> delays_;
    std::vector<quint32> byValue_; // the sum's counts of the delays 0..18000, or empty
    std::vector<int> others_;
    qint64 delayCount_ = 0;
};

// The tests of a set of channels by direction and exchange, in the order first met.
class CallTable {
public:
    struct Row {
        QString direction, exchange;
        CallCounts counts;
    };
    // Adds a channel's tests (its label "direction -- exchange  channel Ch. " names its row) on
    // days from..to, or of month `m` within the period; a row comes with its first test.
    void add(QStringView label, const QVector<monthfile::ResultGroup>& tests, int from, int to);
    void add(QStringView label, const QVector<monthfile::ResultGroup>& tests, const Period& p,
             const Month& m);
    const QVector<Row>& rows() const { return rows_; }
    CallCounts total() const;

private:
    CallCounts& of(QStringView label);
    // Adds `g` to `row`, first finding the row of `label` when it is none.
    void add(CallCounts*& row, QStringView label, const monthfile::ResultGroup& g);
    QVector<Row> rows_;
    QStringList keys_; // each row's direction and exchange as the labels hold them
    std::unordered_map<std::u16string_view, qsizetype> rowOf_; // views of keys_, whose texts stay put
};

} // namespace report
