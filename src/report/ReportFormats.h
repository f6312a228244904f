#pragma once
// The report's formats: the morning list, csv, json, the html page, and the monitoring check.
// Each writes straight to a device as it goes, so a big month never sits in memory twice.

#include "ReportMonth.h"
#include "ReportOptions.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>

namespace report {

// Buffered UTF-8 output to a device.
class Sink {
public:
    explicit Sink(QIODevice& dev) : dev_(dev) { buf_.reserve(kChunk + 4096); }
    ~Sink() { flush(); }
    Sink& operator<<(QStringView s) {
        buf_ += s.toUtf8();
        return spill();
    }
    Sink& operator<<(const QString& s) { return *this << QStringView(s); }
    Sink& operator<<(const char* s) {
        buf_ += s;
        return spill();
    }
    Sink& operator<<(char c) {
        buf_ += c;
        return spill();
    }
    Sink& operator<<(int n) {
        buf_ += QByteArray::number(n);
        return spill();
    }
    void flush();
    bool failed() const { return failed_; }

private:
    static constexpr qsizetype kChunk = 1 << 20;
    Sink& spill() {
        if (buf_.size() >= kChunk)
            flush();
        return *this;
    }
    QIODevice& dev_;
    QByteArray buf_;
    bool failed_ = false;
};

// Days from..to of the month are reported (one day for text and check).
struct Span {
    int from = 1, to = 31;
};

void WriteText(const Month& m, const Options& o, int day, Sink& out);
void WriteCsv(const Month& m, const Options& o, Span span, Sink& out);
void WriteJson(const Month& m, const Options& o, Span span, Sink& out);
void WriteHtml(const Month& m, const Options& o, Span span, const QDateTime& now, Sink& out);

// The monitoring result: exit code 0..3 and its one status line.
struct CheckResult {
    int code = 3;
    QString line;
};
CheckResult Check(const Month& m, const Options& o, int day, const QDateTime& now);
QString UnknownLine(const QString& why);

// Hundredths of a second as seconds with a decimal point: 2200 -> "22.00".
QByteArray Seconds(int hundredths);

} // namespace report
