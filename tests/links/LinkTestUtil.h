#pragma once
// Helpers for the link tests: a socat pseudo-terminal pair, a raw peer end, the simulator.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace linktest {

// Two connected pseudo-terminals, <dir>/a and <dir>/b, made by socat.
class PtyPair {
public:
    bool start() {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(QStringLiteral("socat"), {QStringLiteral("-d"), QStringLiteral("-d"),
                                             QStringLiteral("pty,raw,echo=0,link=%1").arg(a()),
                                             QStringLiteral("pty,raw,echo=0,link=%1").arg(b())});
        if (!proc.waitForStarted())
            return false;
        for (int i = 0; i < 500 && !(QFile::exists(a()) && QFile::exists(b())); ++i)
            QTest::qWait(10);
        if (!QFile::exists(a()) || !QFile::exists(b()))
            return false;
        // socat ends when the last user of either end closes it; these descriptors (never read)
        // keep both ends alive while the link under test closes and reopens its end.
        holdA = ::open(a().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        holdB = ::open(b().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        return holdA >= 0 && holdB >= 0;
    }
    void stop() {
        for (int* fd : {&holdA, &holdB})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            proc.waitForFinished();
        }
    }
    ~PtyPair() { stop(); }
    QString a() const { return dir.filePath(QStringLiteral("a")); }
    QString b() const { return dir.filePath(QStringLiteral("b")); }

    QTemporaryDir dir;
    QProcess proc;
    int holdA = -1;
    int holdB = -1;
};

// The far end of a pseudo-terminal, raw and non-blocking.
class RawEnd {
public:
    explicit RawEnd(const QString& path) {
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios t{};
            tcgetattr(fd, &t);
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~RawEnd() {
        if (fd >= 0)
            ::close(fd);
    }
    bool write(const QByteArray& bytes) {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Everything that has arrived so far, added to received.
    const QByteArray& read() {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            received.append(buf, n);
        return received;
    }
    int fd = -1;
    QByteArray received;
};

// The modem simulator, started with the given arguments; its first output line is
// "PORT <n>" or "PTY <path>".
class Sim {
public:
    bool start(const QStringList& args) {
        const QString exe = qEnvironmentVariable("CHANTEST_BINARY_DIR") + QStringLiteral("/modem-sim");
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(exe, args);
        if (!proc.waitForStarted())
            return false;
        for (int i = 0; i < 500 && !proc.canReadLine() && proc.state() == QProcess::Running; ++i)
            proc.waitForReadyRead(10);
        if (!proc.canReadLine())
            return false;
        const QList<QByteArray> words = proc.readLine().trimmed().split(' ');
        if (words.size() != 2)
            return false;
        if (words[0] == "PORT")
            port = quint16(words[1].toUInt());
        else if (words[0] == "PTY")
            ptyPath = QString::fromLocal8Bit(words[1]);
        return port != 0 || !ptyPath.isEmpty();
    }
    void stop() {
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            proc.waitForFinished();
        }
    }
    ~Sim() { stop(); }
    QProcess proc;
    quint16 port = 0;
    QString ptyPath;
};

} // namespace linktest
