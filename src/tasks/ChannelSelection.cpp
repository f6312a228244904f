#include "ChannelSelection.h"

#include <QCollator>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <numeric>

namespace ChannelSelection {

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

namespace {
// A text compared and hashed without regard to letter case, without copying it.
struct Caseless {
    QStringView text;
    bool operator==(const Caseless& o) const { return text.compare(o.text, Qt::CaseInsensitive) == 0; }
};
size_t qHash(const Caseless& c, size_t seed = 0) {
    size_t h = 0;
    const QStringView t = c.text;
    for (qsizetype i = 0; i < t.size(); ++i) {
        char32_t u = t[i].unicode();
        if (t[i].isHighSurrogate() && i + 1 < t.size() && t[i + 1].isLowSurrogate()) {
            u = QChar::surrogateToUcs4(t[i], t[i + 1]);
            ++i;
        }
        h = h * 1000003u + QChar::toCaseFolded(u);
    }
    return ::qHash(quint64(h), seed);
}

QStringView firstField(const QString& line) {
    const qsizetype end = line.indexOf(u'^');
    return end < 0 ? QStringView(line) : QStringView(line).left(end);
}

// The channel item of a base line, built in one allocation.
QString itemOf(const QString& line, QStringView* exchange) {
    QStringView f[4];
    int n = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size() && n < 4; ++i) {
        if (i == line.size() || line[i] == u'^') {
            f[n++] = QStringView(line).mid(start, i - start);
            start = i + 1;
        }
    }
    *exchange = f[1];
    QString item;
    item.reserve(f[0].size() + f[1].size() + f[2].size() + f[3].size() + 15);
    item.append(f[0]).append(QLatin1String(" -- ")).append(f[1]).append(QLatin1String("  ")).append(f[2]);
    item.append(QLatin1String(" Ch. --> ")).append(f[3]);
    return item;
}
} // namespace

QVector<QString> directions(const QStringList& sortedBase) {
    QVector<QString> out;
    QSet<Caseless> seen;
    seen.reserve(sortedBase.size());
    for (const QString& line : sortedBase) {
        const QStringView dir = firstField(line);
        if (dir.isEmpty())
            continue;
        const qsizetype before = seen.size();
        seen.insert(Caseless{dir});
        if (seen.size() != before)
            out.append(dir.toString());
    }
    return out;
}

Listing listChannels(const QStringList& base, const QVector<QString>& checkedDirections) {
    Listing out;
    if (checkedDirections.isEmpty())
        return out;
    // Each line's place in the list order of the checked directions, found in one pass; a
    // stable counting sort by that place then keeps base order within a direction.
    QHash<QStringView, int> place;
    place.reserve(checkedDirections.size());
    for (int i = 0; i < checkedDirections.size(); ++i)
        place.insert(QStringView(checkedDirections[i]), i);
    QVector<int> placeOf(base.size(), -1);
    QVector<int> count(checkedDirections.size() + 1, 0);
    for (qsizetype l = 0; l < base.size(); ++l) {
        const auto it = place.constFind(firstField(base[l]));
        if (it != place.constEnd()) {
            placeOf[l] = it.value();
            ++count[it.value() + 1];
        }
    }
    for (qsizetype i = 1; i < count.size(); ++i)
        count[i] += count[i - 1];
    QVector<int> order(count.last());
    for (qsizetype l = 0; l < base.size(); ++l)
        if (placeOf[l] >= 0)
            order[count[placeOf[l]]++] = static_cast<int>(l);

    out.channels.reserve(order.size());
    QSet<Caseless> seen;
    seen.reserve(order.size());
    for (int l : order) {
        QStringView exchange;
        out.channels.append(itemOf(base[l], &exchange));
        if (exchange.isEmpty())
            continue;
        const qsizetype before = seen.size();
        seen.insert(Caseless{exchange}); // views into `base`, which outlives the set
        if (seen.size() != before)
            out.exchanges.append(exchange.toString());
    }
    return out;
}

QVector<char> exchangeMarks(const QVector<QString>& channels, const QVector<QString>& checkedExchanges) {
    QVector<char> marks(channels.size(), 0);
    if (checkedExchanges.isEmpty())
        return marks;
    QSet<QStringView> wanted;
    wanted.reserve(checkedExchanges.size());
    qsizetype longest = 0;
    for (const QString& e : checkedExchanges) {
        wanted.insert(QStringView(e));
        longest = std::max(longest, e.size());
    }
    // Each item is looked at once: every double blank after "-- " ends a candidate exchange,
    // which is looked up in the set of checked ones.
    for (qsizetype i = 0; i < channels.size(); ++i) {
        const QStringView c(channels[i]);
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
