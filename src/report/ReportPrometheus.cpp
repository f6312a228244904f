#include "ReportPrometheus.h"

#include <QHash>
#include <QLocale>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace report {

namespace {
bool nameChar(char c, bool first, bool colon) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (colon && c == ':') ||
           (!first && c >= '0' && c <= '9');
}

bool validName(QByteArrayView name, bool colon) {
    if (name.isEmpty())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i)
        if (!nameChar(name[i], i == 0, colon))
            return false;
    return true;
}

QByteArray utf8(QAnyStringView text) {
    return text.visit([](auto s) -> QByteArray {
        if constexpr (std::is_same_v<decltype(s), QStringView>)
            return s.toUtf8();
        else if constexpr (std::is_same_v<decltype(s), QLatin1StringView>)
            return QString(s).toUtf8();
        else
            return QByteArray(reinterpret_cast<const char*>(s.data()), s.size());
    });
}

// The format's escapes: in a help text backslash and line feed, in a label value the double
// quote as well.
void appendEscaped(QByteArray& to, QByteArrayView text, bool quote) {
    for (char c : text) {
        if (c == '\\')
            to += "\\\\";
        else if (c == '\n')
            to += "\\n";
        else if (quote && c == '"')
            to += "\\\"";
        else
            to += c;
    }
}
} // namespace

bool PromWriter::validMetricName(QByteArrayView name) {
    return validName(name, true);
}

bool PromWriter::validLabelName(QByteArrayView name) {
    return validName(name, false) && !name.startsWith("__");
}

