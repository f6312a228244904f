#include "TextFile.h"

#include "AppError.h"
#include "Cp1251.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}
} // namespace

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
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot open file %1. %2").arg(shown(path), f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileError(QStringLiteral("Cannot read file %1. %2").arg(shown(path), f.errorString()));
    return splitLines(bytes);
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
    QSaveFile f(path);
    // Unbuffered: the bytes reach the kernel inside write(), so a full disk is seen there. A
    // buffered write that only fails in commit()'s own flush is not reported by commit(), which
    // would put a truncated file in place of the old one.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileError(QStringLiteral("Cannot create file %1. %2").arg(shown(path), f.errorString()));
    if (f.write(bytes) != bytes.size() || f.error() != QFileDevice::NoError ||
        (durable && ::fdatasync(f.handle()) != 0))
        throw FileError(QStringLiteral("Cannot create file %1. %2")
                            .arg(shown(path), f.error() != QFileDevice::NoError
                                                  ? f.errorString()
                                                  : QString::fromLocal8Bit(std::strerror(errno))));
    if (!f.commit())
        throw FileError(QStringLiteral("Cannot create file %1. %2").arg(shown(path), f.errorString()));
}
