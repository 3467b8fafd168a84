#include "BenchSupport.h"

#include "common/UntAppDir.h"
#include "shell/UntApplication.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"

#include <benchmark/benchmark.h>

TBenchDb::TBenchDb() {
    SetAppDir(dir_.path());
    db_ = std::make_unique<TDbAccess>();
    DbAccess = db_.get();
    DbAccess->Connect();
}

TBenchDb::~TBenchDb() {
    DbAccess = nullptr;
}

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
