#include "ReportMonth.h"

#include "monthfile/ResultJournal.h"
#include "core/AppError.h"
#include "core/Cp1251.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace report {

namespace {
void exactTests(QStringView line, int days, DayTests& out) {
    for (const monthfile::ResultGroup& g : monthfile::ResultGroups(line))
        if (g.day <= days)
            out.append({quint8(g.day), monthfile::AnswerMark(g.answer, g.delayValue),
                        quint16(monthfile::MinuteOfDay(g.timestamp))});
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// The groups of a line with plain fields: a day and a time of digits, and a BUSY's delay of
// digits or nothing. false, with `out` as it was, for a line that needs the exact reading
// (blanks or signs around a number, which ParseInt takes).
bool plainTests(QByteArrayView line, int days, DayTests& out) {
    const qsizetype before = out.size();
    const char* const end = line.data() + line.size();
    // Fields are short: a plain loop beats a call to memchr for each.
    const auto caret = [end](const char* from) -> const char* {
        for (; from < end; ++from)
            if (*from == '^')
                return from;
        return nullptr;
    };
    const char* c = caret(line.data());
    if (!c)
        return true;
    // Group j is fields 3j+1 to 3j+3 and exists when caret 3j+3 does; its timestamp runs to the
    // next caret or the line's end, as ExtractField reads it.
    for (const char* answer = c + 1;;) {
        const char* const delay = caret(answer);
        const char* const stamp = delay ? caret(delay + 1) : nullptr;
        if (!stamp)
            break;
        const char* const next = caret(stamp + 1);
        const char* const t = stamp + 1;
        const qsizetype stampSize = (next ? next : end) - t;
        if (stampSize >= 10) {
            if (!digit(t[4]) || !digit(t[5]) || !digit(t[6]) || !digit(t[7]) || !digit(t[8]) ||
                !digit(t[9])) {
                out.resize(before);
                return false;
            }
            const int day = (t[4] - '0') * 10 + (t[5] - '0');
            const QByteArrayView answerText(answer, delay - answer);
            bool keep = day >= 1 && day <= days;
            int value = 0;
            if (answerText == QByteArrayView("BUSY")) {
                const qsizetype n = stamp - (delay + 1);
                for (qsizetype i = 0; i < n; ++i) {
                    if (n > 9 || !digit(delay[1 + i])) {
                        out.resize(before);
                        return false;
                    }
                    value = value * 10 + (delay[1 + i] - '0');
                }
                keep = keep && n > 0; // a BUSY without a delay has no mark
            }
            if (keep) {
                const int hh = (t[6] - '0') * 10 + (t[7] - '0'), nn = (t[8] - '0') * 10 + (t[9] - '0');
                out.append({quint8(day), monthfile::AnswerMark(answerText, value),
                            quint16(hh > 23 || nn > 59 ? 0 : hh * 60 + nn)});
            }
        }
        if (!next)
            break;
        answer = next + 1;
    }
    return true;
}
} // namespace

void LineTests(QByteArrayView line, int days, DayTests& out) {
    if (!plainTests(line, days, out))
        exactTests(Cp1251::decode(line), days, out);
}

void LineTests(QStringView line, int days, DayTests& out) {
    exactTests(line, days, out);
}

void MarkDays(const DayTests& tests, Mark (&marks)[32]) {
    for (const DayTest& t : tests)
        monthfile::MarkDay(marks[t.day], t.mark);
}

QString ChannelTests::key() const {
    return lines.isEmpty() ? QString() : monthfile::LineKey(lines[latest]).toString();
}

QString ChannelTests::label() const {
    return lines.isEmpty() ? QString() : monthfile::LineLabel(lines[latest]).trimmed();
}

int FileAccess::openPath(const QString& path, int flags) const {
    const QByteArray name = QFile::encodeName(path);
    return open ? open(name, flags) : ::open(name.constData(), flags);
}

void Month::setBytes(QByteArray bytes) {
    // Lines end at LF with a CR before it dropped, and a last line without a line end is a line,
    // as the file layer splits them.
    bytes_ = std::move(bytes);
    spans_.clear();
    tails_.clear();
    added_.clear();
    const QByteArrayView b(bytes_); // read only: mapped bytes stay where they are
    const qsizetype n = b.size();
    qsizetype start = 0;
    while (start < n) {
        const qsizetype lf = b.indexOf('\n', start);
        const qsizetype end = lf < 0 ? n : lf;
        qsizetype stop = end;
        if (lf >= 0 && stop > start && b[stop - 1] == '\r')
            --stop;
        spans_.append({start, stop - start});
        if (lf < 0)
            break;
        start = lf + 1;
    }
}

QString Month::line(int i) const {
    if (i >= spans_.size())
        return added_[i - spans_.size()];
    QString l = Cp1251::decode(span(i));
    const auto tail = tails_.constFind(i);
    if (tail != tails_.constEnd())
        l += *tail;
    return l;
}

namespace {
// What closes a hand-edited or damaged line before a test is added to it, so that the test stands
// in a group of its own: a caret at its end, and as many more as make 1 + 3g.
QString closing(qsizetype carets, bool endsWithCaret) {
    QString close;
    if (!endsWithCaret) {
        close += u'^';
        ++carets;
    }
    for (; (carets - 1) % 3 != 0; ++carets)
        close += u'^';
    return close;
}
} // namespace

void Month::addRecords(const QList<ResultJournal::Record>& records) {
    // As MonthResults::AddResult: a record goes to the first line whose field 0 is its key, else
    // to a new line. Only the keys of the records are looked for among the file's lines.
    QHash<QString, int> lineOf;
    for (const ResultJournal::Record& r : records)
        lineOf.insert(r.key, -1);
    for (int i = 0; i < spans_.size(); ++i) {
        const QByteArrayView l = span(i);
        const qsizetype caret = l.indexOf('^');
        const auto it = lineOf.find(caret < 0 ? QString() : Cp1251::decode(l.first(caret)));
        if (it != lineOf.end() && *it < 0)
            *it = i;
    }
    for (const ResultJournal::Record& r : records) {
        const QString group = r.answer + u'^' + r.delay + u'^' + r.stamp + u'^';
        const int i = lineOf.value(r.key, -1);
        if (i < 0) {
            // A damaged journal's key may hold a caret: the new line's field 0 is what precedes it.
            added_.append(r.key + u'^' + group);
            const QString key = r.key.left(r.key.indexOf(u'^'));
            if (lineOf.value(key, -1) < 0)
                lineOf.insert(key, lineCount() - 1);
        } else if (i >= spans_.size()) {
            QString& l = added_[i - spans_.size()];
            l += closing(l.count(u'^'), l.endsWith(u'^')) + group;
        } else {
            auto tail = tails_.find(i);
            if (tail == tails_.end()) {
                const QByteArrayView l = span(i);
                tail = tails_.insert(i, closing(l.count('^'), l.endsWith('^')));
            }
            *tail += group;
        }
    }
}

QString Month::labelOf(int i) const {
    if (i >= spans_.size() || tails_.contains(i))
        return monthfile::LineLabel(line(i));
    // From the bytes: the label is short, the line may be long.
    const QByteArrayView l = span(i);
    return Cp1251::decode(l.first(monthfile::LineLabelSize(l)));
}

void Month::index() {
    // One channel per label, at its first line; a line whose key has no label belongs to no
    // channel.
    firstDay_ = date(1).isValid() ? date(1).toJulianDay() : 0;
    marks_.clear();
    latestDay_ = -1;
    latestMinute_ = -1;
    channels.clear();
    labels.clear();
    next_.fill(-1, lineCount());
    QHash<QString, int> channelOf;
    channelOf.reserve(lineCount());
    QVector<int> lastLine;
    for (int i = 0; i < lineCount(); ++i) {
        const QString label = labelOf(i);
        if (label.isEmpty())
            continue;
        const auto it = channelOf.constFind(label);
        if (it == channelOf.constEnd()) {
            channelOf.insert(label, int(channels.size()));
            channels.append(i);
            labels.append(label);
            lastLine.append(i);
        } else {
            next_[lastLine[*it]] = i;
            lastLine[*it] = i;
        }
    }
}

ChannelTests Month::tests(int channel) const {
    ChannelTests t;
    for (int i = channels[channel]; i >= 0; i = next_[i])
        t.lines.append(line(i));
    if (t.lines.size() == 1) {
        t.groups = monthfile::ResultGroups(t.lines[0]);
        t.groups.removeIf([this](const monthfile::ResultGroup& g) { return g.day > days; });
        return t;
    }
    // A channel whose dial string changed: its lines' tests merged by time.
    struct Timed {
        qint64 minute;
        int line;
        monthfile::ResultGroup g;
    };
    QVector<Timed> all;
    for (int k = 0; k < t.lines.size(); ++k)
        for (const monthfile::ResultGroup& g : monthfile::ResultGroups(t.lines[k]))
            if (g.day <= days)
                all.append({minuteOf(g), k, g});
    std::stable_sort(all.begin(), all.end(),
                     [](const Timed& a, const Timed& b) { return a.minute < b.minute; });
    t.groups.reserve(all.size());
    for (const Timed& a : all)
        t.groups.append(a.g);
    t.latest = all.isEmpty() ? int(t.lines.size()) - 1 : all.last().line;
    return t;
}

QDateTime TestTime(const Month& m, const monthfile::ResultGroup& g) {
    const qint64 minute = m.minuteOf(g);
    return QDateTime(QDate::fromJulianDay(minute / 1440), QTime(int(minute / 60 % 24), int(minute % 60)));
}

void Month::channelTests(int channel, DayTests& out) const {
    const auto add = [&](int i) {
        if (i < spans_.size() && !tails_.contains(i))
            LineTests(span(i), days, out);
        else
            exactTests(line(i), days, out);
    };
    const int first = channels[channel];
    add(first);
    if (next_[first] < 0)
        return;
    // A channel whose dial string changed: its lines' tests merged by time, as tests() does.
    for (int i = next_[first]; i >= 0; i = next_[i])
        add(i);
    std::stable_sort(out.begin(), out.end(), [](const DayTest& a, const DayTest& b) {
        return a.day * 1440 + a.minute < b.day * 1440 + b.minute;
    });
}

void Month::marks() const {
    // One pass from the bytes: what the day marks and the latest test need, without decoding.
    if (latestDay_ >= 0)
        return;
    latestDay_ = 0;
    latestMinute_ = -1;
    marks_ = QByteArray(channels.size() * 32, '\0');
    DayTests t;
    for (int c = 0; c < channels.size(); ++c) {
        t.clear();
        channelTests(c, t);
        Mark m[32] = {};
        MarkDays(t, m);
        std::memcpy(marks_.data() + qsizetype(c) * 32, m, 32);
        for (const DayTest& d : t) {
            latestDay_ = std::max(latestDay_, int(d.day));
            latestMinute_ = std::max(latestMinute_, firstMinute() + (d.day - 1) * 1440 + d.minute);
        }
    }
}

int Month::latestDay() const {
    marks();
    return latestDay_;
}

qint64 Month::latestMinute() const {
    marks();
    return latestMinute_;
}

QDateTime Month::latestTest() const {
    const qint64 minute = latestMinute();
    return minute < 0 ? QDateTime()
                      : QDateTime(QDate::fromJulianDay(minute / 1440),
                                  QTime(int(minute / 60 % 24), int(minute % 60)));
}

namespace {
QString kindOf(mode_t mode) {
    return S_ISDIR(mode)                    ? QStringLiteral("папка")
           : S_ISFIFO(mode)                 ? QStringLiteral("програмен канал (FIFO)")
           : S_ISCHR(mode) || S_ISBLK(mode) ? QStringLiteral("устройство")
           : S_ISSOCK(mode)                 ? QStringLiteral("гнездо (socket)")
                                            : QStringLiteral("файл от особен вид");
}

// Opens a file of the report without waiting for it: a FIFO or a device is refused rather than
// read, and a refusal is named. -1 when there is no such file. `what` names the file in Bulgarian.
} // namespace

int OpenRegular(const FileAccess& files, const QString& path, const QString& what) {
    const QString shown = QDir::toNativeSeparators(path);
    const int fd = files.openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            return -1;
        if (e == EACCES || e == EPERM)
            throw ReportError(
                QStringLiteral("%1 %2 не може да бъде прочетен: достъпът е отказан.").arg(what, shown),
                QStringLiteral("permission denied: %1").arg(shown));
        throw ReportError(QStringLiteral("%1 %2 не може да бъде отворен: %3.")
                              .arg(what, shown, QString::fromLocal8Bit(std::strerror(e))),
                          QStringLiteral("cannot read %1").arg(shown));
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReportError(
            QStringLiteral("%1 %2 не е обикновен файл, а %3; отчетът чете само обикновени файлове.")
                .arg(what, shown, kindOf(st.st_mode)),
            QStringLiteral("cannot read %1: not a regular file").arg(shown));
    }
    return fd;
}

