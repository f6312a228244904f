#include "ChannelBase.h"

#include "shell/MyUtils.h"
#include "shell/TextFile.h"

#include <QCollator>
#include <algorithm>
#include <numeric>
#include <vector>

ChannelRecord ChannelBase::parseLine(const QString& line) {
    return {ExtractField(line, 0, 1), ExtractField(line, 1, 2), ExtractField(line, 2, 3),
            ExtractField(line, 3, 4)};
}

QString ChannelBase::formatLine(const ChannelRecord& r) {
    QString line;
    line.reserve(r.direction.size() + r.exchange.size() + r.channel.size() + r.dial.size() + 4);
    line += r.direction;
    line += u'^';
    line += r.exchange;
    line += u'^';
    line += r.channel;
    line += u'^';
    line += r.dial;
    line += u'^';
    return line;
}

void ChannelBase::sortLines(QStringList& lines, const QLocale& locale) {
    if (lines.size() < 2)
        return;
    if (locale.language() == QLocale::C) {
        // The C collation's sort keys keep letter case; compare directly instead.
        std::stable_sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        return;
    }
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // One sort key per line: building it is the costly part, comparing keys is cheap.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(lines.size());
    for (const QString& l : lines)
        keys.push_back(collator.sortKey(l));
    std::vector<qsizetype> order(lines.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
    QStringList sorted;
    sorted.reserve(lines.size());
    for (qsizetype i : order)
        sorted.append(lines[i]);
    lines.swap(sorted);
}

QVector<ChannelRecord> ChannelBase::parseLines(const QStringList& lines) {
    QVector<ChannelRecord> records;
    records.reserve(lines.size());
    for (const QString& line : lines) {
        ChannelRecord r = parseLine(line);
        if (!r.direction.isEmpty())
            records.append(std::move(r));
    }
    return records;
}

QVector<ChannelRecord> ChannelBase::readRecords(const QString& path) {
    return parseLines(TextFile::readLines(path));
}
