#include "Bench.h"

#include <algorithm>

#include <QApplication>
#include <cstdio>
#include <vector>

namespace {
struct Entry {
    const char* name;
    bench::Fn fn;
};
std::vector<Entry>& registry() {
    static std::vector<Entry> r;
    return r;
}
} // namespace

bool bench::add(const char* name, Fn fn) {
    registry().push_back({name, std::move(fn)});
    return true;
}

void bench::report(const QString& name, double value, const QString& unit) {
    std::printf("%-56s %12.3f %s\n", qPrintable(name), value, qPrintable(unit));
    std::fflush(stdout);
}

double bench::percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

QString bench::channel(int i) {
    return QStringLiteral("Направление %1 -- Уредба %2  %3 Ch. --> #8%4")
        .arg(i % 50)
        .arg(i % 997)
        .arg(i)
        .arg(i, 5, 10, QLatin1Char('0'));
}

double bench::seconds(const std::function<void()>& fn) {
    QElapsedTimer t;
    t.start();
    fn();
    return t.nsecsElapsed() / 1e9;
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString filter = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    for (const Entry& e : registry())
        if (filter.isEmpty() || QString::fromLatin1(e.name).contains(filter))
            e.fn();
    return 0;
}
