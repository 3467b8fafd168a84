// The search across notes: 5,000 groups holding 20 MB of notes and 10,000 reminders, searched
// through the search window as the user would; and how long the interface thread is kept
// from its events meanwhile.
#include "BenchSupport.h"

#include "search/SearchAll.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>
#include <vector>

namespace {

constexpr int Groups = 5000;
constexpr int NoteBytes = 20 * 1024 * 1024 / Groups;
constexpr int Reminders = 10000;
constexpr int Places = 100; // notes that hold the searched word once

QString NoteText(QRandomGenerator& random, bool withWord, const QString& word) {
    static const QStringList words = {
        QStringLiteral("开会记录"), QStringLiteral("讨论"),   QStringLiteral("release"),
        QStringLiteral("Plan"),     QStringLiteral("预算"),   QStringLiteral("元。"),
        QStringLiteral("Hello"),    QStringLiteral("电话"),   QStringLiteral("13800138000"),
        QStringLiteral("项目"),     QStringLiteral("weekly"), QStringLiteral("周报"),
        QStringLiteral("zeta"),     QStringLiteral("Phyllo"), QStringLiteral("审批流程")};
    QString text;
    int bytes = 0;
    const int middle = NoteBytes / 2;
    bool placed = !withWord;
    while (bytes < NoteBytes) {
        if (!placed && bytes >= middle) {
            text += word + QLatin1Char(' ');
            placed = true;
        }
        const QString& w = words[random.bounded(static_cast<int>(words.size()))];
        text += w;
        text += random.bounded(10) == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
        bytes += static_cast<int>(w.toUtf8().size()) + 1;
    }
    return text;
}

// Fills the data file; word occurs once in each of Places notes.
void Fill(const QString& word) {
    QRandomGenerator random(20261207);
    DbAccess->Connection.Exec(QStringLiteral("BEGIN"));
    for (int i = 1; i <= Groups; ++i) {
        DbAccess->Connection.Exec(
            FormatSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                                     "(%s,%s,'%s')"),
                      {SqlNum(i), SqlNum(random.bounded(i)), QStringLiteral("分组 %1").arg(i)}));
        DbAccess->Connection.Exec(
            FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values (%s,'%s')"),
                      {SqlNum(i), NoteText(random, i % (Groups / Places) == 0, word)}));
    }
    for (int i = 0; i < Reminders; ++i)
        DbAccess->Connection.Exec(FormatSql(
            QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                           "values(%s,%s,1,%s,'2026-12-07','%s')"),
            {SqlNum(i % 24), SqlNum(i % 60), SqlNum(i % 4),
             QStringLiteral("提醒第%1条：给客户打电话").arg(i)}));
    DbAccess->Connection.Exec(QStringLiteral("COMMIT"));
    DbAccess->Connection.Checkpoint();
}

// CPU time of the calling thread: on a loaded machine the wall clock also counts the time
// the thread waited for a core.
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

// Lets the interface thread run its events for ms.
void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Each iteration: one query typed into the window (the typing pause left out), timed until
// its last result is listed. A 1 ms timer on the interface thread records the longest gap
// between its ticks meanwhile.
void SearchWhileTyping(benchmark::State& state, const QString& query, const QString& stored) {
    TBenchDb db;
    Fill(stored);
    TFormSearchAll form(DbAccess->Reader);
    form.Open();
    QApplication::processEvents();

    // stallMs: the most CPU time the interface thread spent between two ticks; gapMs: the
    // longest wall-clock gap between them.
    double gap = 0;
    // typed: the query is typed afresh and the typing pause passes first, as when the user
    // types it; the time still counts from the end of the pause.
    auto runOnce = [&](double* stallMs, bool typed = false) {
        if (typed) {
            form.edtQuery()->clear();
            form.edtQuery()->setText(query);
            RunEvents(TFormSearchAll::TypingPauseMs - 10);
        }
        QElapsedTimer sinceTick;
        double longest = 0;
        double cpuAtTick = ThreadCpuMs();
        double busiest = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.restart();
            const double cpu = ThreadCpuMs();
            busiest = std::max(busiest, cpu - cpuAtTick);
            cpuAtTick = cpu;
        });
        if (!typed)
            form.edtQuery()->setText(query);
        QElapsedTimer timer;
        timer.start();
        sinceTick.start();
        tick.start();
        form.SearchNow();
        // Waits as the program's own event loop does: a loop that polls would take a core
        // from the search.
        while (!form.Idle())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double ms = timer.nsecsElapsed() / 1e6;
        tick.stop();
        *stallMs = busiest;
        gap = std::max(gap, longest);
        return ms;
    };

    double stall = 0;
    const double first = runOnce(&stall, true); // the reader opens as the window does
    std::vector<double> samples;
    std::vector<double> stalls;
    double worstStall = 0;
    for (auto _ : state) {
        const double ms = runOnce(&stall);
        state.SetIterationTime(ms / 1000.0);
        samples.push_back(ms);
        worstStall = std::max(worstStall, stall);
        stalls.push_back(stall);
        if (form.Hits().size() != static_cast<size_t>(Places)) {
            state.SkipWithError("wrong number of matches");
            return;
        }
    }
    // After a keystroke in a note the reader's pages are read and decrypted again, while the
    // query is typed.
    DbAccess->Connection.Exec(
        QStringLiteral("update NoteBook set ReMark=ReMark||'x' where TypeID=1"));
    const double afterWrite = runOnce(&stall, true);
    worstStall = std::max(worstStall, stall);

    // The search alone, on this thread: its CPU time per query.
    std::vector<double> cpu, wall;
    for (int i = 0; i < 30; ++i) {
        const double start = ThreadCpuMs();
        QElapsedTimer clock;
        clock.start();
        const TSearchOutcome outcome =
            SearchAll(DbAccess->Reader, query, false, [](QList<TSearchHit>&&) {});
        cpu.push_back(ThreadCpuMs() - start);
        wall.push_back(clock.nsecsElapsed() / 1e6);
        if (outcome.Total != Places)
            state.SkipWithError("wrong number of matches");
    }
    state.counters["search_cpu_median_ms"] = Percentile(cpu, 0.5);
    state.counters["search_cpu_p99_ms"] = Percentile(cpu, 0.99);
    state.counters["search_wall_median_ms"] = Percentile(wall, 0.5);
    state.counters["longest_gap_ms"] = gap;
    state.counters["stall_p99_ms"] = Percentile(stalls, 0.99);
    state.counters["stall_median_ms"] = Percentile(stalls, 0.5);
    state.counters["median_ms"] = Percentile(samples, 0.5);
    state.counters["p99_ms"] = Percentile(samples, 0.99);
    state.counters["max_ms"] = *std::max_element(samples.begin(), samples.end());
    state.counters["first_ms"] = first;
    state.counters["after_write_ms"] = afterWrite;
    state.counters["longest_stall_ms"] = worstStall;
}

} // namespace

// An ASCII word in mixed case: found by case folding.
static void BM_SearchAll100Places_Ascii(benchmark::State& state) {
    SearchWhileTyping(state, QStringLiteral("zephyr"), QStringLiteral("ZePhyr"));
}
BENCHMARK(BM_SearchAll100Places_Ascii)
    ->UseManualTime()
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond);

// A Chinese phrase.
static void BM_SearchAll100Places_Chinese(benchmark::State& state) {
    SearchWhileTyping(state, QStringLiteral("报销单据"), QStringLiteral("报销单据"));
}
BENCHMARK(BM_SearchAll100Places_Chinese)
    ->UseManualTime()
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond);
