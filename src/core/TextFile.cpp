#include "TextFile.h"

#include "AppError.h"
#include "Cp1251.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString failingRead; // absolute; empty: none

// "<file>.<pid>-<8 hex digits>.chantest-tmp"
const QString kTempSuffix = QStringLiteral(".chantest-tmp");

// Older than any write still at work, even on a slow or shared disk.
constexpr qint64 kStaleAfterSecs = 10 * 60;
} // namespace

QByteArray TextFile::readBytes(const QString& path) {
    if (!failingRead.isEmpty() && QFileInfo(path).absoluteFilePath() == failingRead)
        throw FileError(QStringLiteral("Cannot read file %1. %2").arg(shown(path), errnoText(EIO)));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot open file %1. %2").arg(shown(path), f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileError(QStringLiteral("Cannot read file %1. %2").arg(shown(path), f.errorString()));
    return bytes;
}

void TextFile::failReadsOf(const QString& path) {
    failingRead = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

QStringList TextFile::splitLines(QByteArrayView bytes) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        qsizetype lf = bytes.indexOf('\n', start);
        qsizetype end = lf < 0 ? n : lf;
        qsizetype stop = end;
        if (lf >= 0 && stop > start && bytes[stop - 1] == '\r')
            --stop;
        lines.append(Cp1251::decode(bytes.sliced(start, stop - start)));
        if (lf < 0)
            break;
        start = lf + 1;
    }
    return lines;
}

QStringList TextFile::readLines(const QString& path) {
    return splitLines(readBytes(path));
}

QString TextFile::readFirstLine(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot open file %1. %2").arg(shown(path), f.errorString()));
    const QByteArray line = f.readLine(1 << 20);
    if (f.error() != QFileDevice::NoError)
        throw FileError(QStringLiteral("Cannot read file %1. %2").arg(shown(path), f.errorString()));
    const QStringList lines = splitLines(line);
    return lines.isEmpty() ? QString() : lines.first();
}

QByteArray TextFile::joinLines(const QStringList& lines) {
    qsizetype size = 0;
    for (const QString& l : lines)
        size += l.size() + 2;
    QByteArray out;
    out.reserve(size);
    for (const QString& l : lines) {
        out += Cp1251::encode(l);
        out += "\r\n";
    }
    return out;
}

void TextFile::writeLines(const QString& path, const QStringList& lines) {
    writeBytes(path, joinLines(lines));
}

void TextFile::writeBytes(const QString& path, const QByteArray& bytes, bool durable) {
    // A link stays a link: the file it names is replaced.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    const auto failed = [&path](int err) {
        return FileError(QStringLiteral("Cannot create file %1. %2").arg(shown(path), errnoText(err)));
    };
    QByteArray temp;
    int fd = -1;
    for (int tries = 0; fd < 0; ++tries) {
        temp = QFile::encodeName(temporaryPath(target, ::getpid()));
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || tries == 20))
            throw failed(errno);
    }
    int err = 0;
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777); // the file keeps its permissions
    // Written straight to the kernel, so a full disk is seen here and the old file stays.
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += n;
    }
    if (!err && durable && ::fdatasync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && ::rename(temp.constData(), QFile::encodeName(target).constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.constData());
        throw failed(err);
    }
}

QString TextFile::temporaryPath(const QString& path, qint64 pid) {
    return path + u'.' + QString::number(pid) + u'-' +
           QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0')) + kTempSuffix;
}

int TextFile::removeStaleTemporaries(const QString& dir) {
    static const QRegularExpression own(QStringLiteral("^.+\\.(\\d{1,9})-[0-9a-f]{8}") +
                                        QRegularExpression::escape(kTempSuffix) + u'$');
    // The file system's own time: the ages are those of files, not of the program's clock.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int removed = 0;
    const QDir d(dir);
    for (const QFileInfo& f : d.entryInfoList({u'*' + kTempSuffix}, QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch m = own.match(f.fileName());
        if (!m.hasMatch())
            continue;
        // The pid says whether its writer lives on this machine; the age covers a folder shared
        // with another machine, whose pids mean nothing here.
        const pid_t pid = pid_t(m.captured(1).toInt());
        const bool gone = pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
        if (gone && f.lastModified().secsTo(now) > kStaleAfterSecs && QFile::remove(f.filePath()))
            ++removed;
    }
    return removed;
}
