// The csv for a spreadsheet: one row a test, with its channel's fields on every row.
#include "ReportShared.h"

#include <cmath>

namespace report {

using monthfile::ResultGroup;

namespace {
QString csvQuoted(const QString& text, QChar sep) {
    const QString field = LooksLikeFormula(text) ? u'\'' + text : text;
    for (QChar c : field)
        if (c == sep || c == u'"' || c == u'\r' || c == u'\n')
            return u'"' + QString(field).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return field;
}

// The header row; its first column, the station, only with stations.
void putHeader(Sink& out, const char16_t* const (&head)[11], bool stations, QChar sep) {
    for (int i = stations ? 0 : 1; i < 11; ++i) {
        if (i > (stations ? 0 : 1))
            out << char(sep.unicode());
        out.putCsv(QStringView(head[i]), sep);
    }
    out << "\r\n";
}

// --summary: a row per direction and exchange with the call ratios of every test of the span,
// then the total; ratios as fractions from 0 to 1, delays in seconds.
void writeSummary(const QVector<Source>& sources, bool stations, Span span, QChar sep, char point,
                  Sink& out) {
    const char sepChar = char(sep.unicode());
    const char16_t* const head[] = {u"Станция",
                                    u"Направление",
                                    u"Централа",
                                    u"Тестове",
                                    u"С връзка",
                                    u"Заети",
                                    u"Без отговор",
                                    u"ASR",
                                    u"NER",
                                    u"Медиана на закъснението",
                                    u"95-и процентил на закъснението"};
    putHeader(out, head, stations, sep);
    const auto counts = [&](const CallCounts& c) {
        out << c.tests << sepChar << c.connected << sepChar << c.busy << sepChar << c.noAnswer;
        for (const double v : {c.asr(), c.ner()}) {
            out << sepChar;
            if (!std::isnan(v))
                out << QByteArray::number(v, 'f', 4).replace('.', point);
        }
        for (const int percent : {50, 95}) {
            out << sepChar;
            if (const int d = c.delayPercentile(percent); d >= 0)
                out.putSeconds(d, point);
        }
        out << "\r\n";
    };
    CallCounts total;
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
        CallTable calls;
        for (int c = 0; c < m.channels.size(); ++c)
            calls.add(m.labels[c], m.tests(c).groups, span.from, span.to);
        for (const CallTable::Row& r : calls.rows()) {
            if (stations)
                out << csvQuoted(s.name, sep) << sepChar;
            out << csvQuoted(r.direction, sep) << sepChar << csvQuoted(r.exchange, sep) << sepChar;
            counts(r.counts);
            total += r.counts;
        }
    }
    if (stations)
        out << sepChar;
    out << QStringLiteral("Общо") << sepChar << sepChar;
    counts(total);
}
} // namespace

void WriteCsv(const QVector<Source>& sources, const Options& o, Span span, Sink& out) {
    const bool stations = ShowStations(o);
    const QChar sep = o.separator;
    const char sepChar = char(sep.unicode()); // one of the ASCII separators AllowedSeparator() takes
    // With ';' the spreadsheet expects a decimal comma.
    const char point = sep == u';' ? ',' : '.';
    out << "\xEF\xBB\xBF";
    if (o.summary) {
        writeSummary(sources, stations, span, sep, point, out);
        return;
    }
    const char16_t* const head[] = {u"Станция",    u"Направление", u"Централа",      u"Канал",
                                    u"Набиране",   u"Дата",        u"Час",           u"Отговор",
                                    u"Закъснение", u"Знак",        u"Дни подред с Г"};
    putHeader(out, head, stations, sep);
    const QByteArray sepBytes = QString(sep).toUtf8();
    for (const Source& s : sources) {
        if (!s.ok())
            continue;
        const Month& m = *s.month;
        const QVector<QByteArray> dates = IsoDates(m, sepBytes);
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

} // namespace report
