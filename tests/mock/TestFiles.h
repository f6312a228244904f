#pragma once
// Small helpers for tests that read and write data files byte for byte.

#include "core/Cp1251.h"

#include <QFile>
#include <QString>
#include <csignal>
#include <sys/resource.h>

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

// A full disk, as seen by this process: files cannot grow beyond `bytes` while it lives (the
// tests run as root, so permissions cannot make a write fail). Writes past it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit l = old_;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() { lift(); }
    void lift() { setrlimit(RLIMIT_FSIZE, &old_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
};
} // namespace testfiles
