#pragma once
// Helpers for tests that run the real program and the modem simulator as processes.

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace realprogram {
inline QString binaryDir() {
    return qEnvironmentVariable("CHANTEST_BINARY_DIR");
}

// The month results file the program writes now, e.g. 2412.tst.
inline QString monthFile() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyMM")) + ".tst";
}

// Asks a process to end, then ends it; waits a bounded time either way.
inline void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000))
        p.kill();
    p.waitForFinished(5000);
}

// Starts the program copy `exe` offscreen in `work`; false when it did not start.
inline bool startOffscreen(QProcess& p, const QString& exe, const QString& work) {
    p.setProgram(exe);
    p.setWorkingDirectory(work);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start();
    return p.waitForStarted(10000);
}

// Starts the modem simulator and returns where it serves: the port or the pseudo-terminal of
// its first line ("PORT n" / "PTY path"); empty when it did not say within 10 s.
inline QString startSim(QProcess& sim, const QStringList& args) {
    sim.setProgram(binaryDir() + "/modem-sim");
    sim.setArguments(args);
    sim.start();
    if (!sim.waitForStarted(5000))
        return {};
    QByteArray first;
    QElapsedTimer t;
    t.start();
    while (!first.contains('\n') && t.elapsed() < 10000) {
        sim.waitForReadyRead(200);
        first += sim.readAllStandardOutput();
    }
    return QString::fromLatin1(first).section(u'\n', 0, 0).trimmed().section(u' ', 1);
}
} // namespace realprogram
