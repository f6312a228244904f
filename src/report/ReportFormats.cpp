#include "ReportFormats.h"

#include <QDir>
#include <QHash>

#include <algorithm>

namespace report {

using results::kMarkBusy;
using results::kMarkConnect;
using results::kMarkFailure;
using results::ResultGroup;

void Sink::flush() {
    if (buf_.isEmpty())
        return;
    if (!failed_ && dev_.write(buf_) != buf_.size())
        failed_ = true;
    buf_.clear();
}

QByteArray Seconds(int hundredths) {
    const qint64 v = hundredths;
    const qint64 a = v < 0 ? -v : v;
    QByteArray s = v < 0 ? QByteArray("-") : QByteArray();
    s += QByteArray::number(a / 100);
    s += '.';
    s += char('0' + a % 100 / 10);
    s += char('0' + a % 10);
    return s;
}

namespace {
QString dayText(const Month& m, int day) {
    return m.date(day).toString(QStringLiteral("dd.MM.yyyy"));
}

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The label as a person reads it: without the blank in front of the arrow.
QString labelOf(const Month& m, int channel) {
    return results::ChannelLabel(m.lines[m.channels[channel]]).trimmed();
}

QString keyOf(const Month& m, int channel) {
    const QString& line = m.lines[m.channels[channel]];
    const qsizetype caret = line.indexOf(u'^');
    return caret < 0 ? line : line.left(caret);
}

bool failedIn(const QVector<QChar>& marks, Span span) {
    for (int d = span.from; d <= span.to && d < marks.size(); ++d)
        if (marks[d] == kMarkFailure)
            return true;
    return false;
}

int rank(QChar mark) {
    return mark == kMarkFailure ? 0 : mark == kMarkBusy ? 1 : 2;
}

QString channelsWord(int n) {
    return n == 1 ? QStringLiteral("канал") : QStringLiteral("канала");
}

struct DayCounts {
    int failed = 0, busy = 0, connected = 0;
    int tested() const { return failed + busy + connected; }
    void add(QChar mark) {
        if (mark == kMarkFailure)
            ++failed;
        else if (mark == kMarkBusy)
            ++busy;
        else if (mark == kMarkConnect)
            ++connected;
    }
};

DayCounts countDay(const Month& m, int day) {
    DayCounts n;
    for (int c = 0; c < m.channels.size(); ++c)
        n.add(results::DayMarks(m.groups(c), day).value(day));
    return n;
}
} // namespace

void WriteText(const Month& m, const Options& o, int day, Sink& out) {
    struct Entry {
        QChar mark;
        QString label, answer, delay, time;
    };
    QVector<Entry> entries;
    DayCounts n;
    for (int c = 0; c < m.channels.size(); ++c) {
        const QVector<ResultGroup> gs = m.groups(c);
        const QChar mark = results::DayMarks(gs, day).value(day);
        if (mark.isNull())
            continue;
        n.add(mark);
        if (o.failedOnly && mark != kMarkFailure)
            continue;
        const auto last = std::find_if(gs.rbegin(), gs.rend(), [day](const ResultGroup& g) { return g.day == day; });
        entries.append({mark, labelOf(m, c), last->answer.toString(), results::ShownDelay(*last),
                        results::TestTime(last->timestamp)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return rank(a.mark) < rank(b.mark); });
    qsizetype wl = 0, wa = 0, wd = 0;
    for (const Entry& e : entries) {
        wl = std::max(wl, e.label.size());
        wa = std::max(wa, std::min<qsizetype>(e.answer.size(), 40));
        wd = std::max(wd, e.delay.size());
    }
    out << QStringLiteral("Тестове на каналите за %1, файл %2").arg(dayText(m, day), shownPath(m.path));
    if (!m.journalPath.isEmpty())
        out << QStringLiteral(" и дневник %1 (%2 теста)").arg(shownPath(m.journalPath), QString::number(m.journalRecords));
    out << "\n";
    if (entries.isEmpty())
        out << (o.failedOnly ? QStringLiteral("Няма неуспешни канали.\n") : QStringLiteral("Няма тестове.\n"));
    for (const Entry& e : entries) {
        out << QString(e.mark) << "  " << e.label.leftJustified(wl) << "  " << e.answer.leftJustified(wa) << "  "
            << e.delay.rightJustified(wd) << "  " << e.time << "\n";
    }
    out << QStringLiteral("Общо %1 %2: %3 без връзка (Г), %4 заети (З), %5 с връзка (Р)\n")
               .arg(n.tested())
               .arg(channelsWord(n.tested()))
               .arg(n.failed)
               .arg(n.busy)
               .arg(n.connected);
}

namespace {
QString csvField(QStringView text, QChar sep) {
    for (QChar c : text)
        if (c == sep || c == u'"' || c == u'\r' || c == u'\n') {
            QString q = text.toString();
            q.replace(u'"', QStringLiteral("\"\""));
            return u'"' + q + u'"';
        }
    return text.toString();
}
} // namespace

void WriteCsv(const Month& m, const Options& o, Span span, Sink& out) {
    const QChar sep = o.separator;
    const char16_t* const head[] = {u"Направление", u"Централа", u"Канал",      u"Набиране", u"Дата",
                                    u"Час",         u"Отговор",  u"Закъснение", u"Знак"};
    QString line = QStringLiteral("\xFEFF");
    for (int i = 0; i < 9; ++i) {
        if (i)
            line += sep;
        line += csvField(QStringView(head[i]), sep);
    }
    out << line << "\r\n";
    QVector<QString> dates(m.days + 1);
    for (int d = 1; d <= m.days; ++d)
        dates[d] = m.date(d).toString(Qt::ISODate);
    for (int c = 0; c < m.channels.size(); ++c) {
        const QVector<ResultGroup> gs = m.groups(c);
        if (gs.isEmpty())
            continue;
        if (o.failedOnly && !failedIn(results::DayMarks(gs, m.days), span))
            continue;
        // The channel's own fields, quoted once for all its rows.
        const ChannelParts p = SplitKey(keyOf(m, c));
        const QString front = csvField(p.direction, sep) + sep + csvField(p.exchange, sep) + sep +
                              csvField(p.channel, sep) + sep + csvField(p.dial, sep) + sep;
        for (const ResultGroup& g : gs) {
            if (g.day < span.from || g.day > span.to)
                continue;
            line = front;
            line += dates[g.day];
            line += sep;
            line += csvField(results::TestTime(g.timestamp), sep);
            line += sep;
            line += csvField(g.answer, sep);
            line += sep;
            if (g.delayIsNumber)
                line += QLatin1String(Seconds(g.delayValue));
            line += sep;
            line += results::DayMark(g);
            line += QLatin1String("\r\n");
            out << line;
        }
    }
}

namespace {
QString jsonString(QStringView text) {
    QString s;
    s.reserve(text.size() + 2);
    s += u'"';
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\') {
            s += u'\\';
            s += c;
        } else if (u < 0x20) {
            s += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        } else {
            s += c;
        }
    }
    s += u'"';
    return s;
}
} // namespace

