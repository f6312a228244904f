#include "ReportCharts.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {
// Okabe-Ito: blue for connections, orange (hatched) for BUSY, vermillion for the 22 s limit.
const char* const kBlue = "#0072B2";
const char* const kOrange = "#E69F00";
const char* const kVermillion = "#D55E00";
const char* const kSvgHead = "<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "
                             "font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"8\" ";

bool validId(const QByteArray& id) {
    if (id.isEmpty())
        return false;
    for (char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '_'))
            return false;
    return true;
}

// A coordinate with one decimal; no printf, whose decimal point follows the locale.
void putNum(Sink& out, double v) {
    qint64 tenths = qint64(std::llround(v * 10));
    if (tenths < 0) {
        out << '-';
        tenths = -tenths;
    }
    out << QByteArray::number(tenths / 10);
    if (tenths % 10)
        out << '.' << char('0' + tenths % 10);
}

// "12 345" with a no-break space from ten thousand up, as Bulgarian writes numbers.
QString grouped(qint64 n) {
    QString s = QString::number(n);
    if (s.size() > 4)
        for (qsizetype i = s.size() - 3; i > (s[0] == u'-' ? 1 : 0); i -= 3)
            s.insert(i, QChar(0x00A0));
    return s;
}

QString percentText(double p) {
    return QString::number(p, 'f', 1).replace(u'.', u',') + QStringLiteral(" %");
}

// A whole percent that reads 100 only when all had a connection and 0 only when none had.
int wholePercent(int part, int whole) {
    const int p = int(std::lround(100.0 * part / whole));
    return part == whole ? 100 : part == 0 ? 0 : std::clamp(p, 1, 99);
}

// A title short enough for its chart; the whole of it stays in <title>.
QString fitted(const QString& s, qsizetype chars) {
    if (s.size() <= chars)
        return s;
    qsizetype n = chars - 1;
    if (s[n - 1].isHighSurrogate())
        --n;
    return s.left(n) + QChar(0x2026);
}

void putTitleAndDesc(Sink& out, const QByteArray& id, const QString& title, const QString& desc) {
    out << "<title id=\"" << id << "-t\">";
    out.putHtml(title);
    out << "</title>\n<desc id=\"" << id << "-d\">";
    out.putHtml(desc);
    out << "</desc>\n";
}

void putText(Sink& out, double x, double y, const char* anchor, QStringView text) {
    out << "<text x=\"";
    putNum(out, x);
    out << "\" y=\"";
    putNum(out, y);
    out << "\" text-anchor=\"" << anchor << "\">";
    out.putHtml(text);
    out << "</text>\n";
}

void putLine(Sink& out, double x1, double y1, double x2, double y2) {
    out << "<line x1=\"";
    putNum(out, x1);
    out << "\" y1=\"";
    putNum(out, y1);
    out << "\" x2=\"";
    putNum(out, x2);
    out << "\" y2=\"";
    putNum(out, y2);
    out << "\"/>";
}

const QString kDayTitle = QStringLiteral("Дял на каналите с връзка по дни");
const QString kDelayTitle = QStringLiteral("Закъснения на отговорите");
const QString kConnectSeries = QStringLiteral("Връзка (Р)");
const QString kBusySeries = QStringLiteral("Заето, BUSY");
} // namespace

int DelayBin(int hundredths) {
    return int(std::lower_bound(kDelayBinEdges.begin(), kDelayBinEdges.end(), hundredths) -
               kDelayBinEdges.begin());
}

QString DelayBinText(int bin) {
    if (bin >= kDelayBins - 1)
        return QStringLiteral("над %1").arg(kDelayBinEdges.back() / 100);
    const int from = bin == 0 ? 0 : kDelayBinEdges[size_t(bin - 1)] / 100;
    return QStringLiteral("%1–%2").arg(from).arg(kDelayBinEdges[size_t(bin)] / 100);
}

