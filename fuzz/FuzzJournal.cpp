// Fuzzing of the results journal: a journal (and the month file beside it) read, merged by
// the start-up recovery and merged again, which must change nothing.
//
// Input: one mode byte, then the journal; a form feed, if any, ends the journal and the bytes
// after it are the month file. Mode bits: 1 re-seal every line (a mutated record keeps a valid
// check and is read), 2 rewrite the header to name the month file as it is, 4 no month file,
// 8 merge through RecoverJournalsIn instead of ResultJournal::recover.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "monthfile/MonthResults.h"
#include "monthfile/ResultJournal.h"
#include "monthfile/RunResults.h"
#include "core/AppError.h"
#include "core/Cp1251.h"
#include "core/TextFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <optional>

namespace fuzz {

namespace {
const QByteArray kMagic = "chantest-journal^1^";

QByteArray checkOf(QByteArrayView body) {
    return QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex().left(8);
}

// Every complete line given the check of its body (up to its last caret).
QByteArray resealed(QByteArrayView journal) {
    QByteArray out;
    qsizetype start = 0;
    while (start < journal.size()) {
        const qsizetype lf = journal.indexOf('\n', start);
        if (lf < 0) {
            out += journal.sliced(start); // a torn line stays torn
            break;
        }
        QByteArrayView line = journal.sliced(start, lf - start);
        start = lf + 1;
        const bool cr = line.endsWith('\r');
        if (cr)
            line.chop(1);
        const qsizetype caret = line.lastIndexOf('^');
        if (caret < 0) {
            out += line;
        } else {
            out += line.first(caret + 1);
            out += checkOf(line.first(caret + 1));
        }
        out += cr ? "\r\n" : "\n";
    }
    return out;
}

// The header the program writes for the month file `month` (none: no file).
QByteArray withHeader(QByteArrayView journal, const std::optional<QByteArray>& month) {
    const FileFingerprint base = month ? FileFingerprint::of(*month) : FileFingerprint();
    QByteArray body = kMagic + base.toText().toLatin1() + '^';
    const FileFingerprint rewritten =
        month ? FileFingerprint::of(TextFile::joinLines(TextFile::splitLines(*month))) : FileFingerprint();
    if (rewritten != base)
        body += rewritten.toText().toLatin1() + '^';
    const qsizetype lf = journal.indexOf('\n');
    return body + checkOf(body) + "\r\n" + (lf < 0 ? QByteArray() : journal.sliced(lf + 1).toByteArray());
}

// What the journal holds, found independently of the reader: the header, the sealed records
// after it whose sequence numbers rise, and the lines that are neither. A last line without its
// line end counts when it is a whole record and is never an unread line.
struct Expected {
    bool headerValid = false;
    bool baseKnown = false;
    FileFingerprint base, rewritten;
    QList<ResultJournal::Record> records;
    QList<int> unread;
};

Expected expectedOf(QByteArrayView journal) {
    Expected e;
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype lf; (lf = journal.indexOf('\n', start)) >= 0; start = lf + 1)
        lines.append(journal.sliced(start, lf - start));
    const bool tornLast = start < journal.size();
    if (tornLast)
        lines.append(journal.sliced(start));
    auto bodyOf = [](QByteArrayView line) -> std::optional<QByteArrayView> {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype caret = line.lastIndexOf('^');
        if (caret < 0 || line.sliced(caret + 1) != checkOf(line.first(caret + 1)))
            return std::nullopt;
        return line.first(caret + 1);
    };
    qint64 last = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool torn = tornLast && i == lines.size() - 1;
        const auto body = bodyOf(lines[i]);
        bool taken = false;
        if (i == 0 && (!body || body->startsWith(kMagic))) {
            // "<fingerprint>^" or "<fingerprint>^<rewritten>^", or "unknown^".
            QStringList f = body ? Cp1251::decode(body->sliced(kMagic.size())).split(u'^') : QStringList();
            if (!f.isEmpty())
                f.removeLast();
            FileFingerprint b, r;
            if (f == QStringList{QStringLiteral("unknown")}) {
                taken = true;
            } else if ((f.size() == 1 || f.size() == 2) && FileFingerprint::fromText(f[0], b) &&
                       FileFingerprint::fromText(f.value(1, f[0]), r)) {
                taken = e.baseKnown = true;
                e.base = b;
                e.rewritten = r;
            }
            e.headerValid = taken;
        } else if (body) {
            // A sealed first line that is no header at all is a record, the header still missing.
            QStringList f = Cp1251::decode(*body).split(u'^');
            f.removeLast();
            bool ok = false;
            const qint64 seq = f.value(0).toLongLong(&ok);
            if (f.size() >= 5 && ok && seq > last) {
                last = seq;
                const qsizetype n = f.size();
                e.records.append({f.mid(1, n - 4).join(u'^'), f[n - 3], f[n - 2], f[n - 1]});
                taken = i > 0;
            }
        }
        const bool blank = lines[i].isEmpty() || lines[i] == "\r";
        if (!taken && !torn && (i == 0 || !blank))
            e.unread.append(int(i) + 1);
    }
    return e;
}

