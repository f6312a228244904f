#include "ResultJournal.h"

#include "core/AppError.h"
#include "core/Cp1251.h"
#include "core/TextFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kMagic = QStringLiteral("chantest-journal^1^");
const QString kUnknownBase = QStringLiteral("unknown");

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// A short check over a line's body, so that a record torn by a crash is recognised.
QByteArray check(const QByteArray& body) {
    return QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex().left(8);
}

QByteArray sealed(const QString& body) {
    const QByteArray bytes = Cp1251::encode(body);
    return bytes + check(bytes) + "\r\n";
}

// The body of a sealed line (up to and including its last caret), or empty when the check fails.
bool unseal(QByteArrayView line, QByteArray& body) {
    if (line.endsWith('\r'))
        line.chop(1);
    const qsizetype caret = line.lastIndexOf('^');
    if (caret < 0)
        return false;
    body = line.first(caret + 1).toByteArray();
    return line.sliced(caret + 1) == check(body);
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

void SyncDirectory(const QString& dirPath) {
    const int fd = ::open(QFile::encodeName(dirPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

QString ResultJournal::pathFor(const QString& monthPath) {
    QString p = monthPath;
    if (p.endsWith(QStringLiteral(".tst")))
        p.chop(4);
    return p + QStringLiteral(".jrn");
}

ResultJournal::~ResultJournal() {
    close();
}

void ResultJournal::create(const QString& path, const std::optional<FileFingerprint>& base,
                           const std::optional<FileFingerprint>& rewritten) {
    close();
    path_ = path;
    seq_ = 0;
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC,
                 0666); // as every data file: the umask decides
    if (fd_ < 0)
        throw FileError(QStringLiteral("Cannot create file %1. %2").arg(shown(path), errnoText()));
    try {
        QString header = kMagic + (base ? base->toText() : kUnknownBase) + u'^';
        if (base && rewritten && *rewritten != *base)
            header += rewritten->toText() + u'^';
        writeDurably(sealed(header));
    } catch (...) {
        close();
        QFile::remove(path);
        throw;
    }
    SyncDirectory(QFileInfo(path).absolutePath());
}

void ResultJournal::reopen() {
    if (fd_ >= 0)
        return;
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0)
        throw FileError(QStringLiteral("Cannot open file %1. %2").arg(shown(path_), errnoText()));
}

void ResultJournal::append(const Record& r) {
    if (fd_ < 0)
        throw FileError(QStringLiteral("Cannot write file %1.").arg(shown(path_)));
    ++seq_;
    // After a failed write the line may be torn: start afresh so the next record stays readable.
    writeDurably((torn_ ? QByteArray("\r\n") : QByteArray()) +
                 sealed(QString::number(seq_) + u'^' + r.key + u'^' + r.answer + u'^' + r.delay + u'^' +
                        r.stamp + u'^'));
    torn_ = false;
    // Written into a file no folder holds any more (the Results folder removed): on no disk.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_nlink == 0)
        throw FileError(QStringLiteral("Cannot write file %1: it was deleted.").arg(shown(path_)));
}

void ResultJournal::writeDurably(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            torn_ = true;
            throw FileError(QStringLiteral("Cannot write file %1. %2").arg(shown(path_), errnoText()));
        }
        done += n;
    }
    if (::fdatasync(fd_) != 0) {
        torn_ = true;
        throw FileError(QStringLiteral("Cannot write file %1. %2").arg(shown(path_), errnoText()));
    }
}

void ResultJournal::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void ResultJournal::remove() {
    close();
    if (!path_.isEmpty() && QFile::exists(path_)) {
        if (!QFile::remove(path_))
            throw FileError(QStringLiteral("Cannot delete file %1.").arg(shown(path_)));
        SyncDirectory(QFileInfo(path_).absolutePath());
    }
}

namespace {
// "<month file>^" or "<month file>^<the same rewritten>^" after the magic.
bool readHeader(const QString& text, ResultJournal::Contents& c) {
    QStringList fields = text.mid(kMagic.size()).split(u'^');
    fields.removeLast(); // after the closing caret
    if (fields == QStringList{kUnknownBase})
        return true;
    FileFingerprint base, rewritten;
    if (fields.isEmpty() || fields.size() > 2 || !FileFingerprint::fromText(fields[0], base))
        return false;
    rewritten = base;
    if (fields.size() == 2 && !FileFingerprint::fromText(fields[1], rewritten))
        return false;
    c.baseKnown = true;
    c.base = base;
    c.rewritten = rewritten;
    return true;
}

bool readRecord(const QByteArray& body, qint64& lastSeq, QList<ResultJournal::Record>& records) {
    QStringList fields = Cp1251::decode(body).split(u'^');
    fields.removeLast(); // after the closing caret
    if (fields.size() < 5)
        return false;
    bool seqOk = false;
    const qint64 seq = fields[0].toLongLong(&seqOk);
    if (!seqOk || seq <= lastSeq)
        return false; // never the same record twice
    lastSeq = seq;
    ResultJournal::Record r;
    r.stamp = fields.takeLast();
    r.delay = fields.takeLast();
    r.answer = fields.takeLast();
    fields.removeFirst();
    r.key = fields.join(u'^');
    records.append(r);
    return true;
}
} // namespace

