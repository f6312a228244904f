// The html page's charts and the Prometheus metrics of a big month, from their aggregated data:
// twelve day charts, the delay histogram and both tables for 50 directions; the metrics of a
// 65,434-channel day (50 directions of 997 exchanges) with one channel in a hundred failed, and
// with all of them failed, the largest the per-channel series can grow.
#include "Bench.h"

#include "report/ReportCharts.h"
#include "report/ReportPrometheus.h"

#include <QBuffer>

#include <vector>

namespace {
constexpr int kChannels = 65434;

QByteArray render(const std::function<void(report::Sink&)>& fn, double& secs) {
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    secs = bench::seconds([&] {
        report::Sink out(buf);
        fn(out);
    });
    return buf.data();
}

void metrics(int failEvery) {
    report::PromMetrics m;
    m.stations = {{QStringLiteral("София"), true, QDateTime(QDate(2026, 12, 31), QTime(2, 15))}};
    QHash<QString, qsizetype> row;
    for (int i = 0; i < kChannels; ++i) {
        const QString dir = QStringLiteral("Направление %1").arg(i % 997 % 50),
                      ex = QStringLiteral("Уредба %1").arg(i % 997);
        auto it = row.constFind(dir + ex);
        if (it == row.constEnd()) {
            it = row.insert(dir + ex, m.exchanges.size());
            m.exchanges.append({m.stations[0].name, dir, ex});
        }
        const bool failed = i % failEvery == 0;
        m.exchanges[*it].add(failed ? monthfile::kMarkFailure : monthfile::kMarkConnect, failed ? 1 + i % 9 : 0);
        if (failed)
            m.failed.append({m.stations[0].name, dir, ex, QString::number(i), 1 + i % 9});
    }
    std::vector<double> times;
    QByteArray text;
    for (int k = 0; k < 5; ++k) {
        double s = 0;
        text = render([&](report::Sink& out) { report::WritePrometheus(m, out); }, s);
        times.push_back(s);
    }
    const QString name =
        QStringLiteral("charts_metrics.prometheus_65434_channels_%1_failed").arg(m.failed.size());
    bench::report(name + QStringLiteral(".wall"), bench::percentile(times, 0.5) * 1000, QStringLiteral("ms"));
    bench::report(name + QStringLiteral(".output"), text.size() / 1e6, QStringLiteral("MB"));
}
} // namespace

CHANTEST_BENCH("charts_metrics") {
    QVector<report::DayShares> dirs;
    for (int i = 0; i < 50; ++i) {
        report::DayShares s{QStringLiteral("Направление %1").arg(i), 31};
        for (int d = 1; d <= 31; ++d)
            if ((d + i) % 9) {
                s.tested[size_t(d)] = 1309;
                s.connected[size_t(d)] = 1309 - (d * 37 + i * 11) % 200;
            }
        dirs.append(s);
    }
    report::DelayHistogram h;
    for (int i = 0; i < 4000000; i += 7)
        (i % 5 ? h.addConnection(i % 3000 + 900) : h.addBusy(i % 4000 + 200));
    std::vector<double> times;
    QByteArray page;
    for (int k = 0; k < 20; ++k) {
        double s = 0;
        page = render(
            [&](report::Sink& out) {
                report::WriteDayChartGrid(dirs, "d", out);
                report::WriteDelayChart(h, u"12.2026", "delays", out);
                report::WriteDayTable(dirs, report::kDayChartsOnPage, out);
                report::WriteDelayTable(h, out);
            },
            s);
        times.push_back(s);
    }
    bench::report(QStringLiteral("charts_metrics.charts_12_of_50_directions.wall"),
                  bench::percentile(times, 0.5) * 1000, QStringLiteral("ms"));
    bench::report(QStringLiteral("charts_metrics.charts_12_of_50_directions.output"), page.size() / 1e3,
                  QStringLiteral("kB"));
    metrics(100);
    metrics(1);
}
