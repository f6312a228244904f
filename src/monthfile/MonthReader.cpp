#include "MonthReader.h"

#include "core/Cp1251.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace monthfile {

namespace {
void exactTests(QStringView line, int days, DayTests& out) {
    for (const ResultGroup& g : ResultGroups(line))
        if (g.day <= days)
            out.append(
                {quint8(g.day), AnswerMark(g.answer, g.delayValue), quint16(MinuteOfDay(g.timestamp))});
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
            if (IsBusy(answerText)) {
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
                out.append({quint8(day), AnswerMark(answerText, value),
                            quint16(hh > 23 || nn > 59 ? 0 : hh * 60 + nn)});
            }
        }
        if (!next)
            break;
        answer = next + 1;
    }
    return true;
}

// Lines end at LF with a CR before it dropped, and a last line without a line end is a line, as
// the file layer splits them. Hands over the offset and size of each whole line of `b`, with
// `last` the rest too; returns the offset of the line left unfinished.
template <class Fn> qsizetype eachLine(QByteArrayView b, bool last, Fn&& line) {
    const qsizetype n = b.size();
    qsizetype start = 0;
    while (start < n) {
        const qsizetype lf = b.indexOf('\n', start);
        if (lf < 0) {
            if (last) {
                line(start, n - start);
                start = n;
            }
            break;
        }
        const qsizetype stop = lf > start && b[lf - 1] == '\r' ? lf - 1 : lf;
        line(start, stop - start);
        start = lf + 1;
    }
    return start;
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
        MarkDay(marks[t.day], t.mark);
}

QString ChannelTests::key() const {
    return lines.isEmpty() ? QString() : LineKey(lines[latest]).toString();
}

QString ChannelTests::label() const {
    return lines.isEmpty() ? QString() : LineLabel(lines[latest]).trimmed();
}

int FileAccess::openPath(const QString& path, int flags) const {
    const QByteArray name = QFile::encodeName(path);
    return open ? open(name, flags) : ::open(name.constData(), flags);
}

void Month::setBytes(QByteArray bytes) {
    bytes_ = std::move(bytes);
    spans_.clear();
    tails_.clear();
    added_.clear();
    // Read only: mapped bytes stay where they are.
    eachLine(QByteArrayView(bytes_), true, [this](qsizetype at, qsizetype size) {
        spans_.append({at, size});
    });
}

