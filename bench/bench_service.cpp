// The service: idle as a real process beside a big channel base and 50 task files (its share of
// a core and its memory), and in-process on a fake clock with modems simulated in memory: the
// tick of a 32-line run over a full month, and a whole night of 65,434 channels on 32 modems
// answering as a healthy network does.
#include "Bench.h"

#include "engine/Station.h"
#include "mock/FakeLine.h"
#include "mock/MockClock.h"
#include "service/EventLog.h"
#include "service/Service.h"
#include "core/TextFile.h"
#include "tasks/TaskFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kChannels = 65434;
std::pair<int, QByteArray> healthyAnswer(const QByteArray& dial);

// Where a night's folder goes: in memory where it can.
QString nightFolder() {
    const QString shm = QStringLiteral("/dev/shm");
    return (QFileInfo(shm).isWritable() ? shm : QDir::currentPath()) + QStringLiteral("/chantest-night-XXXXXX");
}

QStringList allChannels() {
    QStringList channels;
    for (int i = 0; i < kChannels; ++i)
        channels.append(bench::channel(i));
    return channels;
}

// A field of /proc/PID/status in kB.
double statusKb(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith(field))
            return l.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toDouble();
    return 0;
}

// Clock ticks the process has run, user and system.
double cpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' '); // from field 3 on
    return fields.value(11).toDouble() + fields.value(12).toDouble();          // fields 14 and 15
}

void writeTask(const QString& path, const QString& type, int hour, int first, int count) {
    QStringList lines{TaskFile::buildHeader(QStringLiteral("Задача %1").arg(first), type, hour, 0,
                                            QStringLiteral("Чакаща"))};
    for (int i = first; i < first + count; ++i)
        lines.append(bench::channel(i));
    TextFile::writeLines(path, lines);
}

struct Ticks {
    std::vector<double> quietMs, recordingMs;
    qint64 runMs = 0;
    int recorded = 0;
    QString summary;
};

// The service in this process on a fake clock, in `dir` (its task files, Results below it), a
// "Веднага" task of `channels` on `modems` fake lines: every tick until the run's end, timed.
Ticks runNight(const QString& dir, const QStringList& channels, int modems, const QString& pause,
               const FakeLine::Network& network, MockClock& clock, int retests = 0) {
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir);
    TextFile::writeLines(QStringLiteral("night.tsk"),
                         QStringList{TaskFile::buildHeader(QStringLiteral("Нощ"), text(TaskType::Immediate), 0,
                                                           0, QStringLiteral("Чакаща"))} +
                             channels);
    QDir().mkpath(QStringLiteral("Results"));
    // The log goes where the journal would take it: written, line by line, to nobody.
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    EventLog log(devNull, false, clock);
    Station station(Workspace{dir, QDir(dir).filePath(QStringLiteral("Results")), {}}, clock);
    station.takeFolder(FolderLock::Holder::Service);
    std::vector<FakeLine*> lines;
    Ticks t;
    Service service(station, clock, log, [&] {
        RunSettings s;
        s.link.pause = pause;
        s.link.retestCount = retests;
        s.link.retestMinutes = 20;
        s.makeLines = [&] {
            std::vector<std::unique_ptr<ModemLine>> made;
            lines.clear();
            for (int i = 0; i < modems; ++i) {
                made.push_back(std::make_unique<FakeLine>(2001 + i, clock, network));
                lines.push_back(static_cast<FakeLine*>(made.back().get()));
            }
            return made;
        };
        return s;
    });
    int recorded = 0;
    QObject::connect(&station, &Station::runStarted,
                     [&](Run* run) { QObject::connect(run, &Run::recorded, [&] { ++recorded; }); });
    QObject::connect(&station, &Station::runFinished, [&](const QString&, const QString& summary) {
        t.summary = summary;
    });
    service.start();
    const qint64 startMs = clock.monotonicMs();
    QElapsedTimer timer;
    while (station.run()) {
        clock.advanceMs(service.interval());
        for (FakeLine* l : lines)
            l->deliver();
        recorded = 0;
        timer.start();
        service.timerTick();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        (recorded ? t.recordingMs : t.quietMs).push_back(ms);
        t.recorded += recorded;
    }
    t.runMs = clock.monotonicMs() - startMs;
    ::close(devNull);
    QDir::setCurrent(oldCwd);
    return t;
}
} // namespace

