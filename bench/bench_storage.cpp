#include "BenchSupport.h"

#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <benchmark/benchmark.h>

static void BM_ExecSqlInsertWithCommit(benchmark::State& state) {
    TBenchDb db;
    int i = 0;
    for (auto _ : state)
        ExecSql(FormatSql(QStringLiteral("Insert into AlamContext(ReMark) values('%s') "),
                          {QStringLiteral("提醒 %1").arg(++i)}));
}
BENCHMARK(BM_ExecSqlInsertWithCommit)->Unit(benchmark::kMicrosecond);

static void BM_OpenQuery10000Rows(benchmark::State& state) {
    TBenchDb db;
    QString batch = QStringLiteral("BEGIN;");
    for (int i = 0; i < 10000; ++i)
        batch += QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                                "values(%1,%2,1,0,'2026-12-07','第%3条提醒');")
                     .arg(i % 24)
                     .arg(i % 60)
                     .arg(i);
    DbAccess->Connection.Exec(batch + QStringLiteral("COMMIT;"));
    for (auto _ : state) {
        DbAccess->OpenQuery(QStringLiteral("select * from Alam"));
        benchmark::DoNotOptimize(DbAccess->MainCursor.RecordCount());
    }
}
BENCHMARK(BM_OpenQuery10000Rows)->Unit(benchmark::kMillisecond);

static void BM_GetIntValue(benchmark::State& state) {
    TBenchDb db;
    for (auto _ : state)
        benchmark::DoNotOptimize(GetIntValue(QStringLiteral("select count(*) from SysSet")));
}
BENCHMARK(BM_GetIntValue)->Unit(benchmark::kMicrosecond);

static void BM_ConnectExistingFile(benchmark::State& state) {
    TBenchDb db;
    for (auto _ : state) {
        DbAccess->Disconnect();
        DbAccess->Connect();
    }
}
BENCHMARK(BM_ConnectExistingFile)->Unit(benchmark::kMillisecond);
