#include "FolderLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FolderLock::~FolderLock() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock; the file stays for the next holder
}

FolderLock::Outcome FolderLock::take(const QString& dir, Holder self) {
    const QByteArray path = QFile::encodeName(QDir(dir).filePath(QString::fromLatin1(kFileName)));
    // Group-writable, so that the operators of a service's folder take it too.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return Outcome::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        char text[64] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        ::close(fd);
        if (!busy)
            return Outcome::Unavailable;
        const QList<QByteArray> words = QByteArray(text, n > 0 ? n : 0).trimmed().split(' ');
        holder_ = words.value(0) == "service" ? Holder::Service : Holder::Window;
        holderPid_ = words.value(1).toLongLong();
        return Outcome::HeldByOther;
    }
    const QByteArray text = (self == Holder::Service ? QByteArray("service ") : QByteArray("window ")) +
                            QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    // Held all the same when the note cannot be written; only its word for others is missing.
    [[maybe_unused]] const bool noted =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.constData(), size_t(text.size()), 0) == text.size();
    fd_ = fd;
    holder_ = self;
    holderPid_ = QCoreApplication::applicationPid();
    return Outcome::Taken;
}
