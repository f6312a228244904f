#pragma once
// A strict reader of the Prometheus text exposition format (0.0.4), for reading back what the
// report writes. Stricter than Prometheus where the textfile collector would rather see it so:
// every sample needs its family's TYPE line before it, a family is written in one piece and once,
// a series appears once, label values use only the three escapes of the format, and values are
// decimal numbers, NaN, +Inf or -Inf.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringDecoder>
#include <QtNumeric>

#include <algorithm>
#include <cctype>

namespace promreader {

struct Sample {
    QByteArray name;
    QList<QPair<QByteArray, QString>> labels; // in the order written
    double value = 0;
    QString label(QByteArrayView n) const {
        for (const auto& l : labels)
            if (l.first == n)
                return l.second;
        return {};
    }
};

struct Family {
    QByteArray name, type;
    QString help;
    QList<Sample> samples;
};

struct Result {
    QList<Family> families;
    int errorLine = 0; // from 1; 0 when the text was read whole
    QString error;
    bool ok() const { return errorLine == 0; }
    const Family* family(QByteArrayView name) const {
        for (const Family& f : families)
            if (f.name == name)
                return &f;
        return nullptr;
    }
};

namespace detail {
inline bool nameChar(char c, bool first, bool colon) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (colon && c == ':') ||
           (!first && c >= '0' && c <= '9');
}
inline bool blank(char c) {
    return c == ' ' || c == '\t';
}
// Reads a name at `pos`; empty when there is none.
inline QByteArray name(QByteArrayView l, qsizetype& pos, bool colon) {
    const qsizetype from = pos;
    while (pos < l.size() && nameChar(l[pos], pos == from, colon))
        ++pos;
    return l.sliced(from, pos - from).toByteArray();
}
inline void skip(QByteArrayView l, qsizetype& pos) {
    while (pos < l.size() && blank(l[pos]))
        ++pos;
}
inline bool utf8(const QByteArray& b, QString& out) {
    QStringDecoder dec(QStringDecoder::Utf8);
    out = dec(b);
    return !dec.hasError();
}
// Undoes `\\` and `\n` (and `\"` in a label value); false on any other escape.
inline bool unescape(QByteArrayView s, bool quote, QByteArray& out) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        const char e = ++i < s.size() ? s[i] : '\0';
        if (e != '\\' && e != 'n' && !(quote && e == '"'))
            return false;
        out += e == 'n' ? '\n' : e;
    }
    return true;
}
inline bool number(QByteArrayView t, double& v) {
    if (t == "NaN" || t == "+Inf" || t == "-Inf") {
        v = t == "NaN" ? qQNaN() : t == "+Inf" ? qInf() : -qInf();
        return true;
    }
    qsizetype i = (t.startsWith('+') || t.startsWith('-')) ? 1 : 0, digits = 0;
    for (; i < t.size() && (std::isdigit(uchar(t[i])) || t[i] == '.'); ++i)
        digits += t[i] != '.';
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        i += (i + 1 < t.size() && (t[i + 1] == '+' || t[i + 1] == '-')) ? 2 : 1;
        if (i >= t.size())
            return false;
        while (i < t.size() && std::isdigit(uchar(t[i])))
            ++i;
    }
    bool ok = false;
    v = t.toByteArray().toDouble(&ok);
    return ok && digits > 0 && i == t.size();
}
} // namespace detail

