#include "settings/UntPassHash.h"

#include <benchmark/benchmark.h>

// One check of the login password: what the start and every prompt cost.
static void BM_VerifyPassword(benchmark::State& state) {
    const QString stored = HashPassword(QStringLiteral("correct horse"));
    for (auto _ : state)
        benchmark::DoNotOptimize(VerifyPassword(QStringLiteral("correct horse"), stored));
}
BENCHMARK(BM_VerifyPassword)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