std::optional<QByteArray> contentsOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

// The line the merge adds a record to: the first whose field 0 is the key (a line without a
// caret has an empty key, so an empty key goes to the first such line), else a new line at the end.
QString keyOf(const QString& line) {
    const qsizetype caret = line.indexOf(u'^');
    return caret < 0 ? QString() : line.left(caret);
}

// Every record's test on the line of its key, after the text the line had, the last one of a
// line at its end; the other lines as they were.
void checkMerged(const QStringList& before, const QList<ResultJournal::Record>& records,
                 const QByteArray& after) {
    QStringList prefix = before; // what each line starts with after the merge
    QHash<QString, int> first;
    for (int i = int(before.size()) - 1; i >= 0; --i)
        first.insert(keyOf(before[i]), i);
    QList<int> lineOf;
    QHash<int, int> lastOn; // line -> last record on it
    for (int r = 0; r < records.size(); ++r) {
        const QString& key = records[r].key;
        auto it = first.find(key);
        int at;
        if (it != first.end()) {
            at = *it;
        } else {
            at = int(prefix.size());
            prefix.append(key);
            const QString found = keyOf(key + u'^'); // a key holding a caret is found by its first field
            if (!first.contains(found))
                first.insert(found, at);
        }
        lineOf.append(at);
        lastOn.insert(at, r);
    }
    const QStringList merged = TextFile::splitLines(after);
    FUZZ_CHECK(merged.size() == prefix.size(),
               "the merged month file has" + show(merged.size()) + " lines, not" + show(prefix.size()));
    for (int i = 0; i < merged.size(); ++i) {
        FUZZ_CHECK(merged[i].startsWith(prefix[i]), "the merge changed a line's text " + show(merged[i]));
        if (!lastOn.contains(i))
            FUZZ_CHECK(merged[i] == prefix[i], "a line without records changed " + show(merged[i]));
    }
    for (int r = 0; r < records.size(); ++r) {
        const ResultJournal::Record& rec = records[r];
        const QString group = u'^' + rec.answer + u'^' + rec.delay + u'^' + rec.stamp + u'^';
        const QString& line = merged[lineOf[r]];
        // The group's leading caret may be the one that closed the line before.
        const qsizetype from = std::max<qsizetype>(0, prefix[lineOf[r]].size() - 1);
        FUZZ_CHECK(line.indexOf(group, from) >= 0,
                   "record" + show(r) + " is not on the line of its key " + show(line));
        if (lastOn.value(lineOf[r]) == r)
            FUZZ_CHECK(line.endsWith(group), "the last record of a line is not at its end " + show(line));
    }
}
} // namespace

