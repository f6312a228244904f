#pragma once
// The report's formats: the morning list, csv, json, the html page, the Prometheus metrics and
// the monitoring check. Each writes straight to a device as it goes, so a big month never sits
// in memory twice. Each has a file of its own (ReportText.cpp, ReportCsv.cpp, ReportJson.cpp,
// ReportHtml.cpp, the metrics in ReportPrometheus.cpp, the check in ReportCheck.h); what
// several of them use is in ReportShared.h.

#include "ReportCalls.h"
#include "ReportCheck.h"
#include "ReportMonth.h"
#include "ReportOptions.h"
#include "ReportSink.h"
#include "ReportStreaks.h"

#include <QDateTime>

namespace report {

// Days from..to of the month are reported by csv, json and html.
struct Span {
    int from = 1, to = 31;
};

// One results folder (a station) as the formats show it: what was read, or why it could not be.
struct Source {
    QString name;                 // the station, shown when ShowStations()
    QString error, status;        // why it could not be read, for the operator and for the status line
    const Month* month = nullptr; // the month reported (csv, json, html); the period's last month
    // Text, check and metrics: the period and its channels, with their streaks.
    Period period;
    PeriodChannels channels;
    // Text and metrics: every test of the period by direction and exchange.
    CallTable calls;
    // Csv, json and html: each channel's streak up to day `last` of the month (0: none counted).
    QVector<int> streaks;
    int last = 0;
    bool ok() const { return month != nullptr; }
};

void WriteText(const QVector<Source>& sources, const Options& o, Sink& out);
void WriteCsv(const QVector<Source>& sources, const Options& o, Span span, Sink& out);
void WriteJson(const QVector<Source>& sources, const Options& o, Span span, Sink& out);
void WriteHtml(const QVector<Source>& sources, const Options& o, Span span, const QDateTime& now, Sink& out);
void WriteMetrics(const QVector<Source>& sources, const Options& o, Sink& out);

} // namespace report
