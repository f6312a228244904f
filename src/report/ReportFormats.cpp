#include "ReportFormats.h"

#include <QDir>
#include <QHash>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace report {

using monthfile::kMarkBusy;
using monthfile::kMarkConnect;
using monthfile::kMarkFailure;
using monthfile::ResultGroup;

namespace {
constexpr qsizetype kChunk = 1 << 18;
}

Sink::Sink(QIODevice& dev) : dev_(dev) {
    buf_.resize(kChunk);
}

void Sink::flush() {
    if (pos_ == 0)
        return;
    if (!failed_ && dev_.write(buf_.constData(), pos_) != pos_)
        failed_ = true;
    pos_ = 0;
}

void Sink::putBytes(QByteArrayView b) {
    if (b.size() > kChunk / 2) {
        flush();
        if (!failed_ && dev_.write(b.data(), b.size()) != b.size())
            failed_ = true;
        return;
    }
    room(b.size());
    memcpy(buf_.data() + pos_, b.data(), size_t(b.size()));
    pos_ += b.size();
}

void Sink::put(QStringView s) {
    if (s.size() > kChunk / 8) {
        putBytes(s.toUtf8());
        return;
    }
    room(3 * s.size());
    char* out = buf_.data() + pos_;
    const char16_t* p = s.utf16();
    const char16_t* const end = p + s.size();
    while (p < end) {
        const char16_t u = *p;
        if (u < 0x80) {
            *out++ = char(u);
            ++p;
            continue;
        }
        if (u < 0x800) {
            *out++ = char(0xC0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3F));
            ++p;
            continue;
        }
        // Beyond the two-byte range (never from a Windows-1251 file): Qt's own encoder.
        const QByteArray rest = QStringView(p, end).toUtf8();
        pos_ = out - buf_.data();
        putBytes(rest);
        return;
    }
    pos_ = out - buf_.data();
}

void Sink::putSeconds(int hundredths, char point) {
    room(16);
    const qint64 v = hundredths;
    qint64 a = v < 0 ? -v : v;
    if (v < 0)
        buf_[pos_++] = '-';
    char digits[24];
    int n = 0;
    const int cents = int(a % 100);
    a /= 100;
    do {
        digits[n++] = char('0' + a % 10);
        a /= 10;
    } while (a);
    while (n)
        buf_[pos_++] = digits[--n];
    buf_[pos_++] = point;
    buf_[pos_++] = char('0' + cents / 10);
    buf_[pos_++] = char('0' + cents % 10);
}

void Sink::putHtml(QStringView s) {
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        const char* rep = u == u'&'   ? "&amp;"
                          : u == u'<' ? "&lt;"
                          : u == u'>' ? "&gt;"
                          : u == u'"' ? "&quot;"
                          : u == u'\n' ? "&#10;"
                          // Control characters have no place in a page.
                          : (u < 0x20 || (u >= 0x7F && u <= 0x9F)) ? "\xEF\xBF\xBD"
                                                                   : nullptr;
        if (!rep)
            continue;
        put(s.mid(from, i - from));
        putBytes(QByteArrayView(rep));
        from = i + 1;
    }
    put(s.mid(from));
}

void Sink::putJson(QStringView s) {
    *this << '"';
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        if (u >= 0x20 && u != u'"' && u != u'\\')
            continue;
        put(s.mid(from, i - from));
        if (u == u'"' || u == u'\\') {
            *this << '\\' << char(u);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(u));
            putBytes(QByteArrayView(esc));
        }
        from = i + 1;
    }
    put(s.mid(from));
    *this << '"';
}

bool LooksLikeFormula(QStringView field) {
    if (field.isEmpty())
        return false;
    const QChar c = field[0];
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

QString Counted(qint64 n, const QString& one, const QString& many) {
    return QString::number(n) + u' ' + (n % 10 == 1 && n % 100 != 11 ? one : many);
}

void Sink::putCsv(QStringView s, QChar sep) {
    bool quote = false;
    for (QChar c : s)
        if (c == sep || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    if (!quote) {
        if (LooksLikeFormula(s))
            *this << '\'';
        put(s);
        return;
    }
    *this << '"';
    if (LooksLikeFormula(s))
        *this << '\'';
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'"')
            continue;
        put(s.mid(from, i + 1 - from));
        *this << '"';
        from = i + 1;
    }
    put(s.mid(from));
    *this << '"';
}

