#include "ReportMonth.h"

namespace report {

Period Period::ofDay(const Month& m, int day) {
    Period p;
    p.months = {&m};
    p.day = day;
    p.from = m.firstMinute() + qint64(day - 1) * 1440;
    p.to = p.from + 1439;
    return p;
}

Period Period::ofHours(QVector<const Month*> months, int hours) {
    Period p;
    p.months = std::move(months);
    p.hours = hours;
    p.end = p.months.last()->latestTest();
    p.to = p.months.last()->latestMinute();
    p.from = p.to < 0 ? 0 : p.to - qint64(hours) * 60 + 1;
    return p;
}

namespace {
// The tests of `gs` within the period: their mark (a connection wins, else the latest) and the
// index of the latest of them, -1 for none.
int within(const Period& p, const Month& m, const QVector<monthfile::ResultGroup>& gs, Mark& mark) {
    const qint64 first = m.firstMinute();
    const qint64 lo = std::max(p.from, first), hi = std::min(p.to, first + qint64(m.days) * 1440 - 1);
    if (lo > hi)
        return -1;
    const int dayLo = int((lo - first) / 1440) + 1, dayHi = int((hi - first) / 1440) + 1;
    // Only on a day the period cuts do hours and minutes matter.
    const bool cutLo = (lo - first) % 1440 != 0, cutHi = (hi - first) % 1440 != 1439;
    int latest = -1;
    for (int i = 0; i < gs.size(); ++i) {
        const monthfile::ResultGroup& g = gs[i];
        if (g.day < dayLo || g.day > dayHi)
            continue;
        if ((cutLo && g.day == dayLo) || (cutHi && g.day == dayHi)) {
            const qint64 t = m.minuteOf(g);
            if (t < lo || t > hi)
                continue;
        }
        monthfile::MarkDay(mark, monthfile::AnswerMark(g.answer, g.delayValue));
        latest = i;
    }
    return latest;
}
} // namespace

void VisitPeriod(const Period& p, const ChannelVisit& visit) {
    if (p.months.size() == 1) {
        const Month& m = *p.months[0];
        for (int c = 0; c < m.channels.size(); ++c) {
            const ChannelTests t = m.tests(c);
            Mark mark = Mark::None;
            const int i = within(p, m, t.groups, mark);
            if (i >= 0)
                visit(m, c, t, t.groups[i], MarkChar(mark));
        }
        return;
    }
    // A channel over several months: its channel in each, by label.
    QHash<QString, int> idOf;
    QVector<QVector<QPair<int, int>>> parts; // per channel: month and channel there
    for (int k = 0; k < p.months.size(); ++k) {
        const Month& m = *p.months[k];
        for (int c = 0; c < m.channels.size(); ++c) {
            auto it = idOf.constFind(m.labels[c]);
            if (it == idOf.constEnd()) {
                it = idOf.insert(m.labels[c], int(parts.size()));
                parts.append(QVector<QPair<int, int>>());
            }
            parts[*it].append({k, c});
        }
    }
    for (const QVector<QPair<int, int>>& part : parts) {
        Mark mark = Mark::None;
        ChannelTests latest;
        const Month* month = nullptr;
        int index = -1, channel = -1;
        for (const auto& [k, c] : part) {
            ChannelTests t = p.months[k]->tests(c);
            const int i = within(p, *p.months[k], t.groups, mark);
            if (i >= 0) {
                latest = std::move(t); // the views move with the lines' text
                month = p.months[k];
                index = i;
                channel = c;
            }
        }
        if (index >= 0)
            visit(*month, channel, latest, latest.groups[index], MarkChar(mark));
    }
}

} // namespace report
