// chantest-report on a big month: 10,000 channels, 31 days, 4 tests a day. Each format runs
// as its own process, as the operator or the monitoring system runs it, with its output going to
// a file; wall time and peak resident memory per format.
#include "Bench.h"

#include "shell/TextFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kChannels = 10000;

struct Child {
    double wall = 0;
    double peakMb = 0;
    int code = -1;
};

Child runReport(const QStringList& args, const QString& outPath) {
    const QByteArray exe = QFile::encodeName(QCoreApplication::applicationDirPath() + "/chantest-report");
    QList<QByteArray> store{exe};
    for (const QString& a : args)
        store.append(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, QFile::encodeName(outPath).constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    Child c;
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.constData(), &fa, nullptr, argv.data(), environ) == 0) {
        // The child's own high-water mark (VmHWM), read until it ends: its rusage would also
        // count the bench's memory, which the spawned process started out sharing.
        const QString status = QStringLiteral("/proc/%1/status").arg(pid);
        qint64 hwmKb = 0;
        int wstatus = 0;
        while (waitpid(pid, &wstatus, WNOHANG) == 0) {
            QFile f(status);
            if (f.open(QIODevice::ReadOnly))
                for (const QByteArray& l : f.readAll().split('\n'))
                    if (l.startsWith("VmHWM:"))
                        hwmKb = std::max(hwmKb, l.mid(6).trimmed().split(' ').value(0).toLongLong());
            usleep(1000);
        }
        c.wall = t.nsecsElapsed() / 1e9;
        c.peakMb = hwmKb / 1024.0;
        c.code = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }
    posix_spawn_file_actions_destroy(&fa);
    return c;
}
} // namespace

CHANTEST_BENCH("report") {
    QTemporaryDir dir;
    const char* const answers[] = {"CONNECT 9600/ARQ", "CONNECT 9600/ARQ", "CONNECT 9600/ARQ", "BUSY", "NO CARRIER"};
    QStringList lines;
    lines.reserve(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        QString l = QStringLiteral("Направление %1 -- Централа %2  %3 Ch. --> #8%4^")
                        .arg(c % 40)
                        .arg(c % 400)
                        .arg(c)
                        .arg(c, 5, 10, QChar(u'0'));
        for (int d = 1; d <= 31; ++d)
            for (int k = 0; k < 4; ++k)
                l += QStringLiteral("%1^%2^2612%3%4^")
                         .arg(QLatin1String(answers[(c + d + k) % 5]))
                         .arg(400 + 20 * ((c + k) % 50))
                         .arg(d, 2, 10, QChar(u'0'))
                         .arg(k * 600 + 100 + c % 60, 4, 10, QChar(u'0'));
        lines.append(l);
    }
    TextFile::writeLines(dir.filePath("2612.tst"), lines);
    bench::report(QStringLiteral("report.month_file_10000x31x4"), QFileInfo(dir.filePath("2612.tst")).size() / 1e6,
                  QStringLiteral("MB"));
    const QStringList base = {QStringLiteral("--results"), dir.path(), QStringLiteral("--month"), QStringLiteral("2612")};
    const struct {
        const char* name;
        QStringList args;
    } runs[] = {{"text", {}},
                {"csv", {QStringLiteral("--format"), QStringLiteral("csv")}},
                {"json", {QStringLiteral("--format"), QStringLiteral("json")}},
                {"html", {QStringLiteral("--format"), QStringLiteral("html")}},
                {"check", {QStringLiteral("--check"), QStringLiteral("--max-age"), QStringLiteral("0")}}};
    for (const auto& r : runs) {
        const QString out = dir.filePath(QStringLiteral("out.") + QLatin1String(r.name));
        // The median of three runs: the machine is shared, one run can meet a busy moment.
        std::vector<Child> tries;
        for (int i = 0; i < 3; ++i)
            tries.push_back(runReport(base + r.args, out));
        std::sort(tries.begin(), tries.end(), [](const Child& a, const Child& b) { return a.wall < b.wall; });
        const Child c = tries[1];
        const QString name = QStringLiteral("report.%1_10000x31x4").arg(QLatin1String(r.name));
        bench::report(name + QStringLiteral(".wall"), c.wall, QStringLiteral("s"));
        bench::report(name + QStringLiteral(".peak_rss"), c.peakMb, QStringLiteral("MB"));
        bench::report(name + QStringLiteral(".output"), QFileInfo(out).size() / 1e6,
                      c.code == 0 || QLatin1String(r.name) == QLatin1String("check") ? QStringLiteral("MB")
                                                                                      : QStringLiteral("MB (failed)"));
    }
    // A month file of as many zero bytes is refused at the first: its peak memory stays small.
    {
        QFile zeros(dir.filePath("2611.tst"));
        if (zeros.open(QIODevice::WriteOnly) && zeros.resize(QFileInfo(dir.filePath("2612.tst")).size()))
            zeros.close();
        const Child c = runReport({QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                                   QStringLiteral("2611"), QStringLiteral("--check")},
                                  dir.filePath("out.zeros"));
        bench::report(QStringLiteral("report.zeros_36MB.peak_rss"), c.peakMb,
                      c.code == 3 ? QStringLiteral("MB") : QStringLiteral("MB (not refused)"));
    }
}
