// The json of a month: the files read, then each channel with its days and their tests.
#include "ReportShared.h"

#include <QLocale>

#include <cmath>

namespace report {

using monthfile::ResultGroup;

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
// The station (when the stations are shown), the direction and the exchange of a channel or a row.
void putPlace(Sink& out, const QString* station, const QString& direction, const QString& exchange) {
    if (station) {
        out << "\"station\":";
        out.putJson(*station);
        out << ',';
    }
    out << "\"direction\":";
    out.putJson(direction);
    out << ",\"exchange\":";
    out.putJson(exchange);
}

// The counts and ratios of some tests as fields of an object: a ratio without tests and a delay
// without connections are null.
void putJsonCalls(Sink& out, const CallCounts& c) {
    const auto number = [&](double v) {
        if (std::isnan(v))
            out << "null";
        else
            out << QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
    };
    const auto delay = [&](int percent) {
        const int d = c.delayPercentile(percent);
        if (d < 0)
            out << "null";
        else
            out.putSeconds(d);
    };
    out << "\"tests\":" << c.tests << ",\"connected\":" << c.connected << ",\"busy\":" << c.busy
        << ",\"no_answer\":" << c.noAnswer << ",\"asr\":";
    number(c.asr());
    out << ",\"ner\":";
    number(c.ner());
    out << ",\"delay_median\":";
    delay(50);
    out << ",\"delay_p95\":";
    delay(95);
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
    QVector<CallTable> calls(sources.size());
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
        CallTable& sourceCalls = calls[&s - sources.constData()];
        const QVector<QByteArray> dates = IsoDates(m);
        for (int c = 0; c < m.channels.size(); ++c) {
            bool any = false;
            for (int d = span.from; d <= span.to && d <= m.days && !any; ++d)
                any = m.dayMark(c, d) != Mark::None;
            if (!any)
                continue;
            // The call ratios count every test of the span, whatever --failed lists.
            const ChannelTests t = m.tests(c);
            const QVector<ResultGroup>& gs = t.groups;
            sourceCalls.add(m.labels[c], gs, span.from, span.to);
            if (o.failedOnly && !KeptAsFailed(s, c, o, span))
                continue;
            const ChannelParts p = SplitKey(t.key());
            out << (firstChannel ? "\n{" : ",\n{");
            firstChannel = false;
            putPlace(out, stations ? &s.name : nullptr, p.direction, p.exchange);
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
    out << "\n],\"calls\":";
    CallCounts total;
    for (const CallTable& t : calls)
        total += t.total();
    out << '{';
    putJsonCalls(out, total);
    out << ",\"exchanges\":[";
    bool firstRow = true;
    for (qsizetype i = 0; i < sources.size(); ++i)
        for (const CallTable::Row& r : calls[i].rows()) {
            out << (firstRow ? "\n{" : ",\n{");
            firstRow = false;
            putPlace(out, stations ? &sources[i].name : nullptr, r.direction, r.exchange);
            out << ',';
            putJsonCalls(out, r.counts);
            out << '}';
        }
    out << "\n]}}\n";
}

} // namespace report