CHANTEST_BENCH("service.idle") {
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-service-XXXXXX")));
    const QString bin = dir.filePath(QStringLiteral("bin")), work = dir.filePath(QStringLiteral("work"));
    QDir().mkpath(bin);
    QDir().mkpath(work);
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/chantest-service"),
                bin + QStringLiteral("/chantest-service"));
    QStringList base;
    for (int i = 0; i < kChannels; ++i)
        base.append(bench::channel(i)
                        .replace(QStringLiteral(" -- "), QStringLiteral("^"))
                        .replace(QStringLiteral(" Ch. --> "), QStringLiteral("^")) +
                    u'^');
    TextFile::writeLines(QDir(work).filePath(QStringLiteral("ChBase.dat")), base);
    // 50 waiting tasks of the whole base between them, none due in the hour to come.
    const int hour = (QTime::currentTime().hour() + 12) % 24;
    for (int t = 0; t < 50; ++t)
        writeTask(QDir(work).filePath(QStringLiteral("%1.tsk").arg(240101000000LL + t)),
                  t % 2 ? text(TaskType::Daily) : text(TaskType::AtTime), hour, t * (kChannels / 50),
                  kChannels / 50);
    QProcess p;
    p.setProgram(bin + QStringLiteral("/chantest-service"));
    p.setArguments({QStringLiteral("--folder"), work});
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForStarted(10000))
        qFatal("chantest-service did not start");
    const int seconds = qEnvironmentVariableIntValue("CHANTEST_BENCH_IDLE_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("CHANTEST_BENCH_IDLE_SECONDS")
                            : 60;
    QThread::sleep(5); // start-up done
    const double before = cpuTicks(p.processId());
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(seconds);
    const double cpu = (cpuTicks(p.processId()) - before) / double(::sysconf(_SC_CLK_TCK));
    bench::report(QStringLiteral("service.idle_65434_channels_50_tasks.cpu_share"),
                  100.0 * cpu / (double(wall.nsecsElapsed()) / 1e9), QStringLiteral("% of a core"));
    bench::report(QStringLiteral("service.idle_65434_channels_50_tasks.rss"),
                  statusKb(p.processId(), "VmRSS:") / 1024, QStringLiteral("MB"));
    bench::report(QStringLiteral("service.idle_65434_channels_50_tasks.peak_rss"),
                  statusKb(p.processId(), "VmHWM:") / 1024, QStringLiteral("MB"));
    p.terminate();
    p.waitForFinished(30000);
}

CHANTEST_BENCH("service.month_run") {
    // 32 lines over a month of 65,434 channels: they all answer in the same tick (BUSY after
    // 1 s, no pause), so a tick either records nothing or 32 tests through the journal.
    constexpr int kModems = 32;
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-service-XXXXXX")));
    MockClock clock(QDateTime(QDate(2024, 5, 14), QTime(7, 5)));
    QDir(dir.path()).mkpath(QStringLiteral("Results"));
    {
        QStringList lines;
        for (int i = 0; i < kChannels; ++i)
            lines.append(bench::channel(i) + QStringLiteral("^BUSY^100^2405010700^"));
        TextFile::writeLines(QDir(dir.path()).filePath(QStringLiteral("Results/2405.tst")), lines);
    }
    QStringList run;
    for (int i = 0; i < kModems * 40; ++i)
        run.append(bench::channel(i * 51 % kChannels));
    const Ticks t = runNight(
        dir.path(), run, kModems, QStringLiteral("0"),
        [](const QByteArray&) {
            return std::pair{1000, QByteArrayLiteral("\r\nBUSY\r\n")};
        },
        clock);
    if (t.recorded != run.size())
        qFatal("the month run recorded %d of %d", t.recorded, int(run.size()));
    bench::report(QStringLiteral("service.32_lines_month_65434.tick_recording_nothing_p99"),
                  bench::percentile(t.quietMs, 0.99), QStringLiteral("ms"));
    bench::report(QStringLiteral("service.32_lines_month_65434.tick_recording_32_p50_fsync"),
                  bench::percentile(t.recordingMs, 0.5), QStringLiteral("ms"));
}

