#include "BenchSupport.h"

#include "common/UntClock.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"

#include <QTreeWidget>
#include <benchmark/benchmark.h>

// 10,000 reminders: half one-off (a third of those missed), the rest daily, weekly, monthly.
static void FillReminders() {
    QString batch = QStringLiteral("BEGIN;");
    for (int i = 0; i < 10000; ++i) {
        const int kind = i % 2 == 0 ? 0 : 1 + (i / 2) % 3;
        QString day = QStringLiteral("2026-12-20"); // future
        if (kind == 0 && (i / 2) % 3 == 0)
            day = QStringLiteral("2026-12-06"); // missed
        const int monWeek = kind == 2 ? 135 : (kind == 3 ? 1 + i % 31 : 1);
        batch += QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                                "values(%1,%2,%3,%4,'%5','第%6条提醒');")
                     .arg(i % 24)
                     .arg(i % 60)
                     .arg(monWeek)
                     .arg(kind)
                     .arg(day)
                     .arg(i);
    }
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
