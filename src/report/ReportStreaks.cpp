#include "ReportStreaks.h"

#include "monthfile/MonthResults.h"
#include "monthfile/ResultJournal.h"
#include "core/Cp1251.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace report {

namespace {
// A channel looked for in the month before: its tests in file order, and over how many lines.
struct Wanted {
    QString label;
    int lines = 0;
    QVector<DayTest> tests;
};

// Days in a row marked "Г" up to `days`, the tests in the order Month::tests gives them: a
// channel of one line in line order, of several by time.
int trailingFailures(Wanted& w, int days) {
    if (w.lines > 1)
        std::stable_sort(w.tests.begin(), w.tests.end(), [](const DayTest& a, const DayTest& b) {
            return a.day * 1440 + a.minute < b.day * 1440 + b.minute;
        });
    DayTests tests;
    tests.append(w.tests.constData(), w.tests.size());
    Mark marks[32] = {};
    MarkDays(tests, marks);
    int run = 0;
    for (int d = days; d >= 1 && marks[d] == Mark::Failure; --d)
        ++run;
    return run;
}

void closeFd(int fd) {
    if (fd >= 0)
        ::close(fd);
}
} // namespace

QHash<QString, int> EarlierStreaks(const Month& m, const QSet<QString>& labels, const FileAccess& files,
                                   QString& warning) {
    QHash<QString, int> out;
    const qsizetype slash = m.path.lastIndexOf(u'/');
    if (labels.isEmpty() || slash < 0 || !m.date(1).isValid())
        return out;
    const QDate before = m.date(1).addMonths(-1);
    const int days = before.daysInMonth();
    const QString path = monthfile::MonthFileName(m.path.left(slash), before.year(), before.month());
    const QString shown = QDir::toNativeSeparators(path);

    QVector<Wanted> wanted;
    QHash<QByteArray, int> slotOf; // by the label's bytes in the file
    wanted.reserve(labels.size());
    for (const QString& label : labels) {
        slotOf.insert(Cp1251::encode(label), int(wanted.size()));
        wanted.append({label, 0, {}});
    }
    const auto addLine = [&](QByteArrayView line) {
        const qsizetype arrow = line.indexOf(" --> ");
        if (arrow < 0)
            return;
        const auto it = slotOf.constFind(QByteArray::fromRawData(line.data(), arrow + 1));
        if (it == slotOf.constEnd())
            return;
        Wanted& w = wanted[*it];
        ++w.lines;
        DayTests t;
        LineTests(line, days, t);
        for (const DayTest& d : t)
            w.tests.append(d);
    };

    int fd = -1, journalFd = -1;
    try {
        fd = OpenRegular(files, path, QStringLiteral("Файлът с резултати"));
        journalFd = OpenRegular(files, ResultJournal::pathFor(path), QStringLiteral("Дневникът"));
        ResultJournal::Contents journal;
        if (journalFd >= 0) {
            QFile f;
            if (f.open(journalFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
                journal = ResultJournal::parse(f.readAll());
                journalFd = -1;
            }
        }
        const bool withJournal = journal.headerValid && !journal.records.isEmpty();
        // Through a buffer, line by line: the month may be as big as the one reported, which is
        // mapped already.
        QCryptographicHash md5(QCryptographicHash::Md5);
        qint64 size = 0;
        QByteArray buf;
        qsizetype kept = 0; // bytes of an unfinished line at the start of buf
        constexpr qsizetype kChunk = 1 << 20;
        for (bool more = fd >= 0; more;) {
            buf.resize(kept + kChunk);
            const ssize_t n = ::read(fd, buf.data() + kept, size_t(kChunk));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw ReportError(QStringLiteral("Файлът с резултати %1 не може да бъде прочетен: %2.")
                                      .arg(shown, QString::fromLocal8Bit(std::strerror(errno))),
                                  QStringLiteral("cannot read %1").arg(shown));
            }
            more = n > 0;
            const QByteArrayView fresh(buf.constData() + kept, n);
            if (fresh.contains('\0'))
                throw ReportError(QStringLiteral("Файлът с резултати %1 съдържа нулев байт.").arg(shown),
                                  QStringLiteral("NUL byte in %1").arg(shown));
            if (withJournal)
                md5.addData(fresh);
            size += n;
            const qsizetype filled = kept + n;
            qsizetype start = 0;
            for (;;) {
                const char* lf = static_cast<const char*>(
                    std::memchr(buf.constData() + start, '\n', size_t(filled - start)));
                if (!lf)
                    break;
                const qsizetype end = lf - buf.constData();
                const qsizetype stop = end > start && buf[end - 1] == '\r' ? end - 1 : end;
                addLine(QByteArrayView(buf.constData() + start, stop - start));
                start = end + 1;
            }
            if (!more && start < filled) // a last line without its line end
                addLine(QByteArrayView(buf.constData() + start, filled - start));
            kept = filled - start;
            std::memmove(buf.data(), buf.constData() + start, size_t(kept));
        }
        if (withJournal) {
            // As LoadMonth: the records count when the journal names the file as it is.
            const FileFingerprint read =
                fd >= 0 ? FileFingerprint{true, size, md5.result().toHex()} : FileFingerprint();
            if (journal.base == read)
                for (const ResultJournal::Record& r : journal.records) {
                    const QString line = r.key + u'^' + r.answer + u'^' + r.delay + u'^' + r.stamp + u'^';
                    const auto it = slotOf.constFind(Cp1251::encode(monthfile::ChannelLabel(line)));
                    if (it == slotOf.constEnd())
                        continue;
                    Wanted& w = wanted[*it];
                    w.lines += 2; // in time order with the file's tests
                    DayTests t;
                    LineTests(QStringView(line), days, t);
                    for (const DayTest& d : t)
                        w.tests.append(d);
                }
        }
    } catch (const ReportError& e) {
        closeFd(fd);
        closeFd(journalFd);
        warning = QStringLiteral("%1 Сериите от дни с „Г“ не са продължени в %2.").arg(e.text(), shown);
        return {};
    }
    closeFd(fd);
    closeFd(journalFd);
    for (Wanted& w : wanted)
        if (const int run = trailingFailures(w, days))
            out.insert(w.label, run);
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
