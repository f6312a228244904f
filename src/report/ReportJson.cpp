// The json of a month: the files read, then each channel with its days and their tests.
#include "ReportShared.h"

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
        const QVector<QByteArray> dates = IsoDates(m);
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

} // namespace report