void WriteDayChart(const DayShares& s, const QByteArray& id, Sink& out) {
    Q_ASSERT(validId(id));
    const int days = std::clamp(s.days, 1, 31);
    constexpr double left = 30, right = kDayChartWidth - 6, top = 18, bottom = kDayChartHeight - 16;
    const double slot = (right - left) / days;
    auto x = [&](int d) { return left + (d - 0.5) * slot; };
    auto y = [&](int d) { return bottom - (bottom - top) * s.connected[size_t(d)] / s.tested[size_t(d)]; };

    int testedDays = 0, lowDay = 0;
    qint64 tested = 0, connected = 0;
    for (int d = 1; d <= days; ++d) {
        if (s.tested[size_t(d)] <= 0)
            continue;
        ++testedDays;
        tested += s.tested[size_t(d)];
        connected += s.connected[size_t(d)];
        if (!lowDay || qint64(s.connected[size_t(d)]) * s.tested[size_t(lowDay)] <
                           qint64(s.connected[size_t(lowDay)]) * s.tested[size_t(d)])
            lowDay = d;
    }
    QString desc;
    if (testedDays == 0) {
        desc = QStringLiteral("Няма тестове през месеца.");
    } else {
        desc = QStringLiteral(
                   "Тестове в %1 от %2 дни; с връзка %3 от %4 канало-дни (%5); най-нисък дял %6 (ден %7).")
                   .arg(testedDays)
                   .arg(days)
                   .arg(grouped(connected), grouped(tested), percentText(100.0 * connected / tested),
                        percentText(100.0 * s.connected[size_t(lowDay)] / s.tested[size_t(lowDay)]))
                   .arg(lowDay);
    }

    out << kSvgHead << "width=\"" << kDayChartWidth << "\" height=\"" << kDayChartHeight
        << "\" viewBox=\"0 0 " << kDayChartWidth << ' ' << kDayChartHeight << "\" aria-labelledby=\"" << id
        << "-t " << id << "-d\">\n";
    putTitleAndDesc(out, id, kDayTitle + QStringLiteral(": ") + s.title, desc);
    out << "<g font-size=\"9\" font-weight=\"bold\">";
    putText(out, 2, 11, "start", fitted(s.title, 40));
    out << "</g>\n<g stroke=\"#d0d0d0\" stroke-width=\"0.6\">";
    putLine(out, left, top, right, top);
    putLine(out, left, (top + bottom) / 2, right, (top + bottom) / 2);
    out << "</g>\n<g stroke=\"#555\" stroke-width=\"0.8\">";
    putLine(out, left, top, left, bottom);
    putLine(out, left, bottom, right, bottom);
    for (int d = 1; d <= days; ++d)
        putLine(out, x(d), bottom, x(d), bottom + ((d == 1 || d % 5 == 0 || d == days) ? 3 : 1.5));
    out << "</g>\n<g fill=\"#333\">";
    putText(out, left - 3, top + 3, "end", u"100 %");
    putText(out, left - 3, (top + bottom) / 2 + 3, "end", u"50 %");
    putText(out, left - 3, bottom + 3, "end", u"0 %");
    for (int d = 1; d <= days; ++d)
        if (d == 1 || (d % 5 == 0 && days - d >= 3) || d == days)
            putText(out, x(d), bottom + 11, "middle", QString::number(d));
    out << "</g>\n";
    if (testedDays == 0) {
        putText(out, (left + right) / 2, (top + bottom) / 2 - 4, "middle", u"Няма тестове");
    } else {
        // A day without tests ends the line; the next tested day starts a new piece.
        out << "<path fill=\"none\" stroke=\"" << kBlue
            << "\" stroke-width=\"1.4\" stroke-linejoin=\"round\" d=\"";
        bool open = false;
        for (int d = 1; d <= days; ++d) {
            if (s.tested[size_t(d)] <= 0) {
                open = false;
                continue;
            }
            out << (open ? 'L' : 'M');
            putNum(out, x(d));
            out << ' ';
            putNum(out, y(d));
            open = true;
        }
        out << "\"/>\n<g fill=\"" << kBlue << "\">";
        for (int d = 1; d <= days; ++d) {
            if (s.tested[size_t(d)] <= 0)
                continue;
            out << "<circle r=\"1.9\" cx=\"";
            putNum(out, x(d));
            out << "\" cy=\"";
            putNum(out, y(d));
            out << "\"/>";
        }
        out << "</g>\n";
    }
    out << "</svg>\n";
}

