#pragma once
// Charts of the html page, drawn as inline SVG by the report itself: a day-by-day share of the
// channels with a connection, and a histogram of the answer delays. They hold aggregated data
// only (a month of days, a handful of delay bins), so they cost nothing beside the grid.
// Every chart names itself in <title> and sums itself up in <desc>; the tables below give its
// numbers as text. Colours follow the Okabe-Ito palette, and the series differ by pattern and
// marker as well, so a greyscale print and a colour-blind reader tell them apart.

#include "ReportFormats.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

namespace report {

// One direction's month: per day 1..31 the channels tested and those of them with a
// connection (day mark "Р"). A day with none tested is a gap in the chart.
struct DayShares {
    QString title; // the direction, from the results file
    int days = 31; // days of the month, 28..31
    std::array<int, 32> tested{}, connected{};
};

// Charts on one page at most; the directions beyond them go into the table only.
inline constexpr int kDayChartsOnPage = 12;
inline constexpr int kDayChartWidth = 252, kDayChartHeight = 132;
inline constexpr int kDelayChartWidth = 512, kDelayChartHeight = 190;

// Delay bins in hundredths of a second, by their upper edge, which belongs to the bin: 2200
// (22.00 s, still "З" for a BUSY) closes the bin 15–22, 2201 opens 22–30. The last bin holds
// everything above 180 s.
inline constexpr std::array<int, 8> kDelayBinEdges = {200, 500, 1000, 1500, 2200, 3000, 6000, 18000};
inline constexpr int kDelayBins = int(kDelayBinEdges.size()) + 1;
int DelayBin(int hundredths);
QString DelayBinText(int bin); // "0–2", …, "над 180"

// The delays of a month's connections and BUSY answers (tests, not channels).
struct DelayHistogram {
    std::array<qint64, kDelayBins> connected{}, busy{};
    void addConnection(int hundredths) { ++connected[size_t(DelayBin(hundredths))]; }
    void addBusy(int hundredths) { ++busy[size_t(DelayBin(hundredths))]; }
};

// `id` names the chart in the page (ASCII letters, digits, '-' and '_'), unique among the
// page's charts: its <title> and <desc> carry ids made from it.
void WriteDayChart(const DayShares& s, const QByteArray& id, Sink& out);
// `subtitle` (say the month, or a station) follows the title; may be empty.
void WriteDelayChart(const DelayHistogram& h, QStringView subtitle, const QByteArray& id, Sink& out);

// The first kDayChartsOnPage directions as charts in a grid of four columns, ids `idPrefix`1…
void WriteDayChartGrid(const QVector<DayShares>& all, const QByteArray& idPrefix, Sink& out);

// The same numbers as tables: per direction and day the share with a connection in whole
// percent (empty without tests), from direction `first` on (0 for all of them, the chart count
// for those left without a chart); per bin the answers of each series.
void WriteDayTable(const QVector<DayShares>& all, qsizetype first, Sink& out);
void WriteDelayTable(const DelayHistogram& h, Sink& out);

} // namespace report
