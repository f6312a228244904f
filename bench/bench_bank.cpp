// A bank of modems: the throughput of 1, 4 and 8 modems over the same channels, and the cost
// of a tick of 32 modems over a full month, on a fake clock with modems in memory.
#include "Bench.h"

#include "monthfile/RunResults.h"
#include "mock/FakeBank.h"
#include "core/TextFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

namespace {
// 200 channels answered after 1 s, in turn BUSY, NO CARRIER and CONNECT, with a 1 s pause:
// the simulated hours the run takes on `modems` modems.
double runHours(int modems) {
    fakebank::Bank b;
    b.pause = QStringLiteral("1");
    QStringList channels;
    static const QByteArray kAnswers[] = {"\r\nBUSY\r\n", "\r\nNO CARRIER\r\n", "\r\nCONNECT 2400\r\n"};
    for (int i = 0; i < 200; ++i) {
        channels.append(bench::channel(i));
        b.answers[TestCycle::dialString(bench::channel(i))] = {1000 / TestCycle::kTickMs, kAnswers[i % 3]};
    }
    b.make(channels, modems);
    b.runToEnd();
    if (b.last.end != TestCycle::End::Normal || b.recs.size() != 200)
        qFatal("bank run of %d modems did not test every channel", modems);
    return b.ticks * TestCycle::kTickMs / 3600000.0;
}
} // namespace

CHANTEST_BENCH("bank") {
    double oneModem = 0;
    for (int modems : {1, 4, 8}) {
        const double perHour = 200 / runHours(modems);
        if (modems == 1)
            oneModem = perHour;
        bench::report(QStringLiteral("bank.channels_per_hour_%1_modems").arg(modems), perHour,
                      QStringLiteral("ch/h"));
        bench::report(QStringLiteral("bank.ratio_to_one_%1_modems").arg(modems), perHour / oneModem,
                      QStringLiteral("x"));
    }

    // 32 modems over a month of 65,434 channels: they all answer in the same tick, so a tick
    // either records nothing or records 32 tests through the journal.
    constexpr int kMonth = 65434;
    constexpr int kModems = 32;
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-bank-XXXXXX")));
    const QDate may(2024, 5, 14);
    {
        QStringList lines;
        lines.reserve(kMonth);
        for (int i = 0; i < kMonth; ++i)
            lines.append(bench::channel(i) + QStringLiteral("^BUSY^100^2405010700^"));
        TextFile::writeLines(QDir(dir.path()).filePath(QStringLiteral("2405.tst")), lines);
    }
    RunResults results(dir.path());
    results.open(may);
    fakebank::Bank b;
    b.clock.setNow(QDateTime(may, QTime(7, 5)));
    QStringList run;
    for (int i = 0; i < kModems * 40; ++i) {
        run.append(bench::channel(i * 51 % kMonth));
        b.answers[TestCycle::dialString(run.last())] = {5, "\r\nBUSY\r\n"};
    }
    int recorded = 0;
    b.onRecord = [&](const QString& k, const QString& a, int d, const QDateTime& w) {
        results.record(k, a, d, w);
        ++recorded;
    };
    b.make(run, kModems);
    std::vector<double> idleMs, fullMs;
    QElapsedTimer t;
    while (b.last.end == TestCycle::End::None) {
        recorded = 0;
        t.start();
        b.tick();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (recorded == 0)
            idleMs.push_back(ms);
        else if (recorded == kModems)
            fullMs.push_back(ms);
    }
    bench::report(QStringLiteral("bank.32_modems_tick_recording_nothing_p99"), bench::percentile(idleMs, 0.99),
                  QStringLiteral("ms"));
    bench::report(QStringLiteral("bank.32_modems_tick_recording_32_p50_fsync"), bench::percentile(fullMs, 0.5),
                  QStringLiteral("ms"));
    bench::report(QStringLiteral("bank.32_modems_tick_recording_32_max_fsync"), bench::percentile(fullMs, 1.0),
                  QStringLiteral("ms"));
    bench::report(QStringLiteral("bank.32_modems_ticks_recording_32"), double(fullMs.size()), QString());
}