void Month::setLines(QStringList lines) {
    mapped_.reset();
    bytes_.clear();
    spans_.clear();
    tails_.clear();
    added_ = std::move(lines);
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

void Month::addRecords(const QList<ResultJournal::Record>& records) {
    // The file's lines a record can go to, the first of each record's key, decoded with the lines
    // added so far; MonthResults::AddResult puts the records on them.
    QHash<QString, int> firstLine;
    for (const ResultJournal::Record& r : records)
        firstLine.insert(r.key, -1);
    for (int i = 0; i < spans_.size(); ++i) {
        const QByteArrayView l = span(i);
        const qsizetype caret = l.indexOf('^');
        const auto it = firstLine.find(caret < 0 ? QString() : Cp1251::decode(l.first(caret)));
        if (it != firstLine.end() && *it < 0)
            *it = i;
    }
    QVector<int> touched;
    for (const int i : std::as_const(firstLine))
        if (i >= 0)
            touched.append(i);
    std::sort(touched.begin(), touched.end());
    QStringList lines;
    for (const int i : std::as_const(touched))
        lines.append(line(i));
    MonthResults part(lines + added_);
    for (const ResultJournal::Record& r : records)
        part.AddResult(r.key, r.answer, r.delay, r.stamp);
    for (int k = 0; k < touched.size(); ++k)
        if (part.lines()[k].size() > lines[k].size())
            tails_[touched[k]] += part.lines()[k].mid(lines[k].size());
    added_ = part.lines().mid(touched.size());
}

QString Month::labelOf(int i) const {
    if (i >= spans_.size() || tails_.contains(i))
        return LineLabel(line(i));
    // From the bytes: the label is short, the line may be long.
    const QByteArrayView l = span(i);
    return Cp1251::decode(l.first(LineLabelSize(l)));
}

void Month::index() {
    // One channel per label, at its first line; a line whose key has no label belongs to no
    // channel.
    firstDay_ = date(1).isValid() ? date(1).toJulianDay() : 0;
    marks_.clear();
    latestDay_ = -1;
    latestMinute_ = -1;
    channelOf_.clear();
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

int Month::channel(const QString& label) const {
    if (channelOf_.isEmpty() && !labels.isEmpty()) {
        channelOf_.reserve(labels.size());
        for (int c = 0; c < labels.size(); ++c)
            channelOf_.insert(labels[c], c);
    }
    return channelOf_.value(label, -1);
}

ChannelTests Month::tests(int channel) const {
    ChannelTests t;
    for (int i = channels[channel]; i >= 0; i = next_[i])
        t.lines.append(line(i));
    if (t.lines.size() == 1) {
        t.groups = ResultGroups(t.lines[0]);
        t.groups.removeIf([this](const ResultGroup& g) { return g.day > days; });
        return t;
    }
    QVector<ResultGroup> all;
    QVector<int> lineOf;
    for (int k = 0; k < t.lines.size(); ++k)
        for (const ResultGroup& g : ResultGroups(t.lines[k]))
            if (g.day <= days) {
                all.append(g);
                lineOf.append(k);
            }
    const auto order = TimeOrder(all);
    t.groups.reserve(all.size());
    for (const int i : order)
        t.groups.append(all[i]);
    t.latest = order.isEmpty() ? int(t.lines.size()) - 1 : lineOf[order.last()];
    return t;
}

QDateTime TestTime(const Month& m, const ResultGroup& g) {
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
    for (int i = next_[first]; i >= 0; i = next_[i])
        add(i);
    DayTests sorted;
    for (const int i : TimeOrder(out))
        sorted.append(out[i]);
    out = sorted;
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
            latestMinute_ = std::max(latestMinute_, firstMinute() + MinuteOfMonth(d));
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
} // namespace

int OpenRegular(const FileAccess& files, const QString& path, const QString& what) {
    const QString shown = QDir::toNativeSeparators(path);
    const int fd = files.openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            return -1;
        if (e == EACCES || e == EPERM)
            throw ReadError(
                QStringLiteral("%1 %2 не може да бъде прочетен: достъпът е отказан.").arg(what, shown),
                QStringLiteral("permission denied: %1").arg(shown));
        throw ReadError(QStringLiteral("%1 %2 не може да бъде отворен: %3.")
                            .arg(what, shown, QString::fromLocal8Bit(std::strerror(e))),
                        QStringLiteral("cannot read %1").arg(shown));
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReadError(
            QStringLiteral("%1 %2 не е обикновен файл, а %3; отчетът чете само обикновени файлове.")
                .arg(what, shown, kindOf(st.st_mode)),
            QStringLiteral("cannot read %1: not a regular file").arg(shown));
    }
    return fd;
}

namespace {
const QString kMonthFile = QStringLiteral("Файлът с резултати");
const QString kJournal = QStringLiteral("Дневникът");

ReadError unreadable(const QString& path, const QString& why) {
    const QString shown = QDir::toNativeSeparators(path);
    return ReadError(QStringLiteral("%1 %2 не може да бъде прочетен: %3.").arg(kMonthFile, shown, why),
                     QStringLiteral("cannot read %1").arg(shown));
}

// A month file is text: a NUL byte means another file or a damaged one. `offset` is where the
// bytes lie in the file.
void refuseNul(QByteArrayView bytes, const QString& path, qint64 offset = 0) {
    const qsizetype nul = bytes.indexOf('\0');
    if (nul < 0)
        return;
    const QString shown = QDir::toNativeSeparators(path);
    throw ReadError(QStringLiteral("Файлът с резултати %1 съдържа нулев байт (отместване %2 от началото): "
                                   "това не е текстов файл с резултати.")
                        .arg(shown)
                        .arg(offset + nul),
                    QStringLiteral("NUL byte at offset %1 in %2").arg(offset + nul).arg(shown));
}

// The journal of the month file just read, from the file opened for it (not opened again by its
// name). One that cannot be read leaves a warning: the month file still answers, the journal only
// adds the tests of a run going on.
ResultJournal::Contents readJournal(int fd, const QString& path, Month& out) {
    QFile f;
    const bool read = f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray bytes = read ? f.readAll() : QByteArray();
    if (!read)
        ::close(fd);
    if (read && f.error() == QFileDevice::NoError)
        return ResultJournal::parse(bytes);
    out.warning = QStringLiteral("Дневникът %1 не може да бъде прочетен; тестовете в него не са включени.")
                      .arg(QDir::toNativeSeparators(path));
    return {};
}

// The journal's records go on the lines when its header names the month file as it was read.
void applyJournal(Month& m, const ResultJournal::Contents& j, const FileFingerprint& base,
                  const QString& path = QString()) {
    if (!j.continues(base))
        return;
    m.addRecords(j.records);
    m.journalRecords = int(j.records.size());
    m.journalPath = path;
}

void start(Month& out, const QString& dir, int year, int month) {
    out = {};
    out.year = year;
    out.month = month;
    out.days = DaysInMonth(year, month);
    out.path = MonthFileName(dir, year, month);
}
} // namespace

void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes) {
    out.fileExists = monthExists;
    out.days = DaysInMonth(out.year, out.month);
    if (monthExists)
        refuseNul(monthBytes, out.path);
    out.setBytes(monthExists ? monthBytes : QByteArray());
    if (!journalBytes.isEmpty())
        applyJournal(out, ResultJournal::parse(journalBytes),
                     monthExists ? FileFingerprint::of(monthBytes) : FileFingerprint());
    out.index();
}

