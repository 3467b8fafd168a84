#include "BenchSupport.h"

#include "common/UntClock.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"

#include <QTreeWidget>
#include <benchmark/benchmark.h>

// 10,000 reminders, evenly of the six kinds; the yearly ones with 0-3 days ahead and lunar
// month-days all over the year, some in leap months.
static void FillSixKinds() {
    QString batch = QStringLiteral("BEGIN;");
    for (int i = 0; i < 10000; ++i) {
        const int kind = i % 6;
        int monWeek = 1;
        if (kind == 2)
            monWeek = 135;
        else if (kind == 3)
            monWeek = 1 + i % 31;
        else if (kind == 5)
            monWeek = (i % 7 == 0 ? 10000 : 0) + (1 + i % 12) * 100 + 1 + i % 30;
        batch += QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,"
                                "AheadDays) values(%1,%2,%3,%4,'%5','第%6条提醒',%7);")
                     .arg(i % 24)
                     .arg(i % 60)
                     .arg(monWeek)
                     .arg(kind)
                     .arg(QDate(2026, 1, 1).addDays(i % 365).toString(Qt::ISODate))
                     .arg(i)
                     .arg(kind >= 4 ? i % 4 : 0);
    }
    DbAccess->Connection.Exec(batch + QStringLiteral("COMMIT;"));
}

static void BM_AlamLoadListSixKinds10000(benchmark::State& state) {
    TBenchDb db;
    FillSixKinds();
    Clock::SetNow(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 20)));
    TAlam alam;
    QTreeWidget view;
    view.setColumnCount(5);
    const int filter = static_cast<int>(state.range(0));
    for (auto _ : state)
        alam.LoadList(&view, filter);
    state.counters["rows"] = view.topLevelItemCount();
    Clock::Reset();
}
BENCHMARK(BM_AlamLoadListSixKinds10000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

static void BM_DueCheckSixKinds10000(benchmark::State& state) {
    TBenchDb db;
    FillSixKinds();
    TAlam alam;
    const QDateTime minute(QDate(2026, 12, 7), QTime(10, 34));
    int due = 0;
    for (auto _ : state)
        due = alam.DueList(minute).size();
    state.counters["due"] = due;
}
BENCHMARK(BM_DueCheckSixKinds10000)->Unit(benchmark::kMillisecond);