void journal(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    const QByteArrayView rest = in.rest();
    const qsizetype ff = rest.indexOf('\f');
    QByteArray jrn = (ff < 0 ? rest : rest.first(ff)).toByteArray();
    const bool hasMonth = !(mode & 4);
    const QByteArray month = hasMonth && ff >= 0 ? rest.sliced(ff + 1).toByteArray() : QByteArray();
    if (mode & 1)
        jrn = resealed(jrn);
    if (mode & 2)
        jrn = withHeader(jrn, hasMonth ? std::optional(month) : std::nullopt);

    // tmpfs where there is one: every merge syncs the disk.
    const QString base = QDir(QStringLiteral("/dev/shm")).exists()
                             ? QStringLiteral("/dev/shm/chantest-fuzz-XXXXXX")
                             : QDir::tempPath() + "/chantest-fuzz-XXXXXX";
    QTemporaryDir dir(base);
    FUZZ_CHECK(dir.isValid(), "no temporary folder");
    const QString jpath = dir.filePath(QStringLiteral("2405.jrn"));
    const QString mpath = dir.filePath(QStringLiteral("2405.tst"));
    TextFile::writeBytes(jpath, jrn);
    if (hasMonth)
        TextFile::writeBytes(mpath, month);

    // The reader: records only under a valid header, each sealed record once, in rising sequence.
    const ResultJournal::Contents c = ResultJournal::read(jpath);
    const Expected e = expectedOf(jrn);
    FUZZ_CHECK(c.headerValid == e.headerValid, "header validity");
    FUZZ_CHECK(c.baseKnown == e.baseKnown, "whether the header names its month file");
    FUZZ_CHECK(!c.baseKnown || (c.base == e.base && c.rewritten == e.rewritten), "the header's fingerprints");
    FUZZ_CHECK(c.unreadLines == e.unread, "the lines that could not be read");
    if (mode & 2)
        FUZZ_CHECK(c.baseKnown, "a header written as the program writes it does not read back");
    FUZZ_CHECK(c.records.size() == e.records.size(),
               "read" + show(c.records.size()) + " records, the journal holds" + show(e.records.size()));
    for (qsizetype i = 0; i < c.records.size(); ++i) {
        const ResultJournal::Record& r = c.records[i];
        FUZZ_CHECK(r == e.records[i], "record" + show(i) + " read as " + show(r.key + u'|' + r.answer));
        FUZZ_CHECK(!r.answer.contains(u'^') && !r.delay.contains(u'^') && !r.stamp.contains(u'^'),
                   "a record field holds a caret");
    }

    // The merge: a journal naming the month file as it is goes into it whole. Any other is merged
    // whole, dropped only with every record on its channel's line already, or set aside. One with
    // a line that could not be read is always set aside, after its records were merged or not.
    const FileFingerprint now = hasMonth ? FileFingerprint::of(month) : FileFingerprint();
    const bool applies = c.baseKnown && c.base == now;
    const bool damaged = !e.unread.isEmpty();
    const std::optional<QByteArray> unchanged = hasMonth ? std::optional(month) : std::nullopt;
    int merged = -1;
    bool raised = false;
    try {
        merged = (mode & 8) ? RecoverJournalsIn(dir.path()) : ResultJournal::recover(jpath, mpath);
    } catch (const AppError&) {
        raised = true;
    }
    const std::optional<QByteArray> after = contentsOf(mpath);
    FUZZ_CHECK(!QFile::exists(jpath), "the journal is left after its merge");
    if (raised) {
        FUZZ_CHECK(damaged || (!c.records.isEmpty() && !applies), "a journal that applies was refused");
        FUZZ_CHECK(contentsOf(jpath + (damaged ? QStringLiteral(".damaged") : QStringLiteral(".unmerged"))) == jrn,
                   "the merge failed without keeping the journal");
        if (after != unchanged) {
            FUZZ_CHECK(damaged, "a journal kept unmerged changed the month file");
            checkMerged(TextFile::splitLines(month), c.records, after.value_or(QByteArray()));
        } else {
            FUZZ_CHECK(!applies || c.records.isEmpty(), "a damaged journal that applies was not merged");
        }
    } else {
        FUZZ_CHECK(!damaged, "a journal with a line that could not be read was deleted");
        FUZZ_CHECK(merged == 0 || merged == c.records.size(), "merged" + show(merged) + " records, not all");
        if (applies)
            FUZZ_CHECK(merged == c.records.size(),
                       "merged" + show(merged) + " records of a journal that applies");
        if (merged == 0) {
            FUZZ_CHECK(after == unchanged, "a journal dropped unmerged changed the month file");
            // Dropped: every record is on the line of its channel already.
            const QStringList lines = hasMonth ? TextFile::splitLines(month) : QStringList();
            for (const ResultJournal::Record& r : c.records) {
                const QString group = u'^' + r.answer + u'^' + r.delay + u'^' + r.stamp + u'^';
                qsizetype at = 0;
                while (at < lines.size() && keyOf(lines[at]) != r.key)
                    ++at;
                FUZZ_CHECK(at < lines.size() && lines[at].contains(group),
                           "a journal was dropped with a record the month file does not hold " + show(r.key));
            }
        } else {
            FUZZ_CHECK(after.has_value(), "the merge left no month file");
            checkMerged(TextFile::splitLines(month), c.records, *after);
        }
    }

    // A second start finds nothing to merge and leaves the month file as it is.
    int again = -1;
    try {
        again = RecoverJournalsIn(dir.path());
    } catch (const AppError& err) {
        FUZZ_CHECK(false, "the second merge raised " + show(err.text()));
    }
    FUZZ_CHECK(again == 0, "the second merge merged" + show(again) + " records");
    FUZZ_CHECK(contentsOf(mpath) == after, "the second merge changed the month file");
}

} // namespace fuzz
