#include "ChannelBase.h"

#include "core/TextFile.h"

#include <QCollator>
#include <QThread>
#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

ChannelRecord ChannelBase::parseLine(const QString& line) {
    // One pass over the line; the same fields as ExtractField 0 to 3.
    ChannelRecord r;
    QString* fields[4] = {&r.direction, &r.exchange, &r.channel, &r.dial};
    qsizetype start = 0;
    for (QString* f : fields) {
        const qsizetype caret = line.indexOf(u'^', start);
        if (caret < 0) {
            *f = start == 0 ? line : line.sliced(start);
            break;
        }
        *f = line.sliced(start, caret - start);
        start = caret + 1;
    }
    return r;
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
    // One sort key per line: building it is the costly part, comparing keys is cheap. Big
    // bases build the second half of the keys on another thread, with a collator of its own.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(lines.size());
    const qsizetype half =
        lines.size() > 4096 && QThread::idealThreadCount() > 1 ? lines.size() / 2 : lines.size();
    std::vector<QCollatorSortKey> upper;
    std::unique_ptr<QThread> helper;
    if (half < lines.size()) {
        upper.reserve(lines.size() - half);
        helper.reset(QThread::create([&lines, &upper, &locale, half] {
            QCollator collator(locale);
            collator.setCaseSensitivity(Qt::CaseInsensitive);
            for (qsizetype i = half; i < lines.size(); ++i)
                upper.push_back(collator.sortKey(lines[i]));
        }));
        helper->start();
    }
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    for (qsizetype i = 0; i < half; ++i)
        keys.push_back(collator.sortKey(lines[i]));
    if (helper) {
        helper->wait();
        for (QCollatorSortKey& k : upper)
            keys.push_back(std::move(k));
    }
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
