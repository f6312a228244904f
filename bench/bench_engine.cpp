#include "Bench.h"

#include "monthfile/RunResults.h"
#include "engine/TestCycle.h"
#include "links/CommLog.h"
#include "mock/MockClock.h"
#include "core/TextFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kChannels = 65434;

// A modem that answers every dial at once with BUSY.
class InstantModem : public ModemPort {
public:
    explicit InstantModem(CommLog& log) : log_(log) {}
    void send(const QByteArray& bytes) override {
        if (bytes.startsWith("atdt"))
            log_.append(bytes + "\r\nBUSY\r\n");
    }

private:
    CommLog& log_;
};

} // namespace

CHANTEST_BENCH("engine") {
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-engine-XXXXXX")));
    const QDate may(2024, 5, 14);
    {
        QStringList lines;
        lines.reserve(kChannels);
        for (int i = 0; i < kChannels; ++i) {
            QString l = bench::channel(i) + u'^';
            for (int g = 0; g < 16; ++g)
                l += QStringLiteral("BUSY^%1^24051%2%3^").arg(20 * (g + 1)).arg(g % 10).arg(1000 + g);
            lines.append(l);
        }
        TextFile::writeLines(QDir(dir.path()).filePath(QStringLiteral("2405.tst")), lines);
    }
    RunResults results(dir.path());
    bench::report(QStringLiteral("engine.month_load_65434x16"), bench::seconds([&] { results.open(may); }),
                  QStringLiteral("s"));

    CommLog log;
    for (int i = 0; i < CommLog::kKeptLines + 10; ++i)
        log.append("0123456789012345678901234567890123456789\r\n");

    MockClock clock(QDateTime(may, QTime(7, 5)));
    InstantModem modem(log);
    bool stop = false;
    QStringList run;
    for (int i = 0; i < 400; ++i)
        run.append(bench::channel(i * 163 % kChannels));
    TestCycle::Settings s;
    s.pauseText = [] { return QStringLiteral("0"); };
    std::vector<double> recordMs;
    bool recorded = false;
    TestCycle cycle(run, clock, modem, log, stop, s,
                    [&](const QString& k, const QString& a, int d, const QDateTime& w) {
                        results.record(k, a, d, w);
                        recorded = true;
                    });
    std::vector<double> tickMs;
    QElapsedTimer t;
    while (cycle.channelIndex() < cycle.channelCount()) {
        clock.advanceMs(200);
        recorded = false;
        t.start();
        const TestCycle::Step step = cycle.tick();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        (recorded ? recordMs : tickMs).push_back(ms);
        if (step.end != TestCycle::End::None)
            break;
    }
    bench::report(QStringLiteral("engine.tick_p99"), bench::percentile(tickMs, 0.99), QStringLiteral("ms"));
    bench::report(QStringLiteral("engine.tick_max"), bench::percentile(tickMs, 1.0), QStringLiteral("ms"));
    bench::report(QStringLiteral("engine.record_tick_p99_fsync"), bench::percentile(recordMs, 0.99),
                  QStringLiteral("ms"));
    bench::report(QStringLiteral("engine.record_tick_max_fsync"), bench::percentile(recordMs, 1.0),
                  QStringLiteral("ms"));
    // What the disk itself takes to make 100 bytes durable: the floor of any recording tick.
    std::vector<double> syncMs;
    const QByteArray probePath = QFile::encodeName(QDir(dir.path()).filePath(QStringLiteral("probe")));
    const int fd = ::open(probePath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    for (int i = 0; fd >= 0 && i < int(recordMs.size()); ++i) {
        t.start();
        if (::write(fd, probePath.constData(), 100) < 0 || ::fdatasync(fd) != 0)
            break;
        syncMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    if (fd >= 0)
        ::close(fd);
    if (!syncMs.empty()) {
        bench::report(QStringLiteral("engine.disk_fdatasync_p50"), bench::percentile(syncMs, 0.5),
                      QStringLiteral("ms"));
        bench::report(QStringLiteral("engine.disk_fdatasync_p99"), bench::percentile(syncMs, 0.99),
                      QStringLiteral("ms"));
    }
    bench::report(QStringLiteral("engine.record_tick_p50_fsync"), bench::percentile(recordMs, 0.5),
                  QStringLiteral("ms"));
    bench::report(QStringLiteral("engine.month_save_65434x16"), bench::seconds([&] { results.finish(); }),
                  QStringLiteral("s"));
}
