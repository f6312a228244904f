#pragma once
// Small helpers for tests that read and write data files byte for byte.

#include "shell/Cp1251.h"

#include <QFile>
#include <QString>

namespace testfiles {
inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}
inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}
// Text in Windows-1251, as the program's files hold it.
inline void writeText(const QString& path, const QString& text) {
    writeBytes(path, Cp1251::encode(text));
}
inline QString readText(const QString& path) {
    return Cp1251::decode(readBytes(path));
}
} // namespace testfiles
