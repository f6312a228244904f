#include "ReportStreaks.h"

#include <QDir>

namespace report {

QHash<QString, int> EarlierStreaks(const Month& m, const QSet<QString>& labels, const FileAccess& files,
                                   QString& warning) {
    QHash<QString, int> out;
    const qsizetype slash = m.path.lastIndexOf(u'/');
    if (labels.isEmpty() || slash < 0 || !m.date(1).isValid())
        return out;
    const QDate before = m.date(1).addMonths(-1);
    Month earlier;
    try {
        if (!monthfile::LoadMonthPart(m.path.left(slash), before.year(), before.month(), labels, earlier,
                                      files))
            return out;
    } catch (const ReportError& e) {
        warning = QStringLiteral("%1 Сериите от дни с „Г“ не са продължени в %2.")
                      .arg(e.text(), QDir::toNativeSeparators(earlier.path));
        return {};
    }
    for (int c = 0; c < earlier.channels.size(); ++c) {
        int run = 0;
        for (int d = earlier.days; d >= 1 && earlier.dayMark(c, d) == Mark::Failure; --d)
            ++run;
        if (run > 0)
            out.insert(earlier.labels[c], run);
    }
    return out;
}

QVector<int> MonthStreaks(const Month& m, int last, const FileAccess& files, QString& warning) {
    QVector<int> streaks(m.channels.size());
    if (last < 1 || last > m.days)
        return streaks;
    QSet<QString> open;
    QVector<int> reaching;
    for (int c = 0; c < m.channels.size(); ++c) {
        int d = last;
        while (d >= 1 && m.dayMark(c, d) == Mark::Failure)
            --d;
        streaks[c] = last - d;
        if (d == 0) {
            open.insert(m.labels[c]);
            reaching.append(c);
        }
    }
    const QHash<QString, int> earlier = EarlierStreaks(m, open, files, warning);
    for (int c : reaching)
        streaks[c] += earlier.value(m.labels[c]);
    return streaks;
}

void PeriodChannels::read(const Period& p, bool withTexts, const FileAccess& files, QString& warning,
                          CallTable* calls) {
    rows.clear();
    texts.clear();
    QSet<QString> open;
    QVector<int> reaching;
    const Month* last = p.months.last();
    using monthfile::ResultGroup;
    VisitPeriod(p,
                [&](const Month& m, int c, const ChannelTests& t, const ResultGroup& g, QChar mark) {
                    // The tests of the last month are at hand; those of the months before are
                    // counted below.
                    if (calls && &m == last)
                        calls->add(m.labels[c], t.groups, p, m);
                    PeriodChannel r;
                    r.month = &m;
                    r.channel = c;
                    r.mark = mark;
                    r.day = g.day;
                    if (mark == monthfile::kMarkFailure) {
                        int d = g.day - 1;
                        while (d >= 1 && m.dayMark(c, d) == Mark::Failure)
                            --d;
                        r.streak = g.day - d;
                        if (d == 0 && &m == p.months.last()) {
                            open.insert(m.labels[c]);
                            reaching.append(int(rows.size()));
                        }
                    }
                    if (withTexts) {
                        r.text = qint32(texts.size());
                        r.answerSize = qint32(g.answer.size());
                        r.delaySize = qint32(g.delay.size());
                        r.delayIsNumber = g.delayIsNumber;
                        texts.append(g.answer);
                        texts.append(g.delay);
                        texts.append(g.timestamp.mid(6, 4));
                    }
                    rows.append(r);
                });
    if (calls)
        for (const Month* m : p.months) {
            if (m == last)
                continue;
            // Only the channels tested on the days of the period are read.
            const int from = int(std::max<qint64>(1, (p.from - m->firstMinute()) / 1440 + 1));
            const int to = int(std::min<qint64>(m->days, (p.to - m->firstMinute()) / 1440 + 1));
            for (int c = 0; c < m->channels.size(); ++c) {
                bool tested = false;
                for (int d = from; d <= to && !tested; ++d)
                    tested = m->dayMark(c, d) != Mark::None;
                if (tested)
                    calls->add(m->labels[c], m->tests(c).groups, p, *m);
            }
        }
    if (open.isEmpty())
        return;
    const QHash<QString, int> earlier = EarlierStreaks(*p.months.last(), open, files, warning);
    for (int i : reaching)
        rows[i].streak += earlier.value(rows[i].month->labels[rows[i].channel]);
}

QString PeriodChannels::time(const PeriodChannel& r) const {
    const QStringView t = QStringView(texts).mid(r.text + r.answerSize + r.delaySize, 4);
    return t.left(2).toString() + u':' + t.mid(2).toString();
}

} // namespace report