void WriteJson(const Month& m, const Options& o, Span span, Sink& out) {
    out << "{\"file\":" << jsonString(shownPath(m.path)) << ",\"year\":" << m.year << ",\"month\":" << m.month;
    if (span.from == span.to)
        out << ",\"day\":" << span.from;
    out << ",\"journal_tests\":" << m.journalRecords << ",\"channels\":[";
    bool firstChannel = true;
    QString text;
    for (int c = 0; c < m.channels.size(); ++c) {
        const QVector<ResultGroup> gs = m.groups(c);
        const QVector<QChar> marks = results::DayMarks(gs, m.days);
        bool any = false;
        for (int d = span.from; d <= span.to && d < marks.size() && !any; ++d)
            any = !marks[d].isNull();
        if (!any || (o.failedOnly && !failedIn(marks, span)))
            continue;
        const ChannelParts p = SplitKey(keyOf(m, c));
        text = firstChannel ? QStringLiteral("\n{") : QStringLiteral(",\n{");
        firstChannel = false;
        text += QStringLiteral("\"direction\":") + jsonString(p.direction) + QStringLiteral(",\"exchange\":") +
                jsonString(p.exchange) + QStringLiteral(",\"channel\":") + jsonString(p.channel) +
                QStringLiteral(",\"dial\":") + jsonString(p.dial) + QStringLiteral(",\"days\":[");
        bool firstDay = true;
        for (int d = span.from; d <= span.to && d < marks.size(); ++d) {
            if (marks[d].isNull())
                continue;
            text += firstDay ? QStringLiteral("{\"day\":") : QStringLiteral(",{\"day\":");
            firstDay = false;
            text += QString::number(d) + QStringLiteral(",\"date\":\"") + m.date(d).toString(Qt::ISODate) +
                    QStringLiteral("\",\"mark\":\"") + marks[d] + QStringLiteral("\",\"tests\":[");
            bool firstTest = true;
            for (const ResultGroup& g : gs) {
                if (g.day != d)
                    continue;
                text += firstTest ? QStringLiteral("{\"answer\":") : QStringLiteral(",{\"answer\":");
                firstTest = false;
                text += jsonString(g.answer) + QStringLiteral(",\"delay\":") +
                        (g.delayIsNumber ? QString::fromLatin1(Seconds(g.delayValue)) : QStringLiteral("null")) +
                        QStringLiteral(",\"time\":") + jsonString(results::TestTime(g.timestamp)) + u'}';
            }
            text += QStringLiteral("]}");
        }
        text += QStringLiteral("]}");
        out << text;
    }
    out << "\n]}\n";
}

