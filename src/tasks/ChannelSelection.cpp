#include "ChannelSelection.h"

#include <QCollator>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <numeric>

namespace ChannelSelection {

Record parseRecord(const QString& line) {
    QString fields[4];
    int f = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size() && f < 4; ++i) {
        if (i == line.size() || line[i] == u'^') {
            fields[f++] = line.mid(start, i - start);
            start = i + 1;
        }
    }
    return {fields[0], fields[1], fields[2], fields[3]};
}

QString channelItem(const Record& r) {
    return r.direction + QStringLiteral(" -- ") + r.exchange + QStringLiteral("  ") + r.channel +
           QStringLiteral(" Ch. --> ") + r.dial;
}

QStringList sortBase(QStringList lines) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // One key per line, then plain comparisons: collating 65,434 lines pairwise is too slow.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(lines.size());
    // The C locale's keys are the bare code units, whatever the case setting: fold them first.
    const bool plainC = collator.locale().language() == QLocale::C;
    for (const QString& l : lines)
        keys.push_back(collator.sortKey(plainC ? l.toCaseFolded() : l));
    std::vector<qsizetype> order(lines.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
    QStringList sorted;
    sorted.reserve(lines.size());
    for (qsizetype i : order)
        sorted.append(std::move(lines[i]));
    return sorted;
}

QVector<QString> directions(const QStringList& sortedBase) {
    QVector<QString> out;
    QSet<QString> seen;
    for (const QString& line : sortedBase) {
        const qsizetype end = line.indexOf(u'^');
        const QString dir = end < 0 ? line : line.left(end);
        if (dir.isEmpty())
            continue;
        const QString key = dir.toCaseFolded();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        out.append(dir);
    }
    return out;
}

Listing listChannels(const QStringList& base, const QVector<QString>& checkedDirections) {
    Listing out;
    if (checkedDirections.isEmpty())
        return out;
    // One pass over the base gathers the records of each checked direction.
    QHash<QString, QVector<Record>> byDirection;
    for (const QString& d : checkedDirections)
        byDirection.insert(d, {});
    for (const QString& line : base) {
        const qsizetype end = line.indexOf(u'^');
        const QString dir = end < 0 ? line : line.left(end);
        auto it = byDirection.find(dir);
        if (it != byDirection.end())
            it->append(parseRecord(line));
    }
    QSet<QString> seen;
    for (const QString& d : checkedDirections) {
        for (const Record& r : byDirection.value(d)) {
            out.channels.append(channelItem(r));
            if (r.exchange.isEmpty())
                continue;
            const QString key = r.exchange.toCaseFolded();
            if (!seen.contains(key)) {
                seen.insert(key);
                out.exchanges.append(r.exchange);
            }
        }
    }
    return out;
}

QVector<char> exchangeMarks(const QVector<QString>& channels, const QVector<QString>& checkedExchanges) {
    QVector<char> marks(channels.size(), 0);
    if (checkedExchanges.isEmpty())
        return marks;
    QSet<QString> wanted;
    qsizetype longest = 0;
    for (const QString& e : checkedExchanges) {
        wanted.insert(e);
        longest = std::max(longest, e.size());
    }
    // Each item is looked at once: every double blank after "-- " ends a candidate exchange,
    // which is looked up in the set of checked ones.
    for (qsizetype i = 0; i < channels.size(); ++i) {
        const QString& c = channels[i];
        const qsizetype p = c.indexOf(QLatin1String("-- "));
        if (p < 0)
            continue;
        const qsizetype from = p + 3;
        const qsizetype last = std::min(c.size() - 2, from + longest);
        for (qsizetype k = from; k <= last; ++k) {
            if (c[k] == u' ' && c[k + 1] == u' ' && wanted.contains(c.mid(from, k - from))) {
                marks[i] = 1;
                break;
            }
        }
    }
    return marks;
}

} // namespace ChannelSelection
