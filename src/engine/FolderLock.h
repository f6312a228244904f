#pragma once
// One scheduler per working folder: the window and the service take the same lock, a hidden
// file in the folder held with flock(2) while the process lives. A lock whose process is gone
// is free again by itself; the file names its holder for the one that finds it taken.

#include <QString>

class FolderLock {
public:
    enum class Holder { Window, Service };
    enum class Outcome { Taken, HeldByOther, Unavailable };
    static constexpr const char* kFileName = ".chantest.lock";

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock of `dir` for `self`. HeldByOther: another live process holds it (see
    // holder() and holderPid()); Unavailable: the lock file cannot be made (error() says why).
    Outcome take(const QString& dir, Holder self);
    bool held() const { return fd_ >= 0; }
    Holder holder() const { return holder_; }
    qint64 holderPid() const { return holderPid_; }
    const QString& error() const { return error_; }

private:
    int fd_ = -1;
    Holder holder_ = Holder::Window;
    qint64 holderPid_ = 0;
    QString error_;
};