namespace {
QString dayText(const Month& m, int day) {
    return m.date(day).toString(QStringLiteral("dd.MM.yyyy"));
}

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

bool failedIn(const QVector<QChar>& marks, Span span) {
    for (int d = span.from; d <= span.to && d < marks.size(); ++d)
        if (marks[d] == kMarkFailure)
            return true;
    return false;
}

// "hh:nn" of a timestamp: four digits as they are, anything else through `slow`.
bool timeDigits(QStringView ts) {
    for (int i = 6; i < 10; ++i)
        if (ts[i].unicode() < u'0' || ts[i].unicode() > u'9')
            return false;
    return true;
}
void putTime(Sink& out, QStringView ts) {
    out.put(ts.mid(6, 2));
    out << ':';
    out.put(ts.mid(8, 2));
}

const char* markBytes(QChar mark) {
    return mark == kMarkConnect ? "\xD0\xA0" : mark == kMarkBusy ? "\xD0\x97" : "\xD0\x93";
}

int rank(QChar mark) {
    return mark == kMarkFailure ? 0 : mark == kMarkBusy ? 1 : 2;
}

QString channels(int n) {
    return Counted(n, QStringLiteral("канал"), QStringLiteral("канала"));
}

QString journalText(const Month& m) {
    return QStringLiteral("%1 (%2)").arg(
        shownPath(m.journalPath), Counted(m.journalRecords, QStringLiteral("тест"), QStringLiteral("теста")));
}

// "файл A" or "файлове A и B", then the journals read with them.
QString sourcesText(const Period& p) {
    QStringList files, journals;
    for (const Month* m : p.months) {
        files.append(shownPath(m->path));
        if (!m->journalPath.isEmpty())
            journals.append(journalText(*m));
    }
    const auto listed = [](QStringList l) {
        const QString last = l.takeLast();
        return l.isEmpty() ? last : l.join(QStringLiteral(", ")) + QStringLiteral(" и ") + last;
    };
    QString text = (files.size() == 1 ? QStringLiteral("файл ") : QStringLiteral("файлове ")) + listed(files);
    if (!journals.isEmpty())
        text += (journals.size() == 1 ? QStringLiteral(" и дневник ") : QStringLiteral(" и дневници ")) +
                journals.join(QStringLiteral(", "));
    return text;
}

QString endText(const Period& p) {
    return p.end.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
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

} // namespace

void WriteText(const Period& p, const Options& o, Sink& out) {
    struct Entry {
        QChar mark;
        QString label, answer, delay, time;
    };
    QVector<Entry> entries;
    DayCounts n;
    VisitPeriod(p, [&](const Month& m, const ChannelTests& t, const ResultGroup& last, QChar mark) {
        n.add(mark);
        if (o.failedOnly && mark != kMarkFailure)
            return;
        // Over hours that may cross midnight the date comes with the time.
        QString time = monthfile::TestTime(last.timestamp);
        if (!p.day)
            time = m.date(last.day).toString(QStringLiteral("dd.MM ")) + time;
        entries.append({mark, t.label(), last.answer.toString(), monthfile::ShownDelay(last), time});
    });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return rank(a.mark) < rank(b.mark); });
    qsizetype wl = 0, wa = 0, wd = 0;
    for (const Entry& e : entries) {
        wl = std::max(wl, e.label.size());
        wa = std::max(wa, std::min<qsizetype>(e.answer.size(), 40));
        wd = std::max(wd, e.delay.size());
    }
    const QString period = p.day ? dayText(*p.months.last(), p.day)
                                 : QStringLiteral("%1 ч до %2").arg(QString::number(p.hours), endText(p));
    out << QStringLiteral("Тестове на каналите за %1, %2\n").arg(period, sourcesText(p));
    if (entries.isEmpty())
        out << (o.failedOnly ? QStringLiteral("Няма неуспешни канали.\n") : QStringLiteral("Няма тестове.\n"));
    for (const Entry& e : entries) {
        out << QString(e.mark) << "  " << e.label.leftJustified(wl) << "  " << e.answer.leftJustified(wa) << "  "
            << e.delay.rightJustified(wd) << "  " << e.time << "\n";
    }
    out << QStringLiteral("Общо %1: %2 без връзка (Г), %3 (З), %4 с връзка (Р)\n")
               .arg(channels(n.tested()), QString::number(n.failed),
                    Counted(n.busy, QStringLiteral("зает"), QStringLiteral("заети")),
                    QString::number(n.connected));
}