QStringList ResultJournal::currentLines(const QString& monthPath) {
    MonthResults month;
    month.load(monthPath);
    const QString journal = pathFor(monthPath);
    if (QFile::exists(journal)) {
        try {
            const Contents c = read(journal);
            if (c.continues(month.loadedFingerprint()))
                for (const Record& r : c.records)
                    month.AddResult(r.key, r.answer, r.delay, r.stamp);
        } catch (const AppError&) {
        }
    }
    return month.lines();
}

ResultJournal::Contents ResultJournal::read(const QString& path) {
    return parse(TextFile::readBytes(path));
}

ResultJournal::Contents ResultJournal::parse(QByteArrayView bytes) {
    Contents c;
    qint64 lastSeq = 0;
    int number = 0;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', start);
        // Without its line end: the line being written when the program stopped.
        const bool torn = end < 0;
        if (torn)
            end = bytes.size();
        const QByteArrayView line = QByteArrayView(bytes).sliced(start, end - start);
        start = end + 1;
        ++number;
        QByteArray body;
        const bool ok = unseal(line, body);
        if (number == 1 && (!ok || body.startsWith(kMagic.toLatin1()))) {
            c.headerValid = ok && readHeader(Cp1251::decode(body), c);
            if (c.headerValid)
                continue;
        } else if (ok && readRecord(body, lastSeq, c.records) && number > 1) {
            continue;
        }
        // Anything else may have been a test, a missing header its base. An empty line (left
        // where a write failed before its first byte) held nothing.
        if (!torn && (number == 1 || !(line.isEmpty() || line == "\r")))
            c.unreadLines.append(number);
    }
    return c;
}

namespace {
QString groupOf(const ResultJournal::Record& r) {
    return r.answer + u'^' + r.delay + u'^' + r.stamp + u'^';
}

// True when taking each record's group off the end of its channel's line, newest first,
// gives back the month file the journal was begun on: the records went in by its own merge.
bool mergedInto(const MonthResults& month, const QList<ResultJournal::Record>& records,
                const FileFingerprint& base) {
    for (const bool dropNewLines : {true, false}) {
        QStringList lines = month.lines();
        const MonthResults index(lines);
        bool ok = true;
        for (qsizetype i = records.size() - 1; ok && i >= 0; --i) {
            const ResultJournal::Record& r = records[i];
            const int at = index.IndexOfChannel(r.key);
            const QString group = groupOf(r);
            ok = at >= 0 && at < lines.size() && lines[at].endsWith(group) && lines[at].size() > group.size();
            if (!ok)
                break;
            lines[at].chop(group.size());
            // A channel the journal brought into the month stands last when its first test goes.
            if (dropNewLines && lines[at] == r.key + u'^' && at == lines.size() - 1)
                lines.removeLast();
        }
        if (!ok)
            return false;
        const QByteArray bytes = TextFile::joinLines(lines);
        if (base.exists ? FileFingerprint::of(bytes) == base : bytes.isEmpty())
            return true;
    }
    return false;
}

enum class Found { None, All, Some };

// Where the records stand in the month file: all of them the last groups of their channels'
// lines (in order), none of them anywhere in those lines, or anything between.
Found findRecords(const MonthResults& month, const QList<ResultJournal::Record>& records) {
    QHash<QString, QString> tails; // key -> its records' groups in journal order
    bool anyThere = false;
    for (const ResultJournal::Record& r : records) {
        tails[r.key] += groupOf(r);
        const int at = month.IndexOfChannel(r.key);
        if (at < 0)
            continue;
        const QStringList fields = month.lines()[at].split(u'^');
        for (qsizetype f = 1; f + 2 < fields.size(); f += 3)
            if (fields[f] == r.answer && fields[f + 1] == r.delay && fields[f + 2] == r.stamp)
                anyThere = true;
    }
    if (!anyThere)
        return Found::None;
    for (auto it = tails.cbegin(); it != tails.cend(); ++it) {
        const int at = month.IndexOfChannel(it.key());
        if (at < 0)
            return Found::Some;
        const QString& line = month.lines()[at];
        const qsizetype rest = line.size() - it.value().size();
        if (!line.endsWith(it.value()) || rest < 1 || line[rest - 1] != u'^')
            return Found::Some;
    }
    return Found::All;
}

// A free name beside the journal that no start-up merge picks up again.
QString asideName(const QString& journalPath, const QString& suffix) {
    QString name = journalPath + suffix;
    for (int n = 2; QFile::exists(name); ++n)
        name = journalPath + suffix + u'-' + QString::number(n);
    return name;
}
} // namespace

