#include "ReportFormats.h"

#include "ReportCharts.h"
#include "ReportPrometheus.h"
#include "ReportShared.h"

#include <QHash>

#include <algorithm>

namespace report {

using monthfile::kMarkBusy;
using monthfile::kMarkConnect;
using monthfile::kMarkFailure;
using monthfile::ResultGroup;

namespace {
int rank(QChar mark) {
    return mark == kMarkFailure ? 0 : mark == kMarkBusy ? 1 : 2;
}

QString channels(int n) {
    return Counted(n, QStringLiteral("канал"), QStringLiteral("канала"));
}

// "файл A" or "файлове A и B", then the journals read with them.
QString sourcesText(const Period& p) {
    QStringList files, journals;
    for (const Month* m : p.months) {
        files.append(ShownPath(m->path));
        if (!m->journalPath.isEmpty())
            journals.append(JournalText(*m));
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
} // namespace

namespace {
// A text for a status line or its long output: one line, and no '|' that would start the
// performance data.
QString oneLine(const QString& text) {
    QString t = text;
    for (QChar& c : t)
        if (c.unicode() < 0x20 || c == u'|' || c.unicode() == 0x7F)
            c = u'?';
    return t;
}

QString shownDelay(const PeriodChannels& pc, const PeriodChannel& r) {
    const QStringView d = pc.delay(r);
    return r.delayIsNumber ? monthfile::DelayWithComma(d) : d.toString();
}

// "ден" after a number ending in one, as Counted() has it.
QString dayWord(int n) {
    return n % 10 == 1 && n % 100 != 11 ? QStringLiteral("ден подред") : QStringLiteral("дни подред");
}

QString periodText(const Period& p) {
    return p.day ? DayText(*p.months.last(), p.day)
                 : QStringLiteral("%1 ч до %2").arg(QString::number(p.hours), EndText(p));
}
} // namespace

void WriteText(const QVector<Source>& sources, const Options& o, Sink& out) {
    const bool stations = ShowStations(o);
    struct Entry {
        const Source* s;
        const PeriodChannel* r;
    };
    QVector<Entry> entries;
    DayCounts n;
    for (const Source& s : sources)
        for (const PeriodChannel& r : s.channels.rows) {
            n.add(r.mark);
            if (o.failedOnly && (r.mark != kMarkFailure || r.streak < o.minDays))
                continue;
            entries.append({&s, &r});
        }
    // The worst first, and of the failures the longest streaks first.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int ra = rank(a.r->mark), rb = rank(b.r->mark);
        return ra != rb ? ra < rb : a.r->streak > b.r->streak;
    });
    qsizetype ws = 0, wl = 0, wa = 0, wd = 0, wn = 0;
    for (const Entry& e : entries) {
        ws = std::max(ws, e.s->name.size());
        wl = std::max(wl, e.r->label().size());
        wa = std::max(wa, std::min<qsizetype>(e.s->channels.answer(*e.r).size(), 40));
        wd = std::max(wd, shownDelay(e.s->channels, *e.r).size());
        if (e.r->streak > 0)
            wn = std::max(wn, QString::number(e.r->streak).size());
    }
    const Source* any = FirstRead(sources);
    if (!stations) {
        out << QStringLiteral("Тестове на каналите за %1, %2\n")
                   .arg(periodText(any->period), sourcesText(any->period));
    } else {
        const Period& p = any->period;
        out << (p.day ? QStringLiteral("Тестове на каналите за %1 по станции:\n")
                            .arg(DayText(*p.months.last(), p.day))
                      : QStringLiteral("Тестове на каналите за %1 ч до последния тест на всяка станция:\n")
                            .arg(p.hours));
        for (const Source& s : sources) {
            out << QStringLiteral("  ") << s.name << QStringLiteral(": ");
            if (!s.ok())
                out << s.error << "\n";
            else if (s.period.day)
                out << sourcesText(s.period) << "\n";
            else
                out << QStringLiteral("до %1, %2\n").arg(EndText(s.period), sourcesText(s.period));
        }
    }
    if (entries.isEmpty())
        out << (!o.failedOnly ? QStringLiteral("Няма тестове.\n")
                : o.minDays > 1
                    ? QStringLiteral("Няма канали с „Г“ %1 или повече дни подред.\n").arg(o.minDays)
                    : QStringLiteral("Няма неуспешни канали.\n"));
    for (const Entry& e : entries) {
        const PeriodChannel& r = *e.r;
        const PeriodChannels& pc = e.s->channels;
        // Over hours that may cross midnight the date comes with the time.
        QString time = pc.time(r);
        if (!e.s->period.day)
            time = r.month->date(r.day).toString(QStringLiteral("dd.MM ")) + time;
        out << QString(r.mark) << "  ";
        if (stations)
            out << e.s->name.leftJustified(ws) << "  ";
        out << r.label().toString().leftJustified(wl) << "  " << pc.answer(r).toString().leftJustified(wa)
            << "  " << shownDelay(pc, r).rightJustified(wd) << "  " << time;
        if (r.streak > 0)
            out << "  " << QString::number(r.streak).rightJustified(wn) << ' ' << dayWord(r.streak);
        out << "\n";
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

void WriteCsv(const QVector<Source>& sources, const Options& o, Span span, Sink& out) {
    const bool stations = ShowStations(o);
    const QChar sep = o.separator;
    const char sepChar = char(sep.unicode()); // one of the ASCII separators AllowedSeparator() takes
    // With ';' the spreadsheet expects a decimal comma.
    const char point = sep == u';' ? ',' : '.';
    const char16_t* const head[] = {u"Станция",    u"Направление", u"Централа",      u"Канал",
                                    u"Набиране",   u"Дата",        u"Час",           u"Отговор",
                                    u"Закъснение", u"Знак",        u"Дни подред с Г"};
    out << "\xEF\xBB\xBF";
    for (int i = stations ? 0 : 1; i < 11; ++i) {
        if (i > (stations ? 0 : 1))
            out << sepChar;
        out.putCsv(QStringView(head[i]), sep);
    }
    out << "\r\n";
    const QByteArray sepBytes = QString(sep).toUtf8();
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
        QVector<QByteArray> dates(m.days + 1);
        for (int d = 1; d <= m.days; ++d)
            dates[d] = m.date(d).toString(Qt::ISODate).toLatin1() + sepBytes;
        const QString station = stations ? csvQuoted(s.name, sep) + sep : QString();
        for (int c = 0; c < m.channels.size(); ++c) {
            if (o.failedOnly && !KeptAsFailed(s, c, o, span))
                continue;
            const ChannelTests t = m.tests(c);
            const QVector<ResultGroup>& gs = t.groups;
            if (gs.isEmpty())
                continue;
            // The channel's own fields, quoted once for all its rows.
            const ChannelParts p = SplitKey(t.key());
            QString frontText = station;
            for (const QString* field : {&p.direction, &p.exchange, &p.channel, &p.dial}) {
                frontText += csvQuoted(*field, sep);
                frontText += sep;
            }
            const QByteArray front = frontText.toUtf8();
            const QByteArray streak = sepBytes + QByteArray::number(s.streaks.value(c)) + "\r\n";
            for (const ResultGroup& g : gs) {
                if (g.day < span.from || g.day > span.to)
                    continue;
                out << front << dates[g.day];
                if (TimeDigits(g.timestamp))
                    PutTime(out, g.timestamp);
                else
                    out.putCsv(monthfile::TestTime(g.timestamp), sep);
                out << sepChar;
                out.putCsv(g.answer, sep);
                out << sepChar;
                if (g.delayIsNumber)
                    out.putSeconds(g.delayValue, point);
                out << sepChar << MarkBytes(monthfile::DayMark(g)) << streak;
            }
        }
    }
}

namespace {
void putJsonSource(Sink& out, const Source& s) {
    out << "\"file\":";
    out.putJson(ShownPath(s.month->path));
    out << ",\"journal_tests\":" << s.month->journalRecords << ",\"streak_to\":";
    if (s.last > 0)
        out << '"' << s.month->date(s.last).toString(Qt::ISODate) << '"';
    else
        out << "null";
}
} // namespace

void WriteJson(const QVector<Source>& sources, const Options& o, Span span, Sink& out) {
    const bool stations = ShowStations(o);
    const Month& first = *FirstRead(sources)->month;
    out << '{';
    if (!stations) {
        putJsonSource(out, *FirstRead(sources));
        out << ',';
    }
    out << "\"year\":" << first.year << ",\"month\":" << first.month;
    if (span.from == span.to)
        out << ",\"day\":" << span.from;
    if (stations) {
        out << ",\"stations\":[";
        for (qsizetype i = 0; i < sources.size(); ++i) {
            out << (i ? ",{\"name\":" : "{\"name\":");
            out.putJson(sources[i].name);
            out << ',';
            if (sources[i].ok()) {
                putJsonSource(out, sources[i]);
            } else {
                out << "\"error\":";
                out.putJson(sources[i].error);
            }
            out << '}';
        }
        out << ']';
    }
    out << ",\"channels\":[";
    bool firstChannel = true;
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
        QVector<QByteArray> dates(m.days + 1);
        for (int d = 1; d <= m.days; ++d)
            dates[d] = m.date(d).toString(Qt::ISODate).toLatin1();
        for (int c = 0; c < m.channels.size(); ++c) {
            bool any = false;
            for (int d = span.from; d <= span.to && d <= m.days && !any; ++d)
                any = m.dayMark(c, d) != Mark::None;
            if (!any || (o.failedOnly && !KeptAsFailed(s, c, o, span)))
                continue;
            const ChannelTests t = m.tests(c);
            const QVector<ResultGroup>& gs = t.groups;
            const ChannelParts p = SplitKey(t.key());
            out << (firstChannel ? "\n{" : ",\n{");
            firstChannel = false;
            if (stations) {
                out << "\"station\":";
                out.putJson(s.name);
                out << ',';
            }
            out << "\"direction\":";
            out.putJson(p.direction);
            out << ",\"exchange\":";
            out.putJson(p.exchange);
            out << ",\"channel\":";
            out.putJson(p.channel);
            out << ",\"dial\":";
            out.putJson(p.dial);
            out << ",\"streak\":" << s.streaks.value(c) << ",\"days\":[";
            bool firstDay = true;
            for (int d = span.from; d <= span.to && d <= m.days; ++d) {
                const Mark mark = m.dayMark(c, d);
                if (mark == Mark::None)
                    continue;
                out << (firstDay ? "{\"day\":" : ",{\"day\":") << d << ",\"date\":\"" << dates[d]
                    << "\",\"mark\":\"" << MarkBytes(MarkChar(mark)) << "\",\"tests\":[";
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
                    if (TimeDigits(g.timestamp)) {
                        out << '"';
                        PutTime(out, g.timestamp);
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
table.sum tr.total td { font-weight: bold; border-top: 2px solid #666; }
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
    int row = 0;
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
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
            if (o.failedOnly && !KeptAsFailed(s, c, o, span))
                continue;
            auto it = sumOf.constFind(prefix + p.direction);
            if (it == sumOf.constEnd()) {
                it = sumOf.insert(prefix + p.direction, int(sums.size()));
                sums.append({&s, p.direction});
            }
            Sum& sum = sums[*it];
            ++sum.channels;
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
                ++sum.tested;
                sum.connected += mark == kMarkConnect;
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
        out << "<td class=\"l\">" << QStringLiteral("Няма канали за показване.") << "</td>";
        for (int d = span.from; d <= span.to + 1; ++d)
            out << "<td></td>";
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n<h2>" << QStringLiteral("По направления")
        << "</h2>\n<table class=\"sum\">\n<thead><tr>";
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
        out << "</td><td>" << s.channels << "</td><td>" << s.tested << "</td><td>" << s.connected << "</td><td>"
            << percent(s.connected, s.tested) << "</td></tr>\n";
        total.channels += s.channels;
        total.tested += s.tested;
        total.connected += s.connected;
    }
    out << "<tr class=\"total\"><td>" << total.direction << "</td>" << (stations ? "<td></td>" : "") << "<td>"
        << total.channels << "</td><td>" << total.tested << "</td><td>" << total.connected << "</td><td>"
        << percent(total.connected, total.tested) << "</td></tr>\n</tbody>\n</table>\n";

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

QString UnknownLine(const QString& why) {
    return QStringLiteral("CHANTEST UNKNOWN - ") + oneLine(why.left(200));
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
QString checkPeriod(const Period& p) {
    return p.day ? QStringLiteral("on ") + DayText(*p.months.last(), p.day)
                 : QStringLiteral("in the %1 h to %2").arg(QString::number(p.hours), EndText(p));
}
} // namespace

CheckResult Check(const QVector<Source>& sources, const Options& o, const QDateTime& now) {
    const bool stations = ShowStations(o);
    const int k = o.minDays;
    // With --min-days the thresholds count the channels failed that many days in a row.
    const QString counted = k > 1 ? QStringLiteral("failed_%1d").arg(k) : QStringLiteral("failed");
    CheckResult r;
    DayCounts n;
    int persistent = 0, read = 0;
    const Source* stale = nullptr;
    QDateTime staleSince;
    for (const Source& s : sources) {
        if (!s.ok()) {
            r.details.append(oneLine(QStringLiteral("%1: skipped, %2").arg(s.name, s.status)));
            continue;
        }
        ++read;
        DayCounts sn;
        int sp = 0;
        for (const PeriodChannel& c : s.channels.rows) {
            sn.add(c.mark);
            sp += c.mark == kMarkFailure && c.streak >= k;
        }
        n += sn;
        persistent += sp;
        const QDateTime latest = s.period.months.last()->latestTest();
        if (o.maxAgeHours > 0 && latest.isValid() && latest.secsTo(now) > qint64(o.maxAgeHours) * 3600 &&
            (!stale || latest < staleSince)) {
            stale = &s;
            staleSince = latest;
        }
        if (stations)
            r.details.append(oneLine(QStringLiteral("%1: %2 of %3 channels failed%4 %5")
                                         .arg(s.name)
                                         .arg(k > 1 ? sp : sn.failed)
                                         .arg(sn.tested())
                                         .arg(k > 1 ? QStringLiteral(" %1+ days in a row").arg(k) : QString(),
                                              checkPeriod(s.period))));
    }
    const int failed = k > 1 ? persistent : n.failed;
    QString perf = k > 1 ? QStringLiteral("failed=%1;;;0;%2 ").arg(n.failed).arg(n.tested()) : QString();
    perf += QStringLiteral("%1=%2;%3;%4;0;%5 busy=%6 connected=%7")
                .arg(counted)
                .arg(failed)
                .arg(countLimit(o.warning), countLimit(o.critical))
                .arg(n.tested())
                .arg(n.busy)
                .arg(n.connected);
    if (o.warning.percent || o.critical.percent) {
        const double share = n.tested() ? 100.0 * failed / n.tested() : 0.0;
        perf += QStringLiteral(" %1_share=%2%;%3;%4;0;100")
                    .arg(counted, shareText(share), shareLimit(o.warning), shareLimit(o.critical));
    }
    if (stale) {
        r.code = 2;
        r.line = QStringLiteral("CHANTEST CRITICAL - no test since %1%2 | %3")
                     .arg(staleSince.toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                          stations ? oneLine(QStringLiteral(" at station ") + stale->name) : QString(), perf);
        return r;
    }
    r.code = o.critical.exceeded(failed, n.tested()) ? 2 : o.warning.exceeded(failed, n.tested()) ? 1 : 0;
    const char* const names[] = {"OK", "WARNING", "CRITICAL"};
    const Period& p = FirstRead(sources)->period;
    const QString period =
        !stations ? checkPeriod(p)
        : p.day   ? QStringLiteral("on %1 at %2 stations").arg(DayText(*p.months.last(), p.day)).arg(read)
                  : QStringLiteral("in the %1 h to the latest test at %2 stations").arg(p.hours).arg(read);
    r.line = QStringLiteral("CHANTEST %1 - %2 of %3 channels failed%4 %5 | %6")
                 .arg(QLatin1String(names[r.code]))
                 .arg(failed)
                 .arg(n.tested())
                 .arg(k > 1 ? QStringLiteral(" %1+ days in a row").arg(k) : QString(), period, perf);
    return r;
}

void WriteMetrics(const QVector<Source>& sources, const Options& o, Sink& out) {
    PromMetrics m;
    m.stationLabel = ShowStations(o);
    QHash<QString, qsizetype> exchangeOf;
    for (const Source& s : sources) {
        m.stations.append({s.name, s.ok(), s.ok() ? s.period.months.last()->latestTest() : QDateTime()});
        if (!s.ok())
            continue;
        const QString prefix = QString::number(&s - sources.constData()) + u':';
        for (const PeriodChannel& r : s.channels.rows) {
            const ChannelParts p = SplitKey(r.label());
            const QString key =
                prefix + QString::number(p.direction.size()) + u':' + p.direction + p.exchange;
            auto it = exchangeOf.constFind(key);
            if (it == exchangeOf.constEnd()) {
                it = exchangeOf.insert(key, m.exchanges.size());
                m.exchanges.append({s.name, p.direction, p.exchange});
            }
            m.exchanges[*it].add(r.mark, r.streak);
            if (r.mark == kMarkFailure)
                m.failed.append({s.name, p.direction, p.exchange, p.channel, r.streak});
        }
    }
    WritePrometheus(m, out);
}

} // namespace report