namespace {
QString csvQuoted(const QString& text, QChar sep) {
    const QString field = LooksLikeFormula(text) ? u'\'' + text : text;
    for (QChar c : field)
        if (c == sep || c == u'"' || c == u'\r' || c == u'\n')
            return u'"' + QString(field).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return field;
}
} // namespace

void WriteCsv(const Month& m, const Options& o, Span span, Sink& out) {
    const QChar sep = o.separator;
    // With ';' the spreadsheet expects a decimal comma.
    const char point = sep == u';' ? ',' : '.';
    const char16_t* const head[] = {u"Направление", u"Централа", u"Канал",      u"Набиране", u"Дата",
                                    u"Час",         u"Отговор",  u"Закъснение", u"Знак"};
    out << "\xEF\xBB\xBF";
    for (int i = 0; i < 9; ++i) {
        if (i)
            out << sep;
        out.putCsv(QStringView(head[i]), sep);
    }
    out << "\r\n";
    const QByteArray sepBytes = QString(sep).toUtf8();
    QVector<QByteArray> dates(m.days + 1);
    for (int d = 1; d <= m.days; ++d)
        dates[d] = m.date(d).toString(Qt::ISODate).toLatin1() + sepBytes;
    for (int c = 0; c < m.channels.size(); ++c) {
        const ChannelTests t = m.tests(c);
        const QVector<ResultGroup>& gs = t.groups;
        if (gs.isEmpty())
            continue;
        if (o.failedOnly && !failedIn(monthfile::DayMarks(gs, m.days), span))
            continue;
        // The channel's own fields, quoted once for all its rows.
        const ChannelParts p = SplitKey(t.key());
        QString frontText;
        for (const QString* field : {&p.direction, &p.exchange, &p.channel, &p.dial}) {
            frontText += csvQuoted(*field, sep);
            frontText += sep;
        }
        const QByteArray front = frontText.toUtf8();
        for (const ResultGroup& g : gs) {
            if (g.day < span.from || g.day > span.to)
                continue;
            out << front << dates[g.day];
            if (timeDigits(g.timestamp))
                putTime(out, g.timestamp);
            else
                out.putCsv(monthfile::TestTime(g.timestamp), sep);
            out << sep;
            out.putCsv(g.answer, sep);
            out << sep;
            if (g.delayIsNumber)
                out.putSeconds(g.delayValue, point);
            out << sep << markBytes(monthfile::DayMark(g)) << "\r\n";
        }
    }
}