void WriteDelayChart(const DelayHistogram& h, QStringView subtitle, const QByteArray& id, Sink& out) {
    Q_ASSERT(validId(id));
    constexpr double left = 52, right = kDelayChartWidth - 8, top = 38, bottom = kDelayChartHeight - 30;
    constexpr double slot = (right - left) / kDelayBins, bar = 17;
    constexpr int limitBin = 5; // the first bin above 22 s
    static_assert(kDelayBinEdges[limitBin - 1] == 2200);

    qint64 most = 0, connections = 0, busy = 0, lateBusy = 0;
    int topBin = 0;
    for (int b = 0; b < kDelayBins; ++b) {
        most = std::max({most, h.connected[size_t(b)], h.busy[size_t(b)]});
        connections += h.connected[size_t(b)];
        busy += h.busy[size_t(b)];
        if (b >= limitBin)
            lateBusy += h.busy[size_t(b)];
        if (h.connected[size_t(b)] > h.connected[size_t(topBin)])
            topBin = b;
    }
    // A step of 1, 2 or 5 times a power of ten, four or five steps up to the top.
    qint64 step = 1;
    for (int k = 0; most > step * 5; ++k)
        step = k % 3 == 1 ? step / 2 * 5 : step * 2; // 1, 2, 5, 10, 20, 50, …
    const qint64 scaleTop = std::max<qint64>(step, (most + step - 1) / step * step);
    auto y = [&](qint64 n) { return bottom - (bottom - top) * double(n) / double(scaleTop); };

    const QString title =
        subtitle.isEmpty() ? kDelayTitle : kDelayTitle + QStringLiteral(" — ") + subtitle.toString();
    QString desc = connections ? QStringLiteral("%1: %2 отговора, най-много %3 сек.")
                                     .arg(kConnectSeries, grouped(connections), DelayBinText(topBin))
                               : QStringLiteral("%1: няма.").arg(kConnectSeries);
    desc += busy ? QStringLiteral(" %1: %2 отговора, от тях %3 след 22 сек. (Г).")
                       .arg(kBusySeries, grouped(busy), grouped(lateBusy))
                 : QStringLiteral(" %1: няма.").arg(kBusySeries);

    out << kSvgHead << "width=\"" << kDelayChartWidth << "\" height=\"" << kDelayChartHeight
        << "\" viewBox=\"0 0 " << kDelayChartWidth << ' ' << kDelayChartHeight << "\" aria-labelledby=\""
        << id << "-t " << id << "-d\">\n";
    putTitleAndDesc(out, id, title, desc);
    out << "<defs><pattern id=\"" << id
        << "-p\" width=\"5\" height=\"5\" patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
           "<rect width=\"5\" height=\"5\" fill=\""
        << kOrange << "\"/><path d=\"M1 0V5\" stroke=\"#000\" stroke-width=\"1.4\"/></pattern></defs>\n";
    out << "<g font-size=\"10\" font-weight=\"bold\">";
    putText(out, 2, 12, "start", fitted(title, 80));
    out << "</g>\n";
    // The legend: each swatch as its bars are drawn.
    out << "<rect x=\"" << int(left) << "\" y=\"20\" width=\"12\" height=\"8\" fill=\"" << kBlue
        << "\" stroke=\"#000\" stroke-width=\"0.5\"/>";
    putText(out, left + 16, 27, "start", kConnectSeries);
    out << "<rect x=\"" << int(left) + 90 << "\" y=\"20\" width=\"12\" height=\"8\" fill=\"url(#" << id
        << "-p)\" stroke=\"#000\" stroke-width=\"0.5\"/>";
    putText(out, left + 106, 27, "start", kBusySeries);

    out << "<g stroke=\"#d0d0d0\" stroke-width=\"0.6\">";
    for (qint64 v = step; v <= scaleTop; v += step)
        putLine(out, left, y(v), right, y(v));
    out << "</g>\n<g fill=\"#333\">";
    for (qint64 v = 0; v <= scaleTop; v += step)
        putText(out, left - 3, y(v) + 3, "end", grouped(v));
    for (int b = 0; b < kDelayBins; ++b)
        putText(out, left + (b + 0.5) * slot, bottom + 11, "middle", DelayBinText(b));
    putText(out, (left + right) / 2, kDelayChartHeight - 4, "middle", u"Закъснение, сек.");
    out << "</g>\n<text transform=\"translate(11 ";
    putNum(out, (top + bottom) / 2);
    out << ") rotate(-90)\" text-anchor=\"middle\" fill=\"#333\">" << QStringLiteral("Отговори")
        << "</text>\n";

    out << "<g stroke=\"#000\" stroke-width=\"0.5\">";
    for (int b = 0; b < kDelayBins; ++b) {
        const double mid = left + (b + 0.5) * slot;
        for (int series = 0; series < 2; ++series) {
            const qint64 n = series ? h.busy[size_t(b)] : h.connected[size_t(b)];
            if (n <= 0)
                continue;
            const double ty = std::min(y(n), bottom - 1); // one answer still shows
            out << "<rect x=\"";
            putNum(out, series ? mid + 1 : mid - 1 - bar);
            out << "\" y=\"";
            putNum(out, ty);
            out << "\" width=\"" << int(bar) << "\" height=\"";
            putNum(out, bottom - ty);
            if (series)
                out << "\" fill=\"url(#" << id << "-p)\"/>";
            else
                out << "\" fill=\"" << kBlue << "\"/>";
        }
    }
    out << "</g>\n<g stroke=\"#555\" stroke-width=\"0.8\">";
    putLine(out, left, top, left, bottom);
    putLine(out, left, bottom, right, bottom);
    out << "</g>\n<g stroke=\"" << kVermillion << "\" stroke-width=\"1.2\" stroke-dasharray=\"4 2\">";
    putLine(out, left + limitBin * slot, top - 8, left + limitBin * slot, bottom + 3);
    out << "</g>\n";
    putText(out, left + limitBin * slot + 3, top - 2, "start", u"BUSY след 22 сек. е „Г“");
    if (connections + busy == 0)
        putText(out, (left + right) / 2, (top + bottom) / 2, "middle", u"Няма отговори");
    out << "</svg>\n";
}