inline Result Read(QByteArrayView text) {
    using namespace detail;
    Result r;
    QSet<QByteArray> series;
    bool typed = false, helped = false; // the last family has its TYPE, its HELP line
    auto fail = [&](int line, const QString& why) {
        r.errorLine = line;
        r.error = why;
        return r;
    };
    if (!text.isEmpty() && !text.endsWith('\n'))
        return fail(int(text.count('\n')) + 1, QStringLiteral("the last line has no line feed"));
    int n = 0;
    for (qsizetype from = 0; from < text.size();) {
        const qsizetype end = text.indexOf('\n', from);
        QByteArrayView l = text.sliced(from, end - from);
        from = end + 1;
        ++n;
        qsizetype pos = 0;
        skip(l, pos);
        if (pos == l.size())
            continue;
        if (l[pos] == '#') {
            ++pos;
            skip(l, pos);
            const QByteArray kw = name(l, pos, false);
            if (kw != "HELP" && kw != "TYPE")
                continue; // a comment
            if (pos == l.size() || !blank(l[pos]))
                return fail(n, QStringLiteral("no metric name after %1").arg(QLatin1StringView(kw)));
            skip(l, pos);
            const QByteArray metric = name(l, pos, true);
            if (metric.isEmpty() || (pos < l.size() && !blank(l[pos])))
                return fail(n, QStringLiteral("an invalid metric name"));
            Family* f = r.families.isEmpty() ? nullptr : &r.families.last();
            if (!f || f->name != metric) {
                if (r.family(metric))
                    return fail(
                        n,
                        QStringLiteral("%1 comes back after other families").arg(QLatin1StringView(metric)));
                r.families.append({metric, {}, {}, {}});
                f = &r.families.last();
                typed = helped = false;
                series.clear();
            }
            if (!f->samples.isEmpty())
                return fail(n,
                            QStringLiteral("%1 after the samples of its family").arg(QLatin1StringView(kw)));
            skip(l, pos);
            const QByteArrayView rest = l.sliced(pos);
            if (kw == "TYPE") {
                const QByteArray type = rest.trimmed().toByteArray();
                if (typed)
                    return fail(n, QStringLiteral("a second TYPE line"));
                if (!QList<QByteArray>{"counter", "gauge", "histogram", "summary", "untyped"}.contains(type))
                    return fail(n, QStringLiteral("an unknown type"));
                f->type = type;
                typed = true;
            } else {
                QByteArray help;
                if (helped)
                    return fail(n, QStringLiteral("a second HELP line"));
                if (!unescape(rest, false, help) || !utf8(help, f->help))
                    return fail(n, QStringLiteral("a bad escape or bad UTF-8 in a help text"));
                helped = true;
            }
            continue;
        }
        Sample s;
        s.name = name(l, pos, true);
        if (s.name.isEmpty())
            return fail(n, QStringLiteral("an invalid metric name"));
        const Family* f = r.families.isEmpty() ? nullptr : &r.families.last();
        const QByteArray base = f ? f->name : QByteArray();
        const bool member =
            f && typed &&
            (s.name == base ||
             (f->type == "histogram" &&
              (s.name == base + "_bucket" || s.name == base + "_sum" || s.name == base + "_count")) ||
             (f->type == "summary" && (s.name == base + "_sum" || s.name == base + "_count")));
        if (!member)
            return fail(n, QStringLiteral("a sample of %1 outside a family with a TYPE line before it")
                               .arg(QLatin1StringView(s.name)));
        if (f->type != "histogram" && f->type != "summary" && s.name != base)
            return fail(n, QStringLiteral("a sample named unlike its family"));
        const qsizetype afterName = pos;
        skip(l, pos);
        if (pos >= l.size() || l[pos] != '{') {
            pos = afterName;
        } else {
            ++pos;
            for (;;) {
                skip(l, pos);
                if (pos < l.size() && l[pos] == '}')
                    break;
                const QByteArray ln = name(l, pos, false);
                if (ln.isEmpty() || ln.startsWith("__"))
                    return fail(n, QStringLiteral("an invalid label name"));
                for (const auto& other : s.labels)
                    if (other.first == ln)
                        return fail(n, QStringLiteral("label %1 given twice").arg(QLatin1StringView(ln)));
                skip(l, pos);
                if (pos + 1 >= l.size() || l[pos] != '=')
                    return fail(n, QStringLiteral("no '=' after a label name"));
                ++pos;
                skip(l, pos);
                if (pos >= l.size() || l[pos] != '"')
                    return fail(n, QStringLiteral("a label value without quotes"));
                qsizetype close = ++pos;
                while (close < l.size() && l[close] != '"')
                    close += l[close] == '\\' ? 2 : 1;
                QByteArray raw;
                QString value;
                if (close >= l.size())
                    return fail(n, QStringLiteral("a label value without its closing quote"));
                if (!unescape(l.sliced(pos, close - pos), true, raw) || !utf8(raw, value))
                    return fail(n, QStringLiteral("a bad escape or bad UTF-8 in a label value"));
                s.labels.append({ln, value});
                pos = close + 1;
                skip(l, pos);
                if (pos < l.size() && l[pos] == ',')
                    ++pos;
                else if (pos >= l.size() || l[pos] != '}')
                    return fail(n, QStringLiteral("no ',' or '}' after a label"));
            }
            ++pos;
        }
        if (pos == l.size() || !blank(l[pos]))
            return fail(n, QStringLiteral("no blank before the value"));
        skip(l, pos);
        const QList<QByteArrayView> rest = [&] {
            QList<QByteArrayView> tokens;
            for (qsizetype i = pos; i < l.size();) {
                qsizetype j = i;
                while (j < l.size() && !blank(l[j]))
                    ++j;
                tokens.append(l.sliced(i, j - i));
                i = j;
                skip(l, i);
            }
            return tokens;
        }();
        if (rest.isEmpty() || rest.size() > 2 || !number(rest[0], s.value))
            return fail(n, QStringLiteral("a value that is not a number"));
        bool whole = true;
        if (rest.size() == 2)
            rest[1].toByteArray().toLongLong(&whole);
        if (!whole)
            return fail(n, QStringLiteral("a timestamp that is not whole milliseconds"));
        auto sorted = s.labels;
        std::sort(sorted.begin(), sorted.end());
        QByteArray key = s.name;
        for (const auto& p : sorted)
            key += '\0' + p.first + '\0' + p.second.toUtf8();
        if (series.contains(key))
            return fail(n, QStringLiteral("a series given twice"));
        series.insert(key);
        r.families.last().samples.append(s);
    }
    return r;
}

} // namespace promreader