void WriteJson(const Month& m, const Options& o, Span span, Sink& out) {
    out << "{\"file\":";
    out.putJson(shownPath(m.path));
    out << ",\"year\":" << m.year << ",\"month\":" << m.month;
    if (span.from == span.to)
        out << ",\"day\":" << span.from;
    out << ",\"journal_tests\":" << m.journalRecords << ",\"channels\":[";
    QVector<QByteArray> dates(m.days + 1);
    for (int d = 1; d <= m.days; ++d)
        dates[d] = m.date(d).toString(Qt::ISODate).toLatin1();
    bool firstChannel = true;
    for (int c = 0; c < m.channels.size(); ++c) {
        const ChannelTests t = m.tests(c);
        const QVector<ResultGroup>& gs = t.groups;
        const QVector<QChar> marks = monthfile::DayMarks(gs, m.days);
        bool any = false;
        for (int d = span.from; d <= span.to && d < marks.size() && !any; ++d)
            any = !marks[d].isNull();
        if (!any || (o.failedOnly && !failedIn(marks, span)))
            continue;
        const ChannelParts p = SplitKey(t.key());
        out << (firstChannel ? "\n{\"direction\":" : ",\n{\"direction\":");
        firstChannel = false;
        out.putJson(p.direction);
        out << ",\"exchange\":";
        out.putJson(p.exchange);
        out << ",\"channel\":";
        out.putJson(p.channel);
        out << ",\"dial\":";
        out.putJson(p.dial);
        out << ",\"days\":[";
        bool firstDay = true;
        for (int d = span.from; d <= span.to && d < marks.size(); ++d) {
            if (marks[d].isNull())
                continue;
            out << (firstDay ? "{\"day\":" : ",{\"day\":") << d << ",\"date\":\"" << dates[d]
                << "\",\"mark\":\"" << markBytes(marks[d]) << "\",\"tests\":[";
            firstDay = false;
            bool firstTest = true;
            for (const ResultGroup& g : gs) {
                if (g.day != d)
                    continue;
                out << (firstTest ? "{\"answer\":" : ",{\"answer\":");
                firstTest = false;
                out.putJson(g.answer);
                out << ",\"delay\":";
                if (g.delayIsNumber)
                    out.putSeconds(g.delayValue);
                else
                    out << "null";
                out << ",\"time\":";
                if (timeDigits(g.timestamp)) {
                    out << '"';
                    putTime(out, g.timestamp);
                    out << '"';
                } else {
                    out.putJson(monthfile::TestTime(g.timestamp));
                }
                out << '}';
            }
            out << "]}";
        }
        out << "]}";
    }
    out << "\n]}\n";
}

namespace {
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
table.grid td, table.grid th { text-align: center; }
table.grid td:nth-child(n+3), table.grid th:nth-child(n+3) { width: 1.6em; min-width: 1.6em; }
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
  body { margin: 0; font-size: 8pt; }
  h1 { font-size: 11pt; }
  h2 { font-size: 9pt; break-after: avoid; }
  th, td { padding: 0 1px; }
  table.grid td:nth-child(n+3), table.grid th:nth-child(n+3) { width: 1.5em; min-width: 1.5em; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
}
)CSS";
} // namespace

