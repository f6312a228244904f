#pragma once
// Benchmark figures: each bench_*.cpp registers functions with CHANTEST_BENCH; the program
// runs them all (or those whose name contains the first argument) and prints
// one line per figure: name, value, unit.

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <vector>

namespace bench {
using Fn = std::function<void()>;
bool add(const char* name, Fn fn);
void report(const QString& name, double value, const QString& unit);
// Runs fn once and returns its wall time in seconds.
double seconds(const std::function<void()>& fn);
// The value below which the share p (0..1) of the samples lies; 1 gives the largest.
double percentile(std::vector<double> samples, double p);
// The channel line of channel i of a large made-up network: 50 directions, 997 exchanges.
QString channel(int i);
} // namespace bench

#define CHANTEST_BENCH_CAT2(a, b) a##b
#define CHANTEST_BENCH_CAT(a, b) CHANTEST_BENCH_CAT2(a, b)
#define CHANTEST_BENCH(name)                                                                           \
    static void CHANTEST_BENCH_CAT(benchFn_, __LINE__)();                                              \
    static const bool CHANTEST_BENCH_CAT(benchReg_, __LINE__) =                                        \
        bench::add(name, CHANTEST_BENCH_CAT(benchFn_, __LINE__));                                      \
    static void CHANTEST_BENCH_CAT(benchFn_, __LINE__)()
