#include "ResultJournal.h"

#include "shell/AppError.h"
#include "shell/Cp1251.h"
#include "shell/TextFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QString kMagic = QStringLiteral("chantest-journal^1^");

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

void ResultJournal::create(const QString& path, const FileFingerprint& base) {
    close();
    path_ = path;
    seq_ = 0;
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC,
                 0644);
    if (fd_ < 0)
        throw FileError(QStringLiteral("Cannot create file %1. %2").arg(shown(path), errnoText()));
    try {
        writeDurably(sealed(kMagic + base.toText() + u'^'));
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

ResultJournal::Contents ResultJournal::read(const QString& path) {
    Contents c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot open file %1. %2").arg(shown(path), f.errorString()));
    const QByteArray bytes = f.readAll();
    qsizetype start = 0;
    qint64 lastSeq = 0;
    bool first = true;
    while (start < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', start);
        if (lf < 0)
            break; // torn last line: the record being written when the program stopped
        const QByteArrayView line = QByteArrayView(bytes).sliced(start, lf - start);
        start = lf + 1;
        QByteArray body;
        const bool ok = unseal(line, body);
        if (first) {
            first = false;
            const QString text = Cp1251::decode(body);
            if (!ok || !text.startsWith(kMagic))
                return c;
            QString fp = text.mid(kMagic.size());
            fp.chop(1);
            if (!FileFingerprint::fromText(fp, c.base))
                return c;
            c.headerValid = true;
            continue;
        }
        if (!ok)
            continue;
        QStringList fields = Cp1251::decode(body).split(u'^');
        fields.removeLast(); // after the closing caret
        if (fields.size() < 5)
            continue;
        bool seqOk = false;
        const qint64 seq = fields[0].toLongLong(&seqOk);
        if (!seqOk || seq <= lastSeq)
            continue; // never the same record twice
        lastSeq = seq;
        Record r;
        r.stamp = fields.takeLast();
        r.delay = fields.takeLast();
        r.answer = fields.takeLast();
        fields.removeFirst();
        r.key = fields.join(u'^');
        c.records.append(r);
    }
    return c;
}

int ResultJournal::recover(const QString& journalPath, const QString& monthPath) {
    const Contents c = read(journalPath);
    if (!c.headerValid && !c.records.isEmpty()) {
        // Cannot tell whether the records were merged: keep them for the operator.
        const QString kept = journalPath + QStringLiteral(".damaged");
        QFile::remove(kept);
        QFile::rename(journalPath, kept);
        throw FileError(QStringLiteral("Дневникът с резултати %1 е повреден; запазен е като %2.")
                            .arg(shown(journalPath), shown(kept)));
    }
    int merged = 0;
    if (c.headerValid && !c.records.isEmpty()) {
        MonthResults month;
        month.load(monthPath);
        if (month.loadedFingerprint() == c.base) {
            for (const Record& r : c.records)
                month.AddResult(r.key, r.answer, r.delay, r.stamp);
            month.save(monthPath);
            SyncDirectory(QFileInfo(monthPath).absolutePath());
            merged = int(c.records.size());
        }
    }
    if (!QFile::remove(journalPath))
        throw FileError(QStringLiteral("Cannot delete file %1.").arg(shown(journalPath)));
    SyncDirectory(QFileInfo(journalPath).absolutePath());
    return merged;
}