void WriteHtml(const Month& m, const Options& o, Span span, const QDateTime& now, Sink& out) {
    const QString title = monthfile::MonthTitle(monthfile::MonthName(m.month), m.year);
    out << "<!DOCTYPE html>\n<html lang=\"bg\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    out.putHtml(title);
    out << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>";
    out.putHtml(title);
    if (span.from == span.to)
        out << QStringLiteral(", ден ") << span.from;
    if (o.failedOnly)
        out << QStringLiteral(" (каналите с неуспешни тестове)");
    out << "</h1>\n<p class=\"src\">";
    out.putHtml(QStringLiteral("Файл: %1").arg(shownPath(m.path)));
    if (!m.journalPath.isEmpty())
        out.putHtml(QStringLiteral(" и дневник ") + journalText(m));
    out.putHtml(QStringLiteral(" · изготвен на %1").arg(now.toString(QStringLiteral("dd.MM.yyyy HH:mm"))));
    out << "</p>\n<p class=\"legend\">"
        << QStringLiteral("Знаци:<span class=\"r\">Р</span>връзка<span class=\"z\">З</span>заето"
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
    QVector<int> firstOfDay(m.days + 2);
    for (int c = 0; c < m.channels.size(); ++c) {
        const ChannelTests t = m.tests(c);
        const QVector<ResultGroup>& gs = t.groups;
        const QVector<QChar> marks = monthfile::DayMarks(gs, m.days);
        if (o.failedOnly && !failedIn(marks, span))
            continue;
        const ChannelParts p = SplitKey(t.key());
        auto it = sumOf.constFind(p.direction);
        if (it == sumOf.constEnd()) {
            it = sumOf.insert(p.direction, int(sums.size()));
            sums.append({p.direction});
        }
        Sum& sum = sums[*it];
        ++sum.channels;
        out << "<tr><td class=\"n\">" << ++row << "</td><td class=\"l\">";
        out.putHtml(t.label());
        out << "</td>";
        for (int d = span.from; d <= span.to; ++d) {
            const QChar mark = d < marks.size() ? marks[d] : QChar();
            if (mark.isNull()) {
                out << "<td></td>";
                continue;
            }
            ++sum.tested;
            sum.connected += mark == kMarkConnect;
            out << (mark == kMarkConnect ? "<td class=\"r\" title=\""
                    : mark == kMarkBusy  ? "<td class=\"z\" title=\""
                                         : "<td class=\"g\" title=\"");
            // The day's tests as the tooltip: answer, delay, time, one a line.
            bool first = true;
            for (const ResultGroup& g : gs) {
                if (g.day != d)
                    continue;
                if (!first)
                    out << "&#10;";
                first = false;
                out.putHtml(g.answer);
                out << ' ';
                if (g.delayIsNumber && g.delay.size() > 2) { // as DelayWithComma, without a string
                    out.putHtml(g.delay.first(g.delay.size() - 2));
                    out << ',';
                    out.putHtml(g.delay.last(2));
                } else {
                    out.putHtml(g.delayIsNumber ? monthfile::DelayWithComma(g.delay) : g.delay.toString());
                }
                out << ' ';
                out.putHtml(g.timestamp.mid(6, 2));
                out << ':';
                out.putHtml(g.timestamp.mid(8, 2));
            }
            out << "\">" << markBytes(mark) << "</td>";
        }
        out << "</tr>\n";
    }
    if (row == 0) {
        out << "<tr><td></td><td class=\"l\">" << QStringLiteral("Няма канали за показване.") << "</td>";
        for (int d = span.from; d <= span.to; ++d)
            out << "<td></td>";
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n<h2>" << QStringLiteral("По направления") << "</h2>\n<table class=\"sum\">\n<thead><tr><th>"
        << QStringLiteral("Направление</th><th>Канали</th><th>Тествани канало-дни</th><th>С връзка</th>"
                          "<th>Дял с връзка")
        << "</th></tr></thead>\n<tbody>\n";
    Sum total{QStringLiteral("Общо")};
    for (const Sum& s : sums) {
        out << "<tr><td>";
        out.putHtml(s.direction);
        out << "</td><td>" << s.channels << "</td><td>" << s.tested << "</td><td>" << s.connected << "</td><td>"
            << percent(s.connected, s.tested) << "</td></tr>\n";
        total.channels += s.channels;
        total.tested += s.tested;
        total.connected += s.connected;
    }
    out << "<tr class=\"total\"><td>" << total.direction << "</td><td>" << total.channels << "</td><td>"
        << total.tested << "</td><td>" << total.connected << "</td><td>" << percent(total.connected, total.tested)
        << "</td></tr>\n</tbody>\n</table>\n</body>\n</html>\n";
}

QString UnknownLine(const QString& why) {
    // One line, and no '|' that would start the performance data.
    QString text = why.left(200);
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c == u'|' || c.unicode() == 0x7F)
            c = u'?';
    return QStringLiteral("CHANTEST UNKNOWN - ") + text;
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

CheckResult Check(const Period& p, const Options& o, const QDateTime& now) {
    DayCounts n;
    VisitPeriod(p, [&](const Month&, const ChannelTests&, const ResultGroup&, QChar mark) { n.add(mark); });
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
    const QDateTime latest = p.months.last()->latestTest();
    if (o.maxAgeHours > 0 && latest.isValid() && latest.secsTo(now) > qint64(o.maxAgeHours) * 3600) {
        r.code = 2;
        r.line = QStringLiteral("CHANTEST CRITICAL - no test since %1 | %2")
                     .arg(latest.toString(QStringLiteral("dd.MM.yyyy HH:mm")), perf);
        return r;
    }
    r.code = o.critical.exceeded(n.failed, n.tested()) ? 2 : o.warning.exceeded(n.failed, n.tested()) ? 1 : 0;
    const char* const names[] = {"OK", "WARNING", "CRITICAL"};
    const QString period =
        p.day ? QStringLiteral("on ") + dayText(*p.months.last(), p.day)
              : QStringLiteral("in the %1 h to %2").arg(QString::number(p.hours), endText(p));
    r.line = QStringLiteral("CHANTEST %1 - %2 of %3 channels failed %4 | %5")
                 .arg(QLatin1String(names[r.code]))
                 .arg(n.failed)
                 .arg(n.tested())
                 .arg(period, perf);
    return r;
}

} // namespace report