namespace {
// A month file is text: a NUL byte means another file or a damaged one.
void refuseNul(QByteArrayView bytes, const QString& path) {
    const qsizetype nul = bytes.indexOf('\0');
    if (nul < 0)
        return;
    const QString shown = QDir::toNativeSeparators(path);
    throw ReportError(QStringLiteral("Файлът с резултати %1 съдържа нулев байт (отместване %2 от началото): "
                                     "това не е текстов файл с резултати.")
                          .arg(shown)
                          .arg(nul),
                      QStringLiteral("NUL byte at offset %1 in %2").arg(nul).arg(shown));
}

void applyJournal(Month& m, const ResultJournal::Contents& j, const FileFingerprint& base) {
    if (!j.continues(base))
        return;
    m.addRecords(j.records);
    m.journalRecords = int(j.records.size());
}
} // namespace

void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes) {
    out.fileExists = monthExists;
    out.days = monthfile::DaysInMonth(out.year, out.month);
    if (monthExists)
        refuseNul(monthBytes, out.path);
    out.setBytes(monthExists ? monthBytes : QByteArray());
    if (!journalBytes.isEmpty())
        applyJournal(out, ResultJournal::parse(journalBytes),
                     monthExists ? FileFingerprint::of(monthBytes) : FileFingerprint());
    out.index();
}

