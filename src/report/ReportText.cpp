// The morning list: the channels of the period, the worst first, and the totals.
#include "ReportShared.h"

#include <algorithm>
#include <array>

namespace report {

using monthfile::kMarkBusy;
using monthfile::kMarkFailure;

namespace {
int rank(QChar mark) {
    return mark == kMarkFailure ? 0 : mark == kMarkBusy ? 1 : 2;
}

QString channels(int n) {
    return Counted(n, QStringLiteral("канал"), QStringLiteral("канала"));
}

// "файл A" or "файлове A и B", then the journals read with them.
QString sourcesText(const Period& p) {
    QStringList files, journals;
    for (const Month* m : p.months) {
        files.append(ShownPath(m->path));
        if (!m->journalPath.isEmpty())
            journals.append(JournalText(*m));
    }
    const auto listed = [](QStringList l) {
        const QString last = l.takeLast();
        return l.isEmpty() ? last : l.join(QStringLiteral(", ")) + QStringLiteral(" и ") + last;
    };
    QString text = (files.size() == 1 ? QStringLiteral("файл ") : QStringLiteral("файлове ")) + listed(files);
    if (!journals.isEmpty())
        text += (journals.size() == 1 ? QStringLiteral(" и дневник ") : QStringLiteral(" и дневници ")) +
                journals.join(QStringLiteral(", "));
    return text;
}

QString shownDelay(const PeriodChannels& pc, const PeriodChannel& r) {
    const QStringView d = pc.delay(r);
    return r.delayIsNumber ? monthfile::DelayWithComma(d) : d.toString();
}

// "ден" after a number ending in one, as Counted() has it.
QString dayWord(int n) {
    return n % 10 == 1 && n % 100 != 11 ? QStringLiteral("ден подред") : QStringLiteral("дни подред");
}

// The call ratios of every test of the period, whatever --failed lists: a table by direction
// and exchange, then the total.
void writeCalls(const QVector<Source>& sources, bool stations, Sink& out) {
    struct Line {
        QString station, name;
        const CallCounts* c;
    };
    QVector<Line> lines;
    CallCounts total;
    for (const Source& s : sources)
        for (const CallTable::Row& r : s.calls.rows()) {
            lines.append({s.name, r.direction + QStringLiteral(" -- ") + r.exchange, &r.counts});
            total += r.counts;
        }
    const QString head[] = {QStringLiteral("Тестове"), QStringLiteral("ASR"), QStringLiteral("NER"),
                            QStringLiteral("Медиана"), QStringLiteral("95 %")};
    qsizetype ws = 0, wn = 0, w[5] = {};
    QVector<std::array<QString, 5>> cells;
    for (const Line& l : lines) {
        cells.append({QString::number(l.c->tests), Percent(l.c->connected, l.c->tests),
                      Percent(l.c->carried(), l.c->tests), DelayPercentileText(*l.c, 50),
                      DelayPercentileText(*l.c, 95)});
        ws = std::max(ws, l.station.size());
        wn = std::max(wn, l.name.size());
    }
    for (int i = 0; i < 5; ++i) {
        w[i] = head[i].size();
        for (const auto& row : cells)
            w[i] = std::max(w[i], row[i].size());
    }
    if (!lines.isEmpty()) {
        out << QStringLiteral("Повиквания по направления и централи (закъснение на връзките в секунди):\n  ");
        if (stations)
            out << QString().leftJustified(ws) << "  ";
        out << QString().leftJustified(wn);
        for (int i = 0; i < 5; ++i)
            out << "  " << head[i].rightJustified(w[i]);
        out << "\n";
    }
    for (qsizetype k = 0; k < lines.size(); ++k) {
        out << "  ";
        if (stations)
            out << lines[k].station.leftJustified(ws) << "  ";
        out << lines[k].name.leftJustified(wn);
        for (int i = 0; i < 5; ++i)
            out << "  " << cells[k][i].rightJustified(w[i]);
        out << "\n";
    }
    out << QStringLiteral("Общо %1: ASR %2, NER %3")
               .arg(Counted(total.tests, QStringLiteral("тест"), QStringLiteral("теста")),
                    Percent(total.connected, total.tests), Percent(total.carried(), total.tests));
    if (total.delays() > 0)
        out << QStringLiteral(", закъснение на връзките: медиана %1 с, 95 % до %2 с")
                   .arg(DelayPercentileText(total, 50), DelayPercentileText(total, 95));
    out << "\n";
}

QString periodText(const Period& p) {
    return p.day ? DayText(*p.months.last(), p.day)
                 : QStringLiteral("%1 ч до %2").arg(QString::number(p.hours), EndText(p));
}
} // namespace

void WriteText(const QVector<Source>& sources, const Options& o, Sink& out) {
    const bool stations = ShowStations(o);
    struct Entry {
        const Source* s;
        const PeriodChannel* r;
    };
    QVector<Entry> entries;
    DayCounts n;
    for (const Source& s : sources)
        for (const PeriodChannel& r : s.channels.rows) {
            n.add(r.mark);
            if (o.failedOnly && (r.mark != kMarkFailure || r.streak < o.minDays))
                continue;
            entries.append({&s, &r});
        }
    // The worst first, and of the failures the longest streaks first.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int ra = rank(a.r->mark), rb = rank(b.r->mark);
        return ra != rb ? ra < rb : a.r->streak > b.r->streak;
    });
    qsizetype ws = 0, wl = 0, wa = 0, wd = 0, wn = 0;
    for (const Entry& e : entries) {
        ws = std::max(ws, e.s->name.size());
        wl = std::max(wl, e.r->label().size());
        wa = std::max(wa, std::min<qsizetype>(e.s->channels.answer(*e.r).size(), 40));
        wd = std::max(wd, shownDelay(e.s->channels, *e.r).size());
        if (e.r->streak > 0)
            wn = std::max(wn, QString::number(e.r->streak).size());
    }
    const Source* any = FirstRead(sources);
    if (!stations) {
        out << QStringLiteral("Тестове на каналите за %1, %2\n")
                   .arg(periodText(any->period), sourcesText(any->period));
    } else {
        const Period& p = any->period;
        out << (p.day ? QStringLiteral("Тестове на каналите за %1 по станции:\n")
                            .arg(DayText(*p.months.last(), p.day))
                      : QStringLiteral("Тестове на каналите за %1 ч до последния тест на всяка станция:\n")
                            .arg(p.hours));
        for (const Source& s : sources) {
            out << QStringLiteral("  ") << s.name << QStringLiteral(": ");
            if (!s.ok())
                out << s.error << "\n";
            else if (s.period.day)
                out << sourcesText(s.period) << "\n";
            else
                out << QStringLiteral("до %1, %2\n").arg(EndText(s.period), sourcesText(s.period));
        }
    }
    if (entries.isEmpty())
        out << (!o.failedOnly ? QStringLiteral("Няма тестове.\n")
                : o.minDays > 1
                    ? QStringLiteral("Няма канали с „Г“ %1 или повече дни подред.\n").arg(o.minDays)
                    : QStringLiteral("Няма неуспешни канали.\n"));
    for (const Entry& e : entries) {
        const PeriodChannel& r = *e.r;
        const PeriodChannels& pc = e.s->channels;
        // Over hours that may cross midnight the date comes with the time.
        QString time = pc.time(r);
        if (!e.s->period.day)
            time = r.month->date(r.day).toString(QStringLiteral("dd.MM ")) + time;
        out << QString(r.mark) << "  ";
        if (stations)
            out << e.s->name.leftJustified(ws) << "  ";
        out << r.label().toString().leftJustified(wl) << "  " << pc.answer(r).toString().leftJustified(wa)
            << "  " << shownDelay(pc, r).rightJustified(wd) << "  " << time;
        if (r.streak > 0)
            out << "  " << QString::number(r.streak).rightJustified(wn) << ' ' << dayWord(r.streak);
        out << "\n";
    }
    out << QStringLiteral("Общо %1: %2 без връзка (Г), %3 (З), %4 с връзка (Р)\n")
               .arg(channels(n.tested()), QString::number(n.failed),
                    Counted(n.busy, QStringLiteral("зает"), QStringLiteral("заети")),
                    QString::number(n.connected));
    writeCalls(sources, stations, out);
}

} // namespace report