bool LoadMonth(const QString& dir, int year, int month, Month& out, const FileAccess& files) {
    start(out, dir, year, month);
    const QString jrn = ResultJournal::pathFor(out.path);
    const int fd = OpenRegular(files, out.path, kMonthFile);
    out.fileExists = fd >= 0;
    QByteArray bytes;
    if (out.fileExists) {
        auto file = std::make_shared<QFile>();
        QFile& f = *file;
        if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            const QString shown = QDir::toNativeSeparators(out.path);
            throw ReadError(QStringLiteral("Файлът с резултати %1 не може да бъде отворен: %2.")
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
            throw unreadable(out.path, f.errorString());
        refuseNul(bytes, out.path);
    }
    out.setBytes(bytes);
    const int journal = OpenRegular(files, jrn, kJournal);
    if (!out.fileExists && journal < 0)
        return false;
    if (journal >= 0)
        applyJournal(out, readJournal(journal, jrn, out),
                     out.fileExists ? FileFingerprint::of(bytes) : FileFingerprint(), jrn);
    out.index();
    return true;
}

bool LoadMonthPart(const QString& dir, int year, int month, const QSet<QString>& labels, Month& out,
                   const FileAccess& files) {
    start(out, dir, year, month);
    const QString jrn = ResultJournal::pathFor(out.path);
    QSet<QByteArray> wanted; // the labels as the file holds them
    for (const QString& label : labels)
        wanted.insert(Cp1251::encode(label));
    const int fd = OpenRegular(files, out.path, kMonthFile);
    const auto closeFd = qScopeGuard([fd] {
        if (fd >= 0)
            ::close(fd);
    });
    const int journalFd = OpenRegular(files, jrn, kJournal);
    if (fd < 0 && journalFd < 0)
        return false;
    out.fileExists = fd >= 0;
    const ResultJournal::Contents journal =
        journalFd >= 0 ? readJournal(journalFd, jrn, out) : ResultJournal::Contents();
    // Only a journal that may continue the file needs the file's fingerprint.
    const bool mayContinue = journal.headerValid && journal.baseKnown && !journal.records.isEmpty();
    QCryptographicHash md5(QCryptographicHash::Md5);
    qint64 size = 0;
    QByteArray kept, buf;
    qsizetype held = 0; // bytes of an unfinished line at the start of buf
    constexpr qsizetype kChunk = 1 << 20;
    for (bool more = fd >= 0; more;) {
        buf.resize(held + kChunk);
        const ssize_t n = ::read(fd, buf.data() + held, size_t(kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw unreadable(out.path, QString::fromLocal8Bit(std::strerror(errno)));
        }
        more = n > 0;
        const QByteArrayView fresh(buf.constData() + held, n);
        refuseNul(fresh, out.path, size);
        if (mayContinue)
            md5.addData(fresh);
        size += n;
        const QByteArrayView filled(buf.constData(), held + n);
        const qsizetype rest = eachLine(filled, !more, [&](qsizetype at, qsizetype length) {
            const QByteArrayView line = filled.sliced(at, length);
            if (wanted.contains(QByteArray::fromRawData(line.data(), LineLabelSize(line)))) {
                kept += line;
                kept += '\n';
            }
        });
        held = filled.size() - rest;
        std::memmove(buf.data(), buf.constData() + rest, size_t(held));
    }
    out.setBytes(kept);
    if (mayContinue) {
        // The records of other channels would only add lines of their own.
        ResultJournal::Contents theirs = journal;
        theirs.records.removeIf([&](const ResultJournal::Record& r) {
            return !wanted.contains(Cp1251::encode(LineLabel(QString(r.key + u'^'))));
        });
        applyJournal(out, theirs,
                     fd >= 0 ? FileFingerprint{true, size, md5.result().toHex()} : FileFingerprint(), jrn);
    }
    out.index();
    return true;
}

Month MonthOfLines(const QStringList& lines) {
    Month m;
    m.days = 31;
    m.setLines(lines);
    m.index();
    return m;
}

} // namespace monthfile