bool LoadMonth(const QString& dir, int year, int month, Month& out, const FileAccess& files) {
    out = {};
    out.year = year;
    out.month = month;
    out.days = monthfile::DaysInMonth(year, month);
    out.path = monthfile::MonthFileName(dir, year, month);
    const QString jrn = ResultJournal::pathFor(out.path);
    const QString shown = QDir::toNativeSeparators(out.path);
    const int fd = OpenRegular(files, out.path, QStringLiteral("Файлът с резултати"));
    out.fileExists = fd >= 0;
    QByteArray bytes;
    if (out.fileExists) {
        auto file = std::make_shared<QFile>();
        QFile& f = *file;
        if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            throw ReportError(QStringLiteral("Файлът с резултати %1 не може да бъде отворен: %2.")
                                  .arg(shown, f.errorString()),
                              QStringLiteral("cannot read %1").arg(shown));
        }
        // Mapped rather than read: a big month is then never copied whole.
        const qint64 size = f.size();
        uchar* map = size > 0 ? f.map(0, size) : nullptr;
        if (map) {
            out.keepMapped(file);
            bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(map), size);
        } else {
            bytes = f.readAll();
        }
        if (f.error() != QFileDevice::NoError)
            throw ReportError(QStringLiteral("Файлът с резултати %1 не може да бъде прочетен: %2.")
                                  .arg(shown, f.errorString()),
                              QStringLiteral("cannot read %1").arg(shown));
        refuseNul(bytes, out.path);
    }
    out.setBytes(bytes);
    const int journal = OpenRegular(files, jrn, QStringLiteral("Дневникът"));
    if (!out.fileExists && journal < 0)
        return false;
    if (journal >= 0) {
        // Read from the file just checked, not opened again by its name.
        QFile f;
        const bool read = f.open(journal, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        const QByteArray journalBytes = read ? f.readAll() : QByteArray();
        if (!read)
            ::close(journal);
        if (read && f.error() == QFileDevice::NoError) {
            applyJournal(out, ResultJournal::parse(journalBytes),
                         out.fileExists ? FileFingerprint::of(bytes) : FileFingerprint());
            if (out.journalRecords > 0)
                out.journalPath = jrn;
        } else {
            // The month file still answers; the journal only adds the tests of a run going on.
            out.warning = QStringLiteral("Дневникът %1 не може да бъде прочетен; тестовете в него не са включени.")
                              .arg(QDir::toNativeSeparators(jrn));
        }
    }
    out.index();
    return true;
}

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
