#include "ReportMonth.h"

#include "engine/MonthResults.h"
#include "engine/ResultJournal.h"
#include "shell/AppError.h"
#include "shell/Cp1251.h"
#include "shell/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

namespace report {

ChannelParts SplitKey(QStringView key) {
    ChannelParts p;
    QStringView head = key;
    const qsizetype arrow = key.indexOf(u" --> ");
    if (arrow >= 0) {
        p.dial = key.mid(arrow + 5).toString();
        head = key.left(arrow);
    }
    if (head.endsWith(u" Ch."))
        head.chop(4);
    const qsizetype dash = head.indexOf(u" -- ");
    if (dash < 0) {
        p.direction = head.toString();
        return p;
    }
    p.direction = head.left(dash).toString();
    const QStringView rest = head.mid(dash + 4);
    const qsizetype gap = rest.indexOf(u"  ");
    if (gap < 0) {
        p.exchange = rest.toString();
        return p;
    }
    p.exchange = rest.left(gap).toString();
    p.channel = rest.mid(gap + 2).toString();
    return p;
}

QString ChannelTests::key() const {
    const qsizetype caret = line.indexOf(u'^');
    return caret < 0 ? line : line.left(caret);
}

QString ChannelTests::label() const {
    return results::ChannelLabel(line).trimmed();
}

void Month::setBytes(QByteArray bytes) {
    // Lines end at LF with a CR before it dropped, and a last line without a line end is a line,
    // as the file layer splits them.
    bytes_ = std::move(bytes);
    decoded_ = false;
    lines_.clear();
    spans_.clear();
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

void Month::setLines(QStringList lines) {
    bytes_.clear();
    spans_.clear();
    lines_ = std::move(lines);
    decoded_ = true;
}

QString Month::line(int i) const {
    return decoded_ ? lines_[i] : Cp1251::decode(QByteArrayView(bytes_).sliced(spans_[i].first, spans_[i].second));
}

ChannelTests Month::tests(int channel) const {
    ChannelTests t;
    t.line = line(channels[channel]);
    t.groups = results::ResultGroups(t.line);
    t.groups.removeIf([this](const results::ResultGroup& g) { return g.day > days; });
    return t;
}

namespace {
// Minutes into the month of a test (hours and minutes that are not a time count as 00:00).
int minuteOf(const results::ResultGroup& g) {
    int hh = -1, nn = -1;
    if (!results::ParseInt(g.timestamp.mid(6, 2), hh) || !results::ParseInt(g.timestamp.mid(8, 2), nn) || hh < 0 ||
        hh > 23 || nn < 0 || nn > 59)
        hh = nn = 0;
    return (g.day * 24 + hh) * 60 + nn;
}
QDateTime atMinute(const Month& m, int minute) {
    return QDateTime(m.date(minute / (24 * 60)), QTime(minute / 60 % 24, minute % 60));
}
} // namespace

QDateTime TestTime(const Month& m, const results::ResultGroup& g) {
    return atMinute(m, minuteOf(g));
}

void Month::scan() const {
    if (latestDay_ >= 0)
        return;
    latestDay_ = 0;
    for (int c = 0; c < channels.size(); ++c)
        for (const results::ResultGroup& g : tests(c).groups) {
            latestDay_ = std::max(latestDay_, g.day);
            latestMinute_ = std::max(latestMinute_, minuteOf(g));
        }
}

int Month::latestDay() const {
    scan();
    return latestDay_;
}

QDateTime Month::latestTest() const {
    scan();
    return latestMinute_ < 0 ? QDateTime() : atMinute(*this, latestMinute_);
}

namespace {
// The channels: the first line of every label, as the results page ties rows to lines. A line
// without " --> " has no label and belongs to no channel.
void indexChannels(Month& m) {
    QSet<QString> seen;
    seen.reserve(m.lineCount());
    m.channels.clear();
    for (int i = 0; i < m.lineCount(); ++i) {
        const QString label = results::ChannelLabel(m.line(i));
        if (label.isEmpty() || seen.contains(label))
            continue;
        seen.insert(label);
        m.channels.append(i);
    }
}

void applyJournal(Month& m, const ResultJournal::Contents& j, const FileFingerprint& base) {
    if (!j.headerValid || j.base != base || j.records.isEmpty())
        return;
    QStringList lines;
    lines.reserve(m.lineCount());
    for (int i = 0; i < m.lineCount(); ++i)
        lines.append(m.line(i));
    MonthResults month(std::move(lines));
    for (const ResultJournal::Record& r : j.records)
        month.AddResult(r.key, r.answer, r.delay, r.stamp);
    m.setLines(month.lines());
    m.journalRecords = int(j.records.size());
}
} // namespace

void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes) {
    out.fileExists = monthExists;
    out.setBytes(monthExists ? monthBytes : QByteArray());
    out.days = results::DaysInMonth(out.year, out.month);
    if (!journalBytes.isEmpty()) {
        // The journal reader takes a path: the bytes go through a private temporary file.
        QTemporaryFile f;
        if (f.open() && f.write(journalBytes) == journalBytes.size() && f.flush())
            applyJournal(out, ResultJournal::read(f.fileName()),
                         monthExists ? FileFingerprint::of(monthBytes) : FileFingerprint());
    }
    indexChannels(out);
}

bool LoadMonth(const QString& dir, int year, int month, Month& out) {
    out = {};
    out.year = year;
    out.month = month;
    out.days = results::DaysInMonth(year, month);
    out.path = results::MonthFileName(dir, year, month);
    const QString jrn = ResultJournal::pathFor(out.path);
    const QString shown = QDir::toNativeSeparators(out.path);
    auto file = std::make_shared<QFile>(out.path);
    QFile& f = *file;
    out.fileExists = f.exists();
    const bool journalExists = QFileInfo(jrn).isFile();
    if (!out.fileExists && !journalExists)
        return false;
    QByteArray bytes;
    if (out.fileExists) {
        if (QFileInfo(out.path).isDir() || !f.open(QIODevice::ReadOnly))
            throw ReportError(QStringLiteral("Файлът с резултати %1 не може да бъде отворен: %2.")
                                  .arg(shown, f.errorString()),
                              QStringLiteral("cannot read %1").arg(shown));
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
    }
    out.setBytes(bytes);
    if (journalExists) {
        try {
            applyJournal(out, ResultJournal::read(jrn),
                         out.fileExists ? FileFingerprint::of(bytes) : FileFingerprint());
            if (out.journalRecords > 0)
                out.journalPath = jrn;
        } catch (const AppError&) {
            // The month file still answers; the journal only adds the tests of a run going on.
            out.warning = QStringLiteral("Дневникът %1 не може да бъде прочетен; тестовете в него не са включени.")
                              .arg(QDir::toNativeSeparators(jrn));
        }
    }
    indexChannels(out);
    return true;
}

} // namespace report
