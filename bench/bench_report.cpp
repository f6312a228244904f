// chantest-report on big months: 10,000 channels with 4 tests a day, and 65,434 channels with 2
// tests a day beside the month before it (so that failure streaks reach back into it). Each
// format runs as its own process, as the operator or the monitoring system runs it, with its
// output going to a file; wall time and peak resident memory per format.
#include "Bench.h"

#include "core/Cp1251.h"
#include "core/TextFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct Child {
    double wall = 0;
    double peakMb = 0;
    int code = -1;
};

// Runs `program` with its standard output going to `outPath`; one that runs past `limitSeconds`
// (0: no limit) is killed and ends with code -1.
Child runChild(const QString& program, const QStringList& args, const QString& outPath,
               double limitSeconds = 0) {
    const QByteArray exe = QFile::encodeName(program);
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
            if (limitSeconds > 0 && t.nsecsElapsed() / 1e9 > limitSeconds) {
                kill(pid, SIGKILL);
                waitpid(pid, &wstatus, 0);
                break;
            }
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

Child runReport(const QStringList& args, const QString& outPath) {
    return runChild(QCoreApplication::applicationDirPath() + "/chantest-report", args, outPath);
}

struct Format {
    const char* name;
    QStringList args;
};

// Each format three times, its median printed (html with --all: the whole grid, as before the page
// listed only the channels with a failure): the machine is shared, one run can meet a busy
// moment. The check and the metrics end with their own codes.
void runFormats(const QString& dir, const QStringList& base, const QString& size,
                const std::vector<Format>& formats) {
    for (const Format& f : formats) {
        const QString out = dir + QStringLiteral("/out.") + QLatin1String(f.name);
        std::vector<Child> tries;
        for (int i = 0; i < 3; ++i)
            tries.push_back(runReport(base + f.args, out));
        std::sort(tries.begin(), tries.end(), [](const Child& a, const Child& b) { return a.wall < b.wall; });
        const Child c = tries[1];
        const QString name = QStringLiteral("report.%1_%2").arg(QLatin1String(f.name), size);
        const bool ok = c.code == 0 || (QLatin1String(f.name) == QLatin1String("check") && c.code <= 2);
        bench::report(name + QStringLiteral(".wall"), c.wall, QStringLiteral("s"));
        bench::report(name + QStringLiteral(".peak_rss"), c.peakMb, QStringLiteral("MiB"));
        bench::report(name + QStringLiteral(".output"), QFileInfo(out).size() / 1e6,
                      ok ? QStringLiteral("MB") : QStringLiteral("MB (failed)"));
    }
}

const QStringList kFormat = {QStringLiteral("--format")};
} // namespace

CHANTEST_BENCH("report") {
    constexpr int kChannels = 10000;
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
    runFormats(dir.path(), base, QStringLiteral("10000x31x4"),
               {{"text", {}},
                {"csv", kFormat + QStringList{QStringLiteral("csv")}},
                {"json", kFormat + QStringList{QStringLiteral("json")}},
                {"html", kFormat + QStringList{QStringLiteral("html"), QStringLiteral("--all")}},
                {"check", {QStringLiteral("--check"), QStringLiteral("--max-age"), QStringLiteral("0")}}});
    // A month file of as many zero bytes is refused at the first: its peak memory stays small.
    {
        QFile zeros(dir.filePath("2611.tst"));
        if (zeros.open(QIODevice::WriteOnly) && zeros.resize(QFileInfo(dir.filePath("2612.tst")).size()))
            zeros.close();
        const Child c = runReport({QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                                   QStringLiteral("2611"), QStringLiteral("--check")},
                                  dir.filePath("out.zeros"));
        bench::report(QStringLiteral("report.zeros_36MB.peak_rss"), c.peakMb,
                      c.code == 3 ? QStringLiteral("MiB") : QStringLiteral("MiB (not refused)"));
    }
}