QByteArray PromWriter::number(double v) {
    if (std::isnan(v))
        return QByteArrayLiteral("NaN");
    if (std::isinf(v))
        return v > 0 ? QByteArrayLiteral("+Inf") : QByteArrayLiteral("-Inf");
    if (v == std::trunc(v) && std::fabs(v) < 1e15)
        return QByteArray::number(qint64(v));
    return QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

void PromWriter::family(const char* name, const char* type, QAnyStringView help) {
    const QByteArray n(name);
    if (!validMetricName(n))
        throw PromError("invalid metric name: " + n.toStdString());
    if (qstrcmp(type, "gauge") && qstrcmp(type, "counter") && qstrcmp(type, "untyped"))
        throw PromError("metric type not written here: " + std::string(type));
    if (families_.contains(n))
        throw PromError("metric family written twice: " + n.toStdString());
    QByteArray head = "# HELP " + n + ' ';
    appendEscaped(head, utf8(help), false);
    head += "\n# TYPE " + n + ' ' + type + '\n';
    out_ << head;
    families_.insert(n);
    name_ = n;
    series_.clear();
}

void PromWriter::sample(std::span<const Label> labels, double value) {
    if (name_.isEmpty())
        throw PromError("a sample before its metric family");
    // The label set as written, and each label's place in it, for the series key.
    QByteArray line = name_;
    QVarLengthArray<std::pair<qsizetype, qsizetype>, 6> parts;
    for (size_t i = 0; i < labels.size(); ++i) {
        const QByteArrayView ln(labels[i].name);
        if (!validLabelName(ln))
            throw PromError("invalid label name on " + name_.toStdString() + ": " +
                            std::string(labels[i].name));
        for (size_t j = 0; j < i; ++j)
            if (ln == QByteArrayView(labels[j].name))
                throw PromError("label given twice on " + name_.toStdString() + ": " +
                                std::string(labels[i].name));
        line += i ? ',' : '{';
        const qsizetype from = line.size();
        line += ln;
        line += "=\"";
        appendEscaped(line, utf8(labels[i].value), true);
        line += '"';
        parts.append({from, line.size() - from});
    }
    if (!labels.empty())
        line += '}';
    // The same labels in another order are the same series.
    std::sort(parts.begin(), parts.end(), [&](auto a, auto b) {
        return QByteArrayView(line).sliced(a.first, a.second) <
               QByteArrayView(line).sliced(b.first, b.second);
    });
    QByteArray key;
    for (const auto& p : parts) {
        key += QByteArrayView(line).sliced(p.first, p.second);
        key += ',';
    }
    if (series_.contains(key))
        throw PromError("series written twice: " + line.toStdString());
    series_.insert(key);
    line += ' ' + number(value) + '\n';
    out_ << line;
}

void PromExchange::add(QChar mark, int streak) {
    if (mark == monthfile::kMarkConnect)
        ++connected;
    else if (mark == monthfile::kMarkBusy)
        ++busy;
    else if (mark == monthfile::kMarkFailure)
        ++failed;
    else
        return;
    ++tested;
    for (size_t i = 0; i < kStreakSteps.size(); ++i)
        streakAtLeast[i] += streak >= kStreakSteps[i];
}

namespace {
// The row of `key` in `rows`: a new one when the key is new (second: true).
std::pair<qsizetype, bool> rowOf(QHash<QString, qsizetype>& at, const QString& key, qsizetype rows) {
    const auto it = at.constFind(key);
    if (it != at.constEnd())
        return {*it, false};
    at.insert(key, rows);
    return {rows, true};
}

double delaySeconds(const CallCounts& c, int percent) {
    const int d = c.delayPercentile(percent);
    return d < 0 ? std::nan("") : d / 100.0;
}

// A key of several texts that no two different lists share.
QString joinedKey(std::initializer_list<const QString*> parts) {
    QString k;
    for (const QString* p : parts)
        k += QString::number(p->size()) + u':' + *p;
    return k;
}
} // namespace

void WritePrometheus(const PromMetrics& m, Sink& out) {
    const bool withStation = m.stationLabel || m.stations.size() > 1;
    const QString none;
    auto st = [&](const QString& s) -> const QString& { return withStation ? s : none; };

    QVector<PromStation> stations;
    QHash<QString, qsizetype> at;
    for (const PromStation& s : m.stations) {
        const auto [row, fresh] = rowOf(at, st(s.name), stations.size());
        if (fresh) {
            stations.append(s);
            continue;
        }
        PromStation& t = stations[row];
        t.ok = t.ok && s.ok;
        t.calls += s.calls;
        if (s.latestTest.isValid() && (!t.latestTest.isValid() || s.latestTest > t.latestTest))
            t.latestTest = s.latestTest;
    }
    QVector<PromExchange> exchanges;
    at.clear();
    for (const PromExchange& e : m.exchanges) {
        const auto [row, fresh] =
            rowOf(at, joinedKey({&st(e.station), &e.direction, &e.exchange}), exchanges.size());
        if (fresh) {
            exchanges.append(e);
            continue;
        }
        PromExchange& t = exchanges[row];
        t.tested += e.tested;
        t.connected += e.connected;
        t.busy += e.busy;
        t.failed += e.failed;
        for (size_t i = 0; i < kStreakSteps.size(); ++i)
            t.streakAtLeast[i] += e.streakAtLeast[i];
        t.calls += e.calls;
    }
    QVector<PromFailedChannel> failed;
    at.clear();
    for (const PromFailedChannel& f : m.failed) {
        const auto [row, fresh] =
            rowOf(at, joinedKey({&st(f.station), &f.direction, &f.exchange, &f.channel}), failed.size());
        if (fresh)
            failed.append(f);
        else
            failed[row].streak = std::max(failed[row].streak, f.streak);
    }

    PromWriter w(out);
    using L = PromWriter::Label;
    // The station comes first in every label list and is left out without the label.
    auto labels = [&](std::span<const L> all) { return withStation ? all : all.subspan(1); };

    w.family("chantest_report_success", "gauge",
             "1 when the report read the results folder and its month file, 0 when it could not.");
    for (const PromStation& s : stations) {
        const L l[] = {{"station", s.name}};
        w.sample(labels(l), s.ok ? 1 : 0);
    }
    w.family("chantest_latest_test_timestamp_seconds", "gauge",
             "Unix time of the latest test in the results read.");
    for (const PromStation& s : stations) {
        if (!s.latestTest.isValid())
            continue;
        const L l[] = {{"station", s.name}};
        w.sample(labels(l), double(s.latestTest.toSecsSinceEpoch()));
    }
    struct Count {
        const char* name;
        const char* help;
        int PromExchange::*field;
    };
    const Count counts[] = {
        {"chantest_channels_tested",
         "Channels tested in the reported period (the 24 hours up to the latest test, or the day asked for).",
         &PromExchange::tested},
        {"chantest_channels_connected", "Channels with a connection in the reported period (mark Р).",
         &PromExchange::connected},
        {"chantest_channels_busy", "Channels busy within 22 s in the reported period (mark З).",
         &PromExchange::busy},
        {"chantest_channels_failed", "Channels without a connection in the reported period (mark Г).",
         &PromExchange::failed},
    };
    for (const Count& c : counts) {
        w.family(c.name, "gauge", c.help);
        for (const PromExchange& e : exchanges) {
            const L l[] = {{"station", e.station}, {"direction", e.direction}, {"exchange", e.exchange}};
            w.sample(labels(l), e.*c.field);
        }
    }
    w.family("chantest_channels_failing_streak", "gauge",
             "Channels failed (mark Г) on at least min_days days in a row up to the last day of the reported "
             "period.");
    std::array<QString, kStreakSteps.size()> steps;
    for (size_t i = 0; i < kStreakSteps.size(); ++i)
        steps[i] = QString::number(kStreakSteps[i]);
    for (const PromExchange& e : exchanges)
        for (size_t i = 0; i < kStreakSteps.size(); ++i) {
            const L l[] = {{"station", e.station},
                           {"direction", e.direction},
                           {"exchange", e.exchange},
                           {"min_days", steps[i]}};
            w.sample(labels(l), e.streakAtLeast[i]);
        }
    w.family("chantest_failed_channel_streak", "gauge",
             "Days in a row, up to the last day of the reported period, on which a channel failed "
             "(mark Г); one series per channel failed in the period.");
    for (const PromFailedChannel& f : failed) {
        const L l[] = {{"station", f.station},
                       {"direction", f.direction},
                       {"exchange", f.exchange},
                       {"channel", f.channel}};
        w.sample(labels(l), f.streak);
    }
    // The call ratios: per exchange, then for each station's whole period. A ratio without tests
    // and a delay without connections are left out, not written as NaN.
    struct Calls {
        const char* name;
        const char* help;
        double (*value)(const CallCounts&);
    };
    const Calls calls[] = {
        {"chantest_tests", "Tests (dialled channels with a recorded answer) in the reported period.",
         [](const CallCounts& c) { return double(c.tests); }},
        {"chantest_asr_ratio",
         "Answer-seizure ratio: tests answered with a connection (CONNECT) divided by the tests, 0 to 1.",
         [](const CallCounts& c) { return c.asr(); }},
        {"chantest_ner_ratio",
         "Network effectiveness ratio: tests answered with a connection, BUSY within 22 s or NO ANSWER "
         "divided by the tests, 0 to 1.",
         [](const CallCounts& c) { return c.ner(); }},
        {"chantest_answer_delay_median_seconds",
         "Median of the connections' answer delays (dial to CONNECT) in the reported period.",
         [](const CallCounts& c) { return delaySeconds(c, 50); }},
        {"chantest_answer_delay_p95_seconds",
         "95th percentile (nearest rank) of the connections' answer delays (dial to CONNECT) in the "
         "reported period.",
         [](const CallCounts& c) { return delaySeconds(c, 95); }},
    };
    for (const Calls& c : calls) {
        w.family(c.name, "gauge", c.help);
        for (const PromExchange& e : exchanges) {
            const double v = c.value(e.calls);
            const L l[] = {{"station", e.station}, {"direction", e.direction}, {"exchange", e.exchange}};
            if (!std::isnan(v))
                w.sample(labels(l), v);
        }
        for (const PromStation& s : stations) {
            const double v = c.value(s.calls);
            const L l[] = {{"station", s.name}};
            if (s.ok && !std::isnan(v))
                w.sample(labels(l), v);
        }
    }
}

// The report's own metrics: each station, the channels of each exchange by their mark, and each
// channel failed with its streak.
void WriteMetrics(const QVector<Source>& sources, const Options& o, Sink& out) {
    PromMetrics m;
    m.stationLabel = ShowStations(o);
    QHash<QString, qsizetype> exchangeOf;
    for (const Source& s : sources) {
        m.stations.append({s.name, s.ok(), s.ok() ? s.period.months.last()->latestTest() : QDateTime()});
        if (!s.ok())
            continue;
        const QString prefix = QString::number(&s - sources.constData()) + u':';
        const auto exchange = [&](const QString& direction, const QString& name) -> PromExchange& {
            const QString key = prefix + QString::number(direction.size()) + u':' + direction + name;
            auto it = exchangeOf.constFind(key);
            if (it == exchangeOf.constEnd()) {
                it = exchangeOf.insert(key, m.exchanges.size());
                m.exchanges.append({s.name, direction, name});
            }
            return m.exchanges[*it];
        };
        for (const PeriodChannel& r : s.channels.rows) {
            const ChannelParts p = SplitKey(r.label());
            exchange(p.direction, p.exchange).add(r.mark, r.streak);
            if (r.mark == monthfile::kMarkFailure)
                m.failed.append({s.name, p.direction, p.exchange, p.channel, r.streak});
        }
        for (const CallTable::Row& r : s.calls.rows())
            exchange(r.direction, r.exchange).calls = r.counts;
        m.stations.last().calls = s.calls.total();
    }
    WritePrometheus(m, out);
}

} // namespace report
