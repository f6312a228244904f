#include "ReportMonth.h"

#include "engine/MonthResults.h"
#include "engine/ResultJournal.h"
#include "shell/AppError.h"
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

QVector<results::ResultGroup> Month::groups(int channel) const {
    QVector<results::ResultGroup> gs = results::ResultGroups(lines[channels[channel]]);
    gs.removeIf([this](const results::ResultGroup& g) { return g.day > days; });
    return gs;
}

int Month::latestDay() const {
    int latest = 0;
    for (int c = 0; c < channels.size(); ++c)
        for (const results::ResultGroup& g : groups(c))
            latest = std::max(latest, g.day);
    return latest;
}

QDateTime TestTime(const Month& m, const results::ResultGroup& g) {
    int hh = -1, nn = -1;
    if (!results::ParseInt(g.timestamp.mid(6, 2), hh) || !results::ParseInt(g.timestamp.mid(8, 2), nn) || hh < 0 ||
        hh > 23 || nn < 0 || nn > 59)
        hh = nn = 0;
    return QDateTime(m.date(g.day), QTime(hh, nn));
}

QDateTime Month::latestTest() const {
    QDateTime latest;
    for (int c = 0; c < channels.size(); ++c)
        for (const results::ResultGroup& g : groups(c)) {
            const QDateTime t = TestTime(*this, g);
            if (!latest.isValid() || t > latest)
                latest = t;
        }
    return latest;
}

namespace {
// The channels: the first line of every label, as the results page ties rows to lines. A line
// without " --> " has no label and belongs to no channel.
void indexChannels(Month& m) {
    QSet<QString> seen;
    seen.reserve(m.lines.size());
    for (int i = 0; i < m.lines.size(); ++i) {
        const QString label = results::ChannelLabel(m.lines[i]);
        if (label.isEmpty() || seen.contains(label))
            continue;
        seen.insert(label);
        m.channels.append(i);
    }
}

void applyJournal(Month& m, const ResultJournal::Contents& j, const FileFingerprint& base) {
    if (!j.headerValid || j.base != base || j.records.isEmpty())
        return;
    MonthResults month(std::move(m.lines));
    for (const ResultJournal::Record& r : j.records)
        month.AddResult(r.key, r.answer, r.delay, r.stamp);
    m.lines = month.lines();
    m.journalRecords = int(j.records.size());
}
} // namespace

void BuildMonth(Month& out, const QByteArray& monthBytes, bool monthExists, const QByteArray& journalBytes) {
    out.fileExists = monthExists;
    out.lines = monthExists ? TextFile::splitLines(monthBytes) : QStringList();
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
    QFile f(out.path);
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
        bytes = f.readAll();
        if (f.error() != QFileDevice::NoError)
            throw ReportError(QStringLiteral("Файлът с резултати %1 не може да бъде прочетен: %2.")
                                  .arg(shown, f.errorString()),
                              QStringLiteral("cannot read %1").arg(shown));
    }
    out.lines = out.fileExists ? TextFile::splitLines(bytes) : QStringList();
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