namespace {
// Channel c of a big network: 997 exchanges in 50 directions.
QString bigChannel(int c, const char* dial) {
    return QStringLiteral("Направление %1 -- Уредба %2  %3 Ch. --> %4%5")
        .arg(c % 997 % 50)
        .arg(c % 997)
        .arg(c)
        .arg(QLatin1String(dial))
        .arg(c, 5, 10, QChar(u'0'));
}

// A month of a big network: 65,434 channels of 997 exchanges in 50 directions, two tests a day,
// at night and at noon. Most tests connect, some are busy or fail; one channel in a hundred fails
// every day of both months (a streak across the month boundary), one in a thousand has a second
// line after a new dial string.
void writeBigMonth(const QString& path, int year, int month, int channels) {
    const int days = QDate(year, month, 1).daysInMonth();
    const QByteArray yymm = QByteArray::number(year % 100 * 100 + month).rightJustified(4, '0');
    QByteArray out;
    out.reserve(qsizetype(channels) * 1700);
    const auto put = [&](int c, const QString& key, int fromDay, int toDay) {
        out += Cp1251::encode(key);
        out += '^';
        for (int d = fromDay; d <= toDay; ++d)
            for (int k = 0; k < 2; ++k) {
                const quint32 r =
                    ((quint32(c) * 2654435761u) ^ (quint32(d * 40503 + k * 9973) * 2246822519u)) >> 7;
                const bool dead = c % 100 == 7;
                const char* answer = dead          ? "NO CARRIER"
                                     : r % 40 < 16 ? "CONNECT 9600"
                                     : r % 40 < 33 ? "CONNECT"
                                     : r % 40 < 37 ? "BUSY"
                                     : r % 40 < 39 ? "NO CARRIER"
                                                   : "NO ANSWER";
                out += answer;
                out += '^';
                out += QByteArray::number(dead ? 100 + c % 50 : 100 + (c * 31 + d * 7 + k) % 2500);
                out += '^';
                out += yymm;
                out += QByteArray::number(d).rightJustified(2, '0');
                out += QByteArray::number(k ? 1200 + c % 60 : 100 + c % 60).rightJustified(4, '0');
                out += '^';
            }
        out += "\r\n";
    };
    for (int c = 0; c < channels; ++c)
        put(c, bigChannel(c, "#8"), 1, c % 1000 == 3 ? 10 : days);
    for (int c = 3; c < channels; c += 1000) // the new dial string from day 11
        put(c, bigChannel(c, "#9"), 11, days);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(out);
}
} // namespace

CHANTEST_BENCH("report_big") {
    constexpr int kChannels = 65434;
    QTemporaryDir dir;
    writeBigMonth(dir.filePath("2611.tst"), 2026, 11, kChannels);
    writeBigMonth(dir.filePath("2612.tst"), 2026, 12, kChannels);
    const double mb = QFileInfo(dir.filePath("2612.tst")).size() / 1e6;
    bench::report(QStringLiteral("report.month_file_65434x31x2"), mb, QStringLiteral("MB"));
    bench::report(QStringLiteral("report.month_file_65434x31x2.peak_limit"), 1.5 * mb / 1.048576,
                  QStringLiteral("MiB (1.5 x the file)"));
    const QStringList base = {QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                              QStringLiteral("2612")};
    runFormats(
        dir.path(), base, QStringLiteral("65434x31x2"),
        {{"text", {}},
         {"csv", kFormat + QStringList{QStringLiteral("csv")}},
         {"json", kFormat + QStringList{QStringLiteral("json")}},
         {"html", kFormat + QStringList{QStringLiteral("html"), QStringLiteral("--all")}},
         {"html_failures", kFormat + QStringList{QStringLiteral("html")}},
         {"prometheus", kFormat + QStringList{QStringLiteral("prometheus")}},
         {"check",
          {QStringLiteral("--check"), QStringLiteral("--max-age"), QStringLiteral("0"),
           QStringLiteral("--min-days"), QStringLiteral("2"), QStringLiteral("-w"), QStringLiteral("1")}}});
}

