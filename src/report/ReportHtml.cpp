// The month as an html page: the persistent failures, the grid of days, the sums by direction
// and the charts.
#include "ReportShared.h"

#include "ReportCharts.h"

#include <QHash>

#include <algorithm>

namespace report {

using monthfile::kMarkBusy;
using monthfile::kMarkConnect;
using monthfile::ResultGroup;

namespace {
const char* const kStyle = R"CSS(
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10pt; color: #111; margin: 16px; }
h1 { font-size: 15pt; margin: 0 0 4px; }
h2 { font-size: 12pt; margin: 18px 0 6px; }
p.src { margin: 0 0 8px; color: #444; }
p.warn { margin: 0 0 8px; color: #9c0006; font-weight: bold; }
.legend span { display: inline-block; min-width: 1.4em; text-align: center; margin: 0 2px 0 10px;
  border: 1px solid #999; }
table { border-collapse: collapse; }
th, td { border: 1px solid #aaa; padding: 1px 3px; }
th { background: #e8e8e8; font-weight: bold; }
caption { text-align: left; font-weight: bold; padding: 2px 0 4px; }
table.grid td, table.grid th { text-align: center; }
table.grid th.d { width: 1.6em; min-width: 1.6em; }
table.grid td.n { color: #555; text-align: right; }
table.grid td.l { text-align: left; white-space: pre; }
table.grid tbody tr:nth-child(even) td.n, table.grid tbody tr:nth-child(even) td.l { background: #f6f6f6; }
table.grid td.s { text-align: right; color: #9c0006; }
table.grid td.s.p, table.persist td.s { font-weight: bold; }
td.r, span.r { background: #c6efce; color: #005a00; font-weight: bold; }
td.z, span.z { background: #ffe699; color: #7a4a00; font-weight: bold; }
td.g, span.g { background: #ffb3ba; color: #9c0006; font-weight: bold; }
table.persist { margin-bottom: 6px; }
table.persist td { white-space: pre; }
table.persist td.s { text-align: right; color: #9c0006; }
p.none { margin: 0 0 8px; color: #444; }
table.sum td { text-align: right; }
table.sum td:first-child, table.sum td.t { text-align: left; }
table.sum tr.total td, table.calls tr.total td { font-weight: bold; border-top: 2px solid #666; }
table.calls { margin-top: 8px; }
table.calls td { text-align: right; }
table.calls td:first-child, table.calls td.t { text-align: left; }
.daycharts { margin: 4px 0 8px; }
.daycharts svg, .delaychart svg { border: 1px solid #ccc; background: #fff; }
table.dayshares, table.delays { margin: 6px 0 8px; font-size: 8pt; }
table.dayshares td, table.delays td { text-align: right; }
table.dayshares th, table.dayshares td { padding: 1px 2px; min-width: 1.4em; }
table.dayshares td:first-child { text-align: left; white-space: nowrap; }
table.delays th, table.delays td { min-width: 3.2em; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
@page { size: A4 landscape; margin: 10mm; }
@media print {
  body { margin: 0; font-size: 8pt; }
  h1 { font-size: 11pt; }
  h2 { font-size: 9pt; break-after: avoid; }
  th, td { padding: 0 1px; }
  table.grid th.d { width: 1.5em; min-width: 1.5em; }
  thead { display: table-header-group; }
  tr, svg { break-inside: avoid; }
  .charts { break-before: page; }
}
)CSS";

// A channel in the list of persistent failures.
struct Persistent {
    const Source* s;
    int channel, streak;
};

void writePersistent(const QVector<Source>& sources, bool stations, Sink& out) {
    QVector<Persistent> list;
    for (const Source& s : sources)
        for (int c = 0; c < s.streaks.size(); ++c)
            if (s.streaks[c] >= 2)
                list.append({&s, c, s.streaks[c]});
    std::stable_sort(list.begin(), list.end(),
                     [](const Persistent& a, const Persistent& b) { return a.streak > b.streak; });
    out << "<h2>" << QStringLiteral("Постоянни повреди: „Г“ 2 и повече дни подред") << "</h2>\n";
    if (list.isEmpty()) {
        out << "<p class=\"none\">" << QStringLiteral("Няма такива канали.") << "</p>\n";
        return;
    }
    out << "<table class=\"persist\">\n<thead><tr>";
    if (stations)
        out << "<th>" << QStringLiteral("Станция") << "</th>";
    out << QStringLiteral(
               "<th>Направление -- Канал</th><th>Дни подред</th><th>От</th><th>Последен отговор</th>")
        << "</tr></thead>\n<tbody>\n";
    for (const Persistent& p : list) {
        const Month& m = *p.s->month;
        const ChannelTests t = m.tests(p.channel);
        const ResultGroup* last = nullptr;
        for (const ResultGroup& g : t.groups)
            if (g.day == p.s->last)
                last = &g;
        out << "<tr>";
        if (stations) {
            out << "<td>";
            out.putHtml(p.s->name);
            out << "</td>";
        }
        out << "<td>";
        out.putHtml(t.label());
        out << "</td><td class=\"s\">" << p.streak << "</td><td>"
            << m.date(p.s->last).addDays(1 - p.streak).toString(QStringLiteral("dd.MM.yyyy")) << "</td><td>";
        if (last) {
            out.putHtml(last->answer);
            out << ' ';
            out.putHtml(monthfile::ShownDelay(*last));
            out << ' ';
            out.putHtml(monthfile::TestTime(last->timestamp));
        }
        out << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n";
}

// The call ratios of every test of the span by direction and exchange, and in total.
void writeCalls(const QVector<Source>& sources, const QVector<CallTable>& calls, bool stations, Sink& out) {
    out << "<table class=\"calls\">\n<caption>" << QStringLiteral("Повиквания по направления и централи")
        << "</caption>\n<thead><tr>";
    if (stations)
        out << "<th>" << QStringLiteral("Станция") << "</th>";
    out << QStringLiteral("<th>Направление</th><th>Централа</th><th>Тестове</th><th>С връзка</th>"
                          "<th>Заети</th><th>Без отговор</th><th>ASR</th><th>NER</th>"
                          "<th>Медиана, с</th><th>95 %, с</th>")
        << "</tr></thead>\n<tbody>\n";
    const auto cells = [&](const CallCounts& c) {
        out << "<td>" << c.tests << "</td><td>" << c.connected << "</td><td>" << c.busy << "</td><td>"
            << c.noAnswer << "</td><td>" << Percent(c.connected, c.tests) << "</td><td>"
            << Percent(c.carried(), c.tests) << "</td><td>" << DelayPercentileText(c, 50) << "</td><td>"
            << DelayPercentileText(c, 95) << "</td></tr>\n";
    };
    CallCounts total;
    for (qsizetype i = 0; i < sources.size(); ++i)
        for (const CallTable::Row& r : calls[i].rows()) {
            out << "<tr>";
            if (stations) {
                out << "<td>";
                out.putHtml(sources[i].name);
                out << "</td>";
            }
            out << "<td class=\"t\">";
            out.putHtml(r.direction);
            out << "</td><td class=\"t\">";
            out.putHtml(r.exchange);
            out << "</td>";
            cells(r.counts);
            total += r.counts;
        }
    out << "<tr class=\"total\"><td>" << QStringLiteral("Общо") << "</td><td></td>"
        << (stations ? "<td></td>" : "");
    cells(total);
    out << "</tbody>\n</table>\n<p class=\"src\">"
        << QStringLiteral("ASR: тестовете с връзка (CONNECT) от всички тестове. NER: тестовете с връзка, "
                          "заето до 22 с (BUSY) или без отговор (NO ANSWER) от всички тестове. Закъснението "
                          "е от набирането до CONNECT, медианата и 95-ият процентил на връзките.")
        << "</p>\n";
}
} // namespace

void WriteHtml(const QVector<Source>& sources, const Options& o, Span span, const QDateTime& now, Sink& out) {
    const bool stations = ShowStations(o);
    const Month& first = *FirstRead(sources)->month;
    const QString title = monthfile::MonthTitle(monthfile::MonthName(first.month), first.year);
    out << "<!DOCTYPE html>\n<html lang=\"bg\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    out.putHtml(title);
    out << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>";
    out.putHtml(title);
    if (span.from == span.to)
        out << QStringLiteral(", ден ") << span.from;
    if (o.failedOnly)
        out << (o.minDays > 1 ? QStringLiteral(" (каналите с „Г“ %1 или повече дни подред)").arg(o.minDays)
                              : QStringLiteral(" (каналите с неуспешни тестове)"));
    out << "</h1>\n";
    const QString made =
        QStringLiteral(" · изготвен на %1").arg(now.toString(QStringLiteral("dd.MM.yyyy HH:mm")));
    const auto fileText = [](const Month& m) {
        QString t = QStringLiteral("Файл: %1").arg(ShownPath(m.path));
        if (!m.journalPath.isEmpty())
            t += QStringLiteral(" и дневник ") + JournalText(m);
        return t;
    };
    if (!stations) {
        out << "<p class=\"src\">";
        out.putHtml(fileText(first) + made);
        out << "</p>\n";
    } else {
        out << "<p class=\"src\">";
        for (const Source& s : sources)
            if (s.ok()) {
                out.putHtml(s.name + QStringLiteral(": ") + fileText(*s.month));
                out << "<br>";
            }
        out.putHtml(made.mid(3));
        out << "</p>\n";
        for (const Source& s : sources)
            if (!s.ok()) {
                out << "<p class=\"warn\">";
                out.putHtml(s.name + QStringLiteral(": ") + s.error);
                out << "</p>\n";
            }
    }
    out << "<p class=\"legend\">"
        << QStringLiteral("Знаци:<span class=\"r\">Р</span>връзка<span class=\"z\">З</span>заето"
                          "<span class=\"g\">Г</span>без връзка</p>\n");
    writePersistent(sources, stations, out);

    out << "<h2>" << QStringLiteral("Месецът по дни")
        << "</h2>\n<table class=\"grid\">\n<thead><tr><th>№</th>";
    if (stations)
        out << "<th>" << QStringLiteral("Станция") << "</th>";
    out << "<th>" << QStringLiteral("Направление -- Канал") << "</th>";
    for (int d = span.from; d <= span.to; ++d)
        out << "<th class=\"d\">" << d << "</th>";
    out << "<th title=\"" << QStringLiteral("Дни подред с „Г“ до последния ден с тестове") << "\">"
        << QStringLiteral("Г подред") << "</th></tr></thead>\n<tbody>\n";

    struct Sum {
        const Source* s;
        QString direction;
        int channels = 0, tested = 0, connected = 0;
    };
    QVector<Sum> sums;
    QHash<QString, int> sumOf;
    QVector<DayShares> shares;
    QHash<QString, int> shareOf;
    DelayHistogram delays;
    QVector<CallTable> calls(sources.size());
    int row = 0, channels = 0;
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
        CallTable& sourceCalls = calls[&s - sources.constData()];
        const QString prefix = QString::number(&s - sources.constData()) + u':';
        for (int c = 0; c < m.channels.size(); ++c) {
            const ChannelTests t = m.tests(c);
            const QVector<ResultGroup>& gs = t.groups;
            const ChannelParts p = SplitKey(t.key());
            // The charts cover every channel, whatever the grid shows.
            auto sh = shareOf.constFind(prefix + p.direction);
            if (sh == shareOf.constEnd()) {
                sh = shareOf.insert(prefix + p.direction, int(shares.size()));
                shares.append(
                    {stations ? s.name + QStringLiteral(" · ") + p.direction : p.direction, m.days});
            }
            DayShares& share = shares[*sh];
            for (int d = 1; d <= m.days; ++d) {
                const Mark mark = m.dayMark(c, d);
                share.tested[size_t(d)] += mark != Mark::None;
                share.connected[size_t(d)] += mark == Mark::Connect;
            }
            for (const ResultGroup& g : gs) {
                if (g.day < span.from || g.day > span.to || !g.delayIsNumber)
                    continue;
                if (g.answer.startsWith(u"CONNECT"))
                    delays.addConnection(g.delayValue);
                else if (g.answer == u"BUSY")
                    delays.addBusy(g.delayValue);
            }
            sourceCalls.add(m.labels[c], gs, span.from, span.to);
            // The grid lists the channels with a failure unless --all asks for every one; the sums
            // stand for the rest, except with --failed, which keeps only its channels everywhere.
            const bool listed = o.all || KeptAsFailed(s, c, o, span);
            if (o.failedOnly && !listed)
                continue;
            auto it = sumOf.constFind(prefix + p.direction);
            if (it == sumOf.constEnd()) {
                it = sumOf.insert(prefix + p.direction, int(sums.size()));
                sums.append({&s, p.direction});
            }
            Sum& sum = sums[*it];
            ++sum.channels;
            ++channels;
            for (int d = span.from; d <= span.to && d <= m.days; ++d) {
                const Mark mark = m.dayMark(c, d);
                sum.tested += mark != Mark::None;
                sum.connected += mark == Mark::Connect;
            }
            if (!listed)
                continue;
            out << "<tr><td class=\"n\">" << ++row << "</td>";
            if (stations) {
                out << "<td class=\"l\">";
                out.putHtml(s.name);
                out << "</td>";
            }
            out << "<td class=\"l\">";
            out.putHtml(t.label());
            out << "</td>";
            for (int d = span.from; d <= span.to; ++d) {
                const QChar mark = d <= m.days ? MarkChar(m.dayMark(c, d)) : QChar();
                if (mark.isNull()) {
                    out << "<td></td>";
                    continue;
                }
                out << (mark == kMarkConnect ? "<td class=\"r\" title=\""
                        : mark == kMarkBusy  ? "<td class=\"z\" title=\""
                                             : "<td class=\"g\" title=\"");
                // The day's tests as the tooltip: answer, delay, time, one a line.
                bool firstTest = true;
                for (const ResultGroup& g : gs) {
                    if (g.day != d)
                        continue;
                    if (!firstTest)
                        out << "&#10;";
                    firstTest = false;
                    out.putHtml(g.answer);
                    out << ' ';
                    if (g.delayIsNumber && g.delay.size() > 2) { // as DelayWithComma, without a string
                        out.putHtml(g.delay.first(g.delay.size() - 2));
                        out << ',';
                        out.putHtml(g.delay.last(2));
                    } else {
                        out.putHtml(g.delayIsNumber ? monthfile::DelayWithComma(g.delay)
                                                    : g.delay.toString());
                    }
                    out << ' ';
                    out.putHtml(g.timestamp.mid(6, 2));
                    out << ':';
                    out.putHtml(g.timestamp.mid(8, 2));
                }
                out << "\">" << MarkBytes(mark) << "</td>";
            }
            const int streak = s.streaks.value(c);
            if (streak > 0)
                out << (streak >= 2 ? "<td class=\"s p\">" : "<td class=\"s\">") << streak << "</td></tr>\n";
            else
                out << "<td></td></tr>\n";
        }
    }
    if (row == 0) {
        out << "<tr><td></td>";
        if (stations)
            out << "<td></td>";
        out << "<td class=\"l\">"
            << (o.all || o.failedOnly ? QStringLiteral("Няма канали за показване.")
                                      : QStringLiteral("Няма канали с „Г“."))
            << "</td>";
        for (int d = span.from; d <= span.to + 1; ++d)
            out << "<td></td>";
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n";
    if (!o.all && !o.failedOnly)
        out << "<p class=\"src\">"
            << QStringLiteral("Показани са каналите с „Г“ поне в един ден: %1 от %2. Всички канали са в "
                              "сумите по направления; целият месец по дни дава опцията --all.")
                   .arg(row)
                   .arg(channels)
            << "</p>\n";
    out << "<h2>" << QStringLiteral("По направления") << "</h2>\n<table class=\"sum\">\n<thead><tr>";
    if (stations)
        out << "<th>" << QStringLiteral("Станция") << "</th>";
    out << QStringLiteral("<th>Направление</th><th>Канали</th><th>Тествани канало-дни</th><th>С връзка</th>"
                          "<th>Дял с връзка")
        << "</th></tr></thead>\n<tbody>\n";
    Sum total{nullptr, QStringLiteral("Общо")};
    for (const Sum& s : sums) {
        out << "<tr><td>";
        if (stations) {
            out.putHtml(s.s->name);
            out << "</td><td class=\"t\">";
        }
        out.putHtml(s.direction);
        out << "</td><td>" << s.channels << "</td><td>" << s.tested << "</td><td>" << s.connected
            << "</td><td>" << Percent(s.connected, s.tested) << "</td></tr>\n";
        total.channels += s.channels;
        total.tested += s.tested;
        total.connected += s.connected;
    }
    out << "<tr class=\"total\"><td>" << total.direction << "</td>" << (stations ? "<td></td>" : "") << "<td>"
        << total.channels << "</td><td>" << total.tested << "</td><td>" << total.connected << "</td><td>"
        << Percent(total.connected, total.tested) << "</td></tr>\n</tbody>\n</table>\n";
    writeCalls(sources, calls, stations, out);

    // The pictures: day by day over the month (not for one day), and the delays of the span.
    out << "<div class=\"charts\">\n";
    if (span.from < span.to) {
        out << "<h2>" << QStringLiteral("Дял на каналите с връзка по дни") << "</h2>\n";
        WriteDayChartGrid(shares, "d", out);
        if (shares.size() > kDayChartsOnPage)
            WriteDayTable(shares, kDayChartsOnPage, out);
    }
    out << "<h2>" << QStringLiteral("Закъснения на отговорите") << "</h2>\n";
    const QString when = span.from == span.to
                             ? DayText(first, span.from)
                             : monthfile::MonthName(first.month) + u' ' + QString::number(first.year);
    out << "<div class=\"delaychart\">\n";
    WriteDelayChart(delays, when, "delays", out);
    out << "</div>\n";
    WriteDelayTable(delays, out);
    out << "</div>\n</body>\n</html>\n";
}

} // namespace report