void WriteDayChartGrid(const QVector<DayShares>& all, const QByteArray& idPrefix, Sink& out) {
    out << "<div class=\"daycharts\" style=\"display:grid;grid-template-columns:repeat(4," << kDayChartWidth
        << "px);gap:6px 8px;break-inside:avoid\">\n";
    const qsizetype n = std::min<qsizetype>(all.size(), kDayChartsOnPage);
    for (qsizetype i = 0; i < n; ++i)
        WriteDayChart(all[i], idPrefix + QByteArray::number(i + 1), out);
    out << "</div>\n";
}

void WriteDayTable(const QVector<DayShares>& all, qsizetype first, Sink& out) {
    int days = 1;
    for (qsizetype i = first; i < all.size(); ++i)
        days = std::max(days, std::clamp(all[i].days, 1, 31));
    out << "<table class=\"dayshares\">\n<caption>" << kDayTitle << QStringLiteral(", %")
        << "</caption>\n<thead><tr><th>" << QStringLiteral("Направление") << "</th>";
    for (int d = 1; d <= days; ++d)
        out << "<th>" << d << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    for (qsizetype i = first; i < all.size(); ++i) {
        const DayShares& s = all[i];
        out << "<tr><td>";
        out.putHtml(s.title);
        out << "</td>";
        for (int d = 1; d <= days; ++d) {
            if (d > s.days || s.tested[size_t(d)] <= 0)
                out << "<td></td>";
            else
                out << "<td>" << wholePercent(s.connected[size_t(d)], s.tested[size_t(d)]) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n";
}

void WriteDelayTable(const DelayHistogram& h, Sink& out) {
    out << "<table class=\"delays\">\n<caption>" << kDelayTitle << QStringLiteral(", брой отговори")
        << "</caption>\n<thead><tr><th>" << QStringLiteral("Закъснение, сек.") << "</th>";
    for (int b = 0; b < kDelayBins; ++b)
        out << "<th>" << DelayBinText(b) << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    for (int series = 0; series < 2; ++series) {
        out << "<tr><th>" << (series ? kBusySeries : kConnectSeries) << "</th>";
        for (int b = 0; b < kDelayBins; ++b)
            out << "<td>" << grouped(series ? h.busy[size_t(b)] : h.connected[size_t(b)]) << "</td>";
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n";
}

} // namespace report