namespace {
QString lineNumbers(const QList<int>& lines) {
    QStringList shownLines;
    for (qsizetype i = 0; i < lines.size() && i < 10; ++i)
        shownLines.append(QString::number(lines[i]));
    return shownLines.join(QStringLiteral(", ")) + (lines.size() > 10 ? QStringLiteral(", …") : QString());
}
} // namespace

int ResultJournal::recover(const QString& journalPath, const QString& monthPath) {
    const Contents c = read(journalPath);
    const bool damaged = !c.unreadLines.isEmpty();
    enum { Merge, Drop, KeepAside } what = Drop; // no record: nothing to merge
    MonthResults month;
    if (!c.records.isEmpty()) {
        month.load(monthPath); // an unreadable month file keeps its journal for later
        what = KeepAside;
        if (c.baseKnown) {
            if (month.loadedFingerprint() == c.base)
                what = Merge;
            else if (mergedInto(month, c.records, c.rewritten))
                what = Drop;
        } else {
            switch (findRecords(month, c.records)) {
            case Found::None:
                what = Merge;
                break;
            case Found::All:
                what = Drop;
                break;
            case Found::Some:
                break;
            }
        }
    }
    int merged = 0;
    if (what == Merge) {
        for (const Record& r : c.records)
            month.AddResult(r.key, r.answer, r.delay, r.stamp);
        month.save(monthPath);
        SyncDirectory(QFileInfo(monthPath).absolutePath());
        merged = int(c.records.size());
    }
    if (damaged || what == KeepAside) {
        // Kept after the merge: a crash between the two finds the records in the month file.
        const QString kept =
            asideName(journalPath, damaged ? QStringLiteral(".damaged") : QStringLiteral(".unmerged"));
        if (!QFile::rename(journalPath, kept))
            throw FileError(QStringLiteral("Cannot rename file %1.").arg(shown(journalPath)));
        SyncDirectory(QFileInfo(journalPath).absolutePath());
        const QString jrn = shown(journalPath), tst = shown(monthPath);
        QStringList why;
        if (c.unreadLines == QList<int>{1})
            why << QStringLiteral("Заглавният ред на дневника с резултати %1 е повреден.").arg(jrn);
        else if (c.unreadLines.size() == 1)
            why << QStringLiteral("Ред %1 на дневника с резултати %2 не може да бъде прочетен.")
                       .arg(lineNumbers(c.unreadLines), jrn);
        else if (damaged)
            why << QStringLiteral("Редове %1 на дневника с резултати %2 не могат да бъдат прочетени.")
                       .arg(lineNumbers(c.unreadLines), jrn);
        if (what == Merge)
            why << QStringLiteral("Записите, които могат да бъдат прочетени (%1), са добавени в %2.")
                       .arg(QString::number(merged), tst);
        else if (what == Drop && !c.records.isEmpty())
            why << QStringLiteral("Записите, които могат да бъдат прочетени, вече са в %1.").arg(tst);
        else if (what == Drop)
            why << QStringLiteral("В него няма записи, които могат да бъдат прочетени.");
        else if (c.baseKnown)
            why << QStringLiteral("Месечният файл %2 е променян след началото на дневника с резултати %1 "
                                  "и записите от дневника не могат да бъдат открити в него.")
                       .arg(jrn, tst);
        else
            why << QStringLiteral("Не може да се разбере кои от записите в дневника с резултати %1 вече са в %2.")
                       .arg(jrn, tst);
        throw FileError(why.join(u' ') +
                        QStringLiteral(" Дневникът е запазен като %1; прегледайте го и прибавете липсващите "
                                       "резултати ръчно.")
                            .arg(shown(kept)));
    }
    if (!QFile::remove(journalPath))
        throw FileError(QStringLiteral("Cannot delete file %1.").arg(shown(journalPath)));
    SyncDirectory(QFileInfo(journalPath).absolutePath());
    return merged;
}
