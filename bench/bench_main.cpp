#include "BenchSupport.h"

#include "shell/UntApplication.h"
#include "storage/UException.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TQuilletApp app(argc, argv);
    TCardException reporter;
    CardException = &reporter;
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    CardException = nullptr;
    return 0;
}