namespace {
QString esc(QStringView text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&': s += QLatin1String("&amp;"); break;
        case u'<': s += QLatin1String("&lt;"); break;
        case u'>': s += QLatin1String("&gt;"); break;
        case u'"': s += QLatin1String("&quot;"); break;
        case u'\n': s += QLatin1String("&#10;"); break;
        default:
            // Control characters have no place in a page.
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                s += u'\uFFFD';
            else
                s += c;
        }
    }
    return s;
}

QString percent(int part, int whole) {
    if (whole == 0)
        return QStringLiteral("—");
    return QString::number(100.0 * part / whole, 'f', 1).replace(u'.', u',') + QStringLiteral(" %");
}

const char* const kStyle = R"CSS(
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10pt; color: #111; margin: 16px; }
h1 { font-size: 15pt; margin: 0 0 4px; }
h2 { font-size: 12pt; margin: 18px 0 6px; }
p.src { margin: 0 0 8px; color: #444; }
.legend span { display: inline-block; min-width: 1.4em; text-align: center; margin: 0 2px 0 10px;
  border: 1px solid #999; }
table { border-collapse: collapse; }
th, td { border: 1px solid #aaa; padding: 1px 3px; }
th { background: #e8e8e8; font-weight: bold; }
table.grid td, table.grid th { text-align: center; min-width: 1.3em; }
table.grid td.n { color: #555; text-align: right; }
table.grid td.l { text-align: left; white-space: pre; }
table.grid tbody tr:nth-child(even) td.n, table.grid tbody tr:nth-child(even) td.l { background: #f6f6f6; }
td.r, span.r { background: #c6efce; color: #005a00; font-weight: bold; }
td.z, span.z { background: #ffe699; color: #7a4a00; font-weight: bold; }
td.g, span.g { background: #ffb3ba; color: #9c0006; font-weight: bold; }
table.sum td { text-align: right; }
table.sum td:first-child { text-align: left; }
table.sum tr.total td { font-weight: bold; border-top: 2px solid #666; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
@page { size: A4 landscape; margin: 10mm; }
@media print {
  body { margin: 0; font-size: 7pt; }
  h1 { font-size: 11pt; }
  h2 { font-size: 9pt; break-after: avoid; }
  th, td { padding: 0 2px; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
}
)CSS";
} // namespace

void WriteHtml(const Month& m, const Options& o, Span span, const QDateTime& now, Sink& out) {
    const QString title = results::MonthTitle(results::MonthName(m.month), m.year);
    out << "<!DOCTYPE html>\n<html lang=\"bg\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << esc(title)
        << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>" << esc(title);
    if (span.from == span.to)
        out << QStringLiteral(", ден ") << span.from;
    if (o.failedOnly)
        out << QStringLiteral(" (каналите с неуспешни тестове)");
    out << "</h1>\n<p class=\"src\">" << esc(QStringLiteral("Файл: %1").arg(shownPath(m.path)));
    if (!m.journalPath.isEmpty())
        out << esc(QStringLiteral(" и дневник %1 (%2 теста)").arg(shownPath(m.journalPath), QString::number(m.journalRecords)));
    out << esc(QStringLiteral(" · изготвен на %1").arg(now.toString(QStringLiteral("dd.MM.yyyy HH:mm"))))
        << "</p>\n<p class=\"legend\">" << QStringLiteral("Знаци:")
        << QStringLiteral("<span class=\"r\">Р</span>връзка<span class=\"z\">З</span>заето"
                          "<span class=\"g\">Г</span>без връзка</p>\n");
    out << "<table class=\"grid\">\n<thead><tr><th>№</th><th>" << QStringLiteral("Направление -- Канал") << "</th>";
    for (int d = span.from; d <= span.to; ++d)
        out << "<th>" << d << "</th>";
    out << "</tr></thead>\n<tbody>\n";

    struct Sum {
        QString direction;
        int channels = 0, tested = 0, connected = 0;
    };
    QVector<Sum> sums;
    QHash<QString, int> sumOf;
    int row = 0;
    QString text;
    for (int c = 0; c < m.channels.size(); ++c) {
        const QVector<ResultGroup> gs = m.groups(c);
        const QVector<QChar> marks = results::DayMarks(gs, m.days);
        if (o.failedOnly && !failedIn(marks, span))
            continue;
        const ChannelParts p = SplitKey(keyOf(m, c));
        auto it = sumOf.constFind(p.direction);
        if (it == sumOf.constEnd()) {
            it = sumOf.insert(p.direction, int(sums.size()));
            sums.append({p.direction});
        }
        Sum& sum = sums[*it];
        ++sum.channels;
        // The tests of each day, for the cell's tooltip.
        QVector<QString> tips(m.days + 1);
        for (const ResultGroup& g : gs) {
            QString& t = tips[g.day];
            if (!t.isEmpty())
                t += u'\n';
            t += g.answer;
            t += u' ' + results::ShownDelay(g) + u' ' + results::TestTime(g.timestamp);
        }
        text = QStringLiteral("<tr><td class=\"n\">") + QString::number(++row) + QStringLiteral("</td><td class=\"l\">") +
               esc(labelOf(m, c)) + QStringLiteral("</td>");
        for (int d = span.from; d <= span.to; ++d) {
            const QChar mark = d < marks.size() ? marks[d] : QChar();
            if (mark.isNull()) {
                text += QLatin1String("<td></td>");
                continue;
            }
            ++sum.tested;
            sum.connected += mark == kMarkConnect;
            text += QLatin1String(mark == kMarkConnect ? "<td class=\"r\" title=\""
                                  : mark == kMarkBusy  ? "<td class=\"z\" title=\""
                                                       : "<td class=\"g\" title=\"");
            text += esc(tips[d]) + QLatin1String("\">") + mark + QLatin1String("</td>");
        }
        text += QLatin1String("</tr>\n");
        out << text;
    }
    if (row == 0)
        out << "<tr><td></td><td class=\"l\">" << QStringLiteral("Няма канали за показване.") << "</td>"
            << QString(QLatin1String("<td></td>")).repeated(span.to - span.from + 1) << "</tr>\n";
    out << "</tbody>\n</table>\n<h2>" << QStringLiteral("По направления") << "</h2>\n<table class=\"sum\">\n<thead><tr><th>"
        << QStringLiteral("Направление</th><th>Канали</th><th>Тествани канало-дни</th><th>С връзка</th>"
                          "<th>Дял с връзка")
        << "</th></tr></thead>\n<tbody>\n";
    Sum total{QStringLiteral("Общо")};
    for (const Sum& s : sums) {
        out << "<tr><td>" << esc(s.direction) << "</td><td>" << s.channels << "</td><td>" << s.tested << "</td><td>"
            << s.connected << "</td><td>" << percent(s.connected, s.tested) << "</td></tr>\n";
        total.channels += s.channels;
        total.tested += s.tested;
        total.connected += s.connected;
    }
    out << "<tr class=\"total\"><td>" << total.direction << "</td><td>" << total.channels << "</td><td>"
        << total.tested << "</td><td>" << total.connected << "</td><td>" << percent(total.connected, total.tested)
        << "</td></tr>\n</tbody>\n</table>\n</body>\n</html>\n";
}

QString UnknownLine(const QString& why) {
    return QStringLiteral("CHANTEST UNKNOWN - ") + why;
}

namespace {
QString shareText(double share) {
    QString s = QString::number(share, 'f', 1);
    if (s.endsWith(QLatin1String(".0")))
        s.chop(2);
    return s;
}
QString countLimit(const Threshold& t) {
    return t.set && !t.percent ? QString::number(qint64(t.value)) : QString();
}
QString shareLimit(const Threshold& t) {
    return t.set && t.percent ? shareText(t.value) : QString();
}
} // namespace

CheckResult Check(const Month& m, const Options& o, int day, const QDateTime& now) {
    const DayCounts n = countDay(m, day);
    QString perf = QStringLiteral("failed=%1;%2;%3;0;%4 busy=%5 connected=%6")
                       .arg(n.failed)
                       .arg(countLimit(o.warning), countLimit(o.critical))
                       .arg(n.tested())
                       .arg(n.busy)
                       .arg(n.connected);
    if (o.warning.percent || o.critical.percent) {
        const double share = n.tested() ? 100.0 * n.failed / n.tested() : 0.0;
        perf += QStringLiteral(" failed_share=%1%;%2;%3;0;100")
                    .arg(shareText(share), shareLimit(o.warning), shareLimit(o.critical));
    }
    CheckResult r;
    const QDateTime latest = m.latestTest();
    if (o.maxAgeHours > 0 && latest.isValid() && latest.secsTo(now) > qint64(o.maxAgeHours) * 3600) {
        r.code = 2;
        r.line = QStringLiteral("CHANTEST CRITICAL - no test since %1 | %2")
                     .arg(latest.toString(QStringLiteral("dd.MM.yyyy HH:mm")), perf);
        return r;
    }
    r.code = o.critical.exceeded(n.failed, n.tested()) ? 2 : o.warning.exceeded(n.failed, n.tested()) ? 1 : 0;
    const char* const names[] = {"OK", "WARNING", "CRITICAL"};
    r.line = QStringLiteral("CHANTEST %1 - %2 of %3 channels failed on %4 | %5")
                 .arg(QLatin1String(names[r.code]))
                 .arg(n.failed)
                 .arg(n.tested())
                 .arg(dayText(m, day), perf);
    return r;
}

} // namespace report
