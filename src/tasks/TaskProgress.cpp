#include "TaskProgress.h"

#include "core/AppError.h"
#include "core/Cp1251.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
QString failure(const QString& what, const QString& path) {
    return QStringLiteral("%1 %2. %3").arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

QStringList TaskProgress::remaining(const QStringList& channels, const QString& taskFile) {
    const QString path = pathFor(taskFile);
    if (!QFile::exists(path))
        return channels;
    QHash<QString, int> done;
    for (const QString& line : TextFile::readLines(path))
        ++done[line];
    QStringList out;
    out.reserve(channels.size());
    for (const QString& c : channels) {
        auto it = done.find(c);
        if (it != done.end() && it.value() > 0)
            --it.value();
        else
            out.append(c);
    }
    return out;
}

bool TaskProgress::exists(const QString& taskFile) {
    return QFile::exists(pathFor(taskFile));
}

bool TaskProgress::remove(const QString& taskFile) {
    const QString path = pathFor(taskFile);
    return !QFile::exists(path) || QFile::remove(path);
}

TaskProgress::~TaskProgress() {
    close();
}

void TaskProgress::open(const QString& taskFile, bool resume) {
    close();
    path_ = pathFor(taskFile);
    // A line torn by a crash is completed, so the next one stays whole.
    bool torn = false;
    if (resume) {
        QFile f(path_);
        if (f.open(QIODevice::ReadOnly) && f.size() > 0 && f.seek(f.size() - 1)) {
            char c = 0;
            torn = f.getChar(&c) && c != '\n';
        }
    }
    fd_ = ::open(QFile::encodeName(path_).constData(),
                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (resume ? 0 : O_TRUNC), 0666);
    if (fd_ < 0)
        throw FileError(failure(QStringLiteral("Cannot create file"), path_));
    if (torn && ::write(fd_, "\r\n", 2) != 2) {
        close();
        throw FileError(failure(QStringLiteral("Cannot write file"), path_));
    }
}

void TaskProgress::append(const QString& channelLine) {
    if (fd_ < 0)
        throw FileError(QStringLiteral("Cannot write file %1.").arg(QDir::toNativeSeparators(path_)));
    const QByteArray bytes = Cp1251::encode(channelLine) + "\r\n";
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw FileError(failure(QStringLiteral("Cannot write file"), path_));
        done += n;
    }
    if (::fdatasync(fd_) != 0)
        throw FileError(failure(QStringLiteral("Cannot write file"), path_));
}

void TaskProgress::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