CHANTEST_BENCH("service.night") {
    // 80% CONNECT after 3 s (held 11 s by the cycle), 10% BUSY after 1 s, 10% NO CARRIER after
    // 60 s; a pause of 1 s. The journal goes to memory where it can: the figure is the modem
    // time and the tick, not the disk's flushes (the month run above has those).
    constexpr int kModems = 32;
    QTemporaryDir dir(nightFolder());
    MockClock clock(QDateTime(QDate(2024, 5, 14), QTime(20, 0)));
    const QStringList channels = allChannels();
    const auto network = healthyAnswer;
    bench::report(QStringLiteral("service.night_65434_channels_32_modems.rss_before"),
                  statusKb(QCoreApplication::applicationPid(), "VmRSS:") / 1024, QStringLiteral("MB"));
    // The process's peak from here on.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const Ticks t = runNight(dir.path(), channels, kModems, QStringLiteral("1"), network, clock);
    if (t.recorded != kChannels)
        qFatal("the night recorded %d of %d", t.recorded, kChannels);
    bench::report(QStringLiteral("service.night_65434_channels_32_modems.modem_time"), t.runMs / 3600000.0,
                  QStringLiteral("h"));
    bench::report(QStringLiteral("service.night_65434_channels_32_modems.tick_p99"),
                  bench::percentile(t.quietMs, 0.99), QStringLiteral("ms"));
    bench::report(QStringLiteral("service.night_65434_channels_32_modems.recording_tick_p99"),
                  bench::percentile(t.recordingMs, 0.99), QStringLiteral("ms"));
    bench::report(QStringLiteral("service.night_65434_channels_32_modems.peak_rss"),
                  statusKb(QCoreApplication::applicationPid(), "VmHWM:") / 1024, QStringLiteral("MB"));
}

namespace {
// The healthy network's mix, spread over the channels, not in task order.
std::pair<int, QByteArray> healthyAnswer(const QByteArray& dial) {
    const quint32 h = quint32(dial.mid(2).toInt()) * 2654435761u >> 16;
    if (h % 10 < 8)
        return std::pair{3000, QByteArrayLiteral("\r\nCONNECT 2400\r\n")};
    if (h % 10 == 8)
        return std::pair{1000, QByteArrayLiteral("\r\nBUSY\r\n")};
    return std::pair{60000, QByteArrayLiteral("\r\nNO CARRIER\r\n")};
}

void bigNight(int modems, const char* name, bool retests) {
    QTemporaryDir dir(nightFolder());
    MockClock clock(QDateTime(QDate(2024, 5, 14), QTime(20, 0)));
    const QStringList channels = allChannels();
    // With retests: 2 % of the channels fail once (NO CARRIER at once) and answer as usual after.
    auto failedOnce = std::make_shared<std::vector<bool>>(size_t(kChannels) * 2, false);
    const auto network = [retests, failedOnce](const QByteArray& dial) {
        const int n = dial.mid(2).toInt();
        const quint32 h = quint32(n) * 2246822519u >> 16;
        if (retests && h % 50 == 0 && n >= 0 && size_t(n) < failedOnce->size() && !(*failedOnce)[size_t(n)]) {
            (*failedOnce)[size_t(n)] = true;
            return std::pair{2000, QByteArrayLiteral("\r\nNO CARRIER\r\n")};
        }
        return healthyAnswer(dial);
    };
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const Ticks t = runNight(dir.path(), channels, modems, QStringLiteral("1"), network, clock, retests ? 1 : 0);
    if (t.recorded < kChannels)
        qFatal("the night recorded %d of %d", t.recorded, kChannels);
    const QString base = QStringLiteral("service.%1").arg(QLatin1String(name));
    bench::report(base + QStringLiteral(".modem_time"), t.runMs / 3600000.0, QStringLiteral("h"));
    bench::report(base + QStringLiteral(".tick_p99"), bench::percentile(t.quietMs, 0.99), QStringLiteral("ms"));
    bench::report(base + QStringLiteral(".recording_tick_p99"), bench::percentile(t.recordingMs, 0.99),
                  QStringLiteral("ms"));
    bench::report(base + QStringLiteral(".tests_recorded"), t.recorded, QStringLiteral("tests"));
    bench::report(base + QStringLiteral(".peak_rss"), statusKb(QCoreApplication::applicationPid(), "VmHWM:") / 1024,
                  QStringLiteral("MB"));
    if (retests)
        std::printf("# %s\n", qPrintable(QString(t.summary).replace(u'\n', QStringLiteral("; "))));
}
} // namespace

// 64 modems (two servers of 32) and 128 at the healthy network's mix, a pause of 1 s; and the
// 64 with one retest 20 minutes on, where 2 % of the channels fail once.
CHANTEST_BENCH("service.night64") {
    bigNight(64, "night_65434_channels_64_modems", false);
}
CHANTEST_BENCH("service.night128") {
    bigNight(128, "night_65434_channels_128_modems", false);
}
CHANTEST_BENCH("service.night64_retests") {
    bigNight(64, "night_65434_channels_64_modems_retests_2pc_fail_once", true);
}
