#include "BenchSupport.h"

#include "common/UntClock.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"

#include <QTreeWidget>
#include <benchmark/benchmark.h>

// 10,000 reminders: half one-off (a third of those missed), the rest daily, weekly, monthly.
static void FillReminders() {
    const QString batch = QStringLiteral("BEGIN;") + ReminderInserts(10000);
    DbAccess->Connection.Exec(batch + QStringLiteral("COMMIT;"));
}

static void BM_AlamLoadListAll10000(benchmark::State& state) {
    TBenchDb db;
    FillReminders();
    Clock::SetNow(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 20)));
    TAlam alam;
    QTreeWidget view;
    view.setColumnCount(5);
    int missed = 0;
    for (auto _ : state) {
        alam.LoadList(&view, 0);
        missed = 0;
        for (int i = 0; i < view.topLevelItemCount(); ++i)
            missed += view.topLevelItem(i)->text(4) == AlamMissedText;
    }
    state.counters["rows"] = view.topLevelItemCount();
    state.counters["missed"] = missed;
    Clock::Reset();
}
BENCHMARK(BM_AlamLoadListAll10000)->Unit(benchmark::kMillisecond);