namespace {
// A whole network's month as the page is meant for: 65,434 channels tested once a night for 30
// days; one channel in a hundred fails every night from a day of its own on, the others connect
// or are busy within 22 s.
void writeNetworkMonth(const QString& path, int channels) {
    QByteArray out;
    out.reserve(qsizetype(channels) * 1000);
    for (int c = 0; c < channels; ++c) {
        out += Cp1251::encode(bigChannel(c, "#8"));
        out += '^';
        const int failsFrom = c % 100 == 7 ? 1 + c / 100 % 30 : 31;
        for (int d = 1; d <= 30; ++d) {
            const quint32 r = ((quint32(c) * 2654435761u) ^ (quint32(d * 40503) * 2246822519u)) >> 7;
            const bool busy = r % 20 < 3;
            out += d >= failsFrom ? "NO CARRIER^" + QByteArray::number(100 + c % 50)
                   : busy         ? "BUSY^" + QByteArray::number(300 + r % 1900)
                   : r % 20 < 6   ? "CONNECT^" + QByteArray::number(600 + 20 * (r % 70))
                                  : "CONNECT 9600^" + QByteArray::number(600 + 20 * (r % 70));
            out += "^2611";
            out += QByteArray::number(d).rightJustified(2, '0');
            out += QByteArray::number(100 + c % 300 / 60 * 100 + c % 60).rightJustified(4, '0');
            out += '^';
        }
        out += "\r\n";
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(out);
}

// Milliseconds from the start of a page in headless Chromium to the load event of `page` in a
// frame of it, or -1 when it does not load within `limitSeconds` (-2: no Chromium here).
double loadEventMs(const QString& dir, const QString& page, double limitSeconds) {
    QString chromium;
    for (const char* name : {"chromium", "chromium-browser", "google-chrome"})
        if (chromium.isEmpty())
            chromium = QStandardPaths::findExecutable(QLatin1String(name));
    if (chromium.isEmpty())
        return -2;
    const QString frame = dir + QStringLiteral("/frame.html");
    TextFile::writeBytes(
        frame, QByteArray("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>-</title>"
                          "<script>var t0 = performance.now();</script></head><body>"
                          "<iframe id=\"page\" width=\"1200\" height=\"800\" src=\"") +
                   QUrl::fromLocalFile(page).toEncoded() +
                   "\"></iframe><script>document.getElementById(\"page\").addEventListener(\"load\", "
                   "function () { document.title = \"LOADED \" + (performance.now() - t0).toFixed(0); });"
                   "</script></body></html>\n");
    const QString dom = dir + QStringLiteral("/frame.dom");
    const Child c = runChild(chromium,
                             {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                              QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                              QStringLiteral("--user-data-dir=") + dir + QStringLiteral("/chromium"),
                              QStringLiteral("--dump-dom"), QUrl::fromLocalFile(frame).toString()},
                             dom, limitSeconds);
    QFile f(dom);
    const QByteArray text = c.code == 0 && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const qsizetype at = text.indexOf("<title>LOADED ");
    return at < 0 ? -1 : text.mid(at + 14, text.indexOf('<', at + 14) - at - 14).toDouble();
}
} // namespace

CHANTEST_BENCH("report_page") {
    constexpr int kChannels = 65434;
    QTemporaryDir dir;
    writeNetworkMonth(dir.filePath("2611.tst"), kChannels);
    bench::report(QStringLiteral("report.month_file_65434x30x1"),
                  QFileInfo(dir.filePath("2611.tst")).size() / 1e6, QStringLiteral("MB"));
    const QStringList base = {QStringLiteral("--results"), dir.path(),
                              QStringLiteral("--month"),   QStringLiteral("2611"),
                              QStringLiteral("--format"),  QStringLiteral("html")};
    runFormats(dir.path(), base, QStringLiteral("65434x30x1"),
               {{"html_failures", {}}, {"html", {QStringLiteral("--all")}}});
    const QString page = dir.filePath(QStringLiteral("out.html_failures"));
    const double mb = QFileInfo(page).size() / 1e6;
    bench::report(QStringLiteral("report.html_failures_65434x30x1.output_limit"), 10,
                  mb <= 10 ? QStringLiteral("MB (met)") : QStringLiteral("MB (NOT met)"));
    // The median of three loads, as for the report's own figures.
    std::vector<double> loads;
    for (int i = 0; i < 3; ++i)
        loads.push_back(loadEventMs(dir.path(), page, 900));
    std::sort(loads.begin(), loads.end());
    const double ms = loads[1];
    bench::report(QStringLiteral("report.html_failures_65434x30x1.chromium_load_event"), ms,
                  ms >= 0    ? QStringLiteral("ms (headless Chromium)")
                  : ms == -1 ? QStringLiteral("ms (did not load within 900 s)")
                             : QStringLiteral("ms (no Chromium installed)"));
}
