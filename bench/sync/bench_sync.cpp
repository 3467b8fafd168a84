// Sync timings against a local Radicale (started here, in memory where possible):
//   quillet_bench_sync [reminders=10000] [groups=5000] [noteMegabytes=20]
// keystrokes saved in a note before, during and after the first sync, at the same rhythm;
// the first sync of that data, then an incremental sync after one keystroke in a note, each
// with the longest stall of the event loop while it ran and in the pause after it, when the
// data file's log is emptied (and how many passed 16 ms); the passes again as with a server
// that offers only the collections' tags; and the reload of the reminders list and the group
// tree that follows a pass bringing changes.
// With QUILLET_BENCH_STATE=DIR the server's collections and the data file are kept in DIR:
// a later run with the same DIR starts from them and times only the incremental passes
// (a first sync of the full size takes Radicale about an hour).
#include "common/UntAppDir.h"
#include "common/UntPublic.h"
#include "notepad/UntNote.h"
#include "notepad/UntTree.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"
#include "sync/UntSyncEngine.h"
#include "sync/UntSyncStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

qint64 MonotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A virtual machine shared with others now and then stops every thread for tens of
// milliseconds. A thread that does nothing but sleep 1 ms at a time sees those pauses; they
// are taken out of the event loop's gaps, so that what remains is what the program held.
class TPauseWatch {
public:
    TPauseWatch() : thread_([this] { Run(); }) {}
    ~TPauseWatch() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        resume_.notify_one();
        thread_.join();
    }
    // Held, it does not wake at all: a real-time thread waking every millisecond takes the
    // processor from the thread it measures whenever the other cores are busy, and makes the
    // scheduler choose anew each time. Nothing is taken out of gaps while it is held.
    void Hold(bool held) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            held_ = held;
        }
        resume_.notify_one();
    }
    // How much of [from, to] the machine stood still.
    qint64 PausedNs(qint64 from, qint64 to) {
        const std::lock_guard<std::mutex> lock(mutex_);
        qint64 paused = 0;
        for (auto it = pauses_.rbegin(); it != pauses_.rend() && it->second > from; ++it)
            paused += std::max<qint64>(0, std::min(to, it->second) - std::max(from, it->first));
        return paused;
    }

private:
    void Run() {
        // Runs as soon as it wakes, when the machine runs at all (where that is allowed).
        sched_param realTime{};
        realTime.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime);
        constexpr qint64 Sleep = 1000000;
        qint64 last = MonotonicNs();
        while (!stop_) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (held_) {
                    resume_.wait(lock, [this] { return !held_ || stop_; });
                    last = MonotonicNs();
                }
            }
            std::this_thread::sleep_for(std::chrono::nanoseconds(Sleep));
            const qint64 now = MonotonicNs();
            if (now - last > 3 * Sleep) {
                const std::lock_guard<std::mutex> lock(mutex_);
                pauses_.emplace_back(last + Sleep, now);
            }
            last = now;
        }
    }
    std::mutex mutex_;
    std::vector<std::pair<qint64, qint64>> pauses_;
    std::condition_variable resume_;
    bool held_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct TRun {
    double seconds = 0;
    double longestStallMs = 0;
    int stallsOverFrame = 0; // longer than 16 ms
    // The same without the machine's own pauses.
    double longestHeldMs = 0;
    int heldOverFrame = 0;
    // The same gaps counted in the interface thread's own processor time: on a busy machine
    // the wall-clock gaps include time other processes had, this is what the program did.
    double longestBusyMs = 0;
    double longestSliceMs = 0;
    bool ok = false;
    QString message;
};

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs one pass, watching the event loop with a 1 ms timer: the longest gap between two of
// its ticks is the longest time the interface could not react.
// during, when given, runs every 25 ms while the pass runs (a user typing).
TRun Pass(TSyncEngine& engine, TPauseWatch& machine,
          void (TSyncEngine::*start)() = &TSyncEngine::SyncNow,
          const std::function<void()>& during = nullptr) {
    TRun run;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    std::vector<std::pair<qint64, qint64>> gaps; // the longer ones, weighed at the end
    double cpuAtTick = ThreadCpuMs();
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 now = MonotonicNs();
        const double ms = (now - lastTick) / 1e6;
        run.longestStallMs = std::max(run.longestStallMs, ms);
        run.stallsOverFrame += ms > 16 ? 1 : 0;
        // Shorter gaps hold no pause worth taking out.
        if (ms > 4)
            gaps.emplace_back(lastTick, now);
        else
            run.longestHeldMs = std::max(run.longestHeldMs, ms);
        lastTick = now;
        const double cpu = ThreadCpuMs();
        run.longestBusyMs = std::max(run.longestBusyMs, cpu - cpuAtTick);
        cpuAtTick = cpu;
    });
    bool done = false;
    auto c = QObject::connect(&engine, &TSyncEngine::Finished, [&](bool ok, const QString& m) {
        run.ok = ok;
        run.message = m;
        done = true;
    });
    QTimer typing;
    typing.setInterval(25);
    if (during)
        QObject::connect(&typing, &QTimer::timeout, during);
    clock.start();
    lastTick = MonotonicNs();
    cpuAtTick = ThreadCpuMs();
    watch.start();
    typing.start();
    (engine.*start)();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    typing.stop();
    run.seconds = clock.nsecsElapsed() / 1e9;
    // The pause after the pass counts too: the data file's log is moved and emptied then.
    QEventLoop pause;
    QTimer::singleShot(IdleCheckpointMs + 1500, &pause, &QEventLoop::quit);
    pause.exec();
    run.longestSliceMs = engine.LongestSliceMs();
    // Only now: the watch may note a pause after the tick that ended it.
    for (const auto& [from, to] : gaps) {
        const double held = (to - from - machine.PausedNs(from, to)) / 1e6;
        run.longestHeldMs = std::max(run.longestHeldMs, held);
        run.heldOverFrame += held > 16 ? 1 : 0;
    }
    QObject::disconnect(c);
    return run;
}

void Report(const char* what, const TRun& r) {
    std::printf("%-34s %s %8.2f s   longest stall %6.1f ms (%d over 16 ms), without the "
                "machine's pauses %6.1f ms (%d over 16 ms), longest busy %5.1f ms   longest db "
                "slice %6.1f ms %s\n",
                what, r.ok ? "ok  " : "FAIL", r.seconds, r.longestStallMs, r.stallsOverFrame,
                r.longestHeldMs, r.heldOverFrame, r.longestBusyMs, r.longestSliceMs,
                qPrintable(r.message));
    std::fflush(stdout);
}

// Where a thread's time went, as the kernel counts it: its own processor time, the time it
// was ready but another thread had the processor, and how often it gave the processor up
// (waited for the disk or a lock).
struct TThreadTimes {
    double wallMs = 0, cpuMs = 0, readyMs = 0;
    long gaveUp = 0;
    static TThreadTimes Now() {
        TThreadTimes t;
        t.wallMs = MonotonicNs() / 1e6;
        // Per thread: a file opened once, read again from its start. Its processor time lags
        // by up to a tick; the clock's does not.
        static thread_local const int stats = open("/proc/thread-self/schedstat", O_RDONLY);
        char text[96] = {};
        long long ready = 0;
        if (stats >= 0 && pread(stats, text, sizeof text - 1, 0) > 0)
            std::sscanf(text, "%*s %lld", &ready);
        t.readyMs = ready / 1e6;
        t.cpuMs = ThreadCpuMs();
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        t.gaveUp = usage.ru_nvcsw;
        return t;
    }
};

// A keystroke in the memo, as the notepad stores it: only when the writer's lock is free,
// else kept for a retry. The time it holds the interface thread; stored says which it was.
// ownMs: the same without the time the machine itself stood still (a virtual machine's
// processor taken by its host), which the kernel counts as neither this thread's time nor
// anyone else's. Only a keystroke that never gave the processor up can be told apart so;
// any other keeps all its time.
double KeystrokeMs(TDbAccess& db, TNote& note, const QString& text, bool* stored, double* cpuMs,
                   double* ownMs) {
    const TThreadTimes before = TThreadTimes::Now();
    TTransaction tx(db.Connection, TTransaction::IfFree);
    *stored = tx.Open();
    if (*stored) {
        SaveNoteText(note, QStringLiteral("0"), text);
        tx.Commit();
    }
    const TThreadTimes after = TThreadTimes::Now();
    const double wall = after.wallMs - before.wallMs;
    *cpuMs = after.cpuMs - before.cpuMs;
    const double ready = after.readyMs - before.readyMs;
    *ownMs = after.gaveUp == before.gaveUp ? std::min(wall, *cpuMs + ready) : wall;
    return wall;
}

struct TKeys {
    std::vector<double> ms;
    std::vector<double> cpu; // the interface thread's own processor time
    std::vector<double> own; // without the machine's own pauses
    int kept = 0;            // found the lock taken: stored by a later keystroke or retry
    static double Percentile(std::vector<double>& v, double p) {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
    }
    double Percentile(double p) { return Percentile(ms, p); }
};

void ReportKeys(const char* what, TKeys& k) {
    const double median = k.Percentile(0.5); // sorts
    std::printf("%-34s %zu saved: median %.2f ms, p99 %.2f ms, max %.2f ms; without the "
                "machine's pauses median %.2f ms, p99 %.2f ms; processor time p99 %.2f ms; %d "
                "more found the writer busy and were kept for a retry\n",
                what, k.ms.size(), median, k.Percentile(0.99), k.ms.empty() ? 0 : k.ms.back(),
                TKeys::Percentile(k.own, 0.5), TKeys::Percentile(k.own, 0.99),
                TKeys::Percentile(k.cpu, 0.99), k.kept);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reminders = argc > 1 ? atoi(argv[1]) : 10000;
    const int groups = argc > 2 ? atoi(argv[2]) : 5000;
    const double megabytes = argc > 3 ? atof(argv[3]) : 20;

    const QString state = qEnvironmentVariable("QUILLET_BENCH_STATE");
    const bool resumed = !state.isEmpty() && QFile::exists(state + "/data/bookkeep.dat");
    QTemporaryDir scratch(QFile::exists("/dev/shm") ? "/dev/shm/quillet-bench-XXXXXX" : QString());
    const QString serverDir = state.isEmpty() ? scratch.path() : state + "/server";
    const QString script = QStringLiteral(QUILLET_SOURCE_DIR "/scripts/caldav-server.sh");
    // A kept state is found again at the same address.
    QStringList startArgs{script, "start", serverDir};
    if (!state.isEmpty())
        startArgs << "35232";
    QProcess start;
    // The server stands for another machine: it does not take the processor from this one
    // (a batch process never takes it from a running thread when it wakes).
    start.start("chrt", QStringList{"--batch", "0", "nice", "-n", "19", "bash"} + startArgs);
    start.waitForFinished(30000);
    const QString url = QString::fromUtf8(start.readAllStandardOutput()).trimmed();
    if (url.isEmpty()) {
        std::fprintf(stderr, "radicale did not start\n");
        return 1;
    }
    QFile users(serverDir + "/users");
    users.open(QIODevice::Append);
    users.write("bench:bench-pw\n");
    users.close();

    QTemporaryDir data;
    if (!state.isEmpty())
        QDir().mkpath(state + "/data");
    SetAppDir(state.isEmpty() ? data.path() : state + "/data");
    int result = 0;
    {
        TDbAccess db;
        db.Connect();
        if (!resumed) {
            TTransaction tx(db.Connection);
            for (int i = 0; i < reminders; ++i)
                db.Connection.Exec(FormatSql(
                    "insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,AheadDays) "
                    "values(%s,%s,%s,%s,'2026-12-01','提醒 %s 的文字',%s)",
                    {SqlNum(i % 24), SqlNum(i % 60), SqlNum(i % 4 == 2 ? 135 : 1 + i % 28),
                     SqlNum(i % 6 == 5 ? 4 : i % 4), SqlNum(i), SqlNum(i % 6 >= 4 ? 3 : 0)}));
            const int noteChars = groups ? static_cast<int>(megabytes * 1e6 / groups / 3) : 0;
            const QString note = QString(noteChars, QChar(u'记'));
            for (int g = 1; g <= groups; ++g) {
                db.Connection.Exec(FormatSql(
                    "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (%s,%s,'组 %s')",
                    {SqlNum(g), SqlNum(g > 100 ? g % 100 + 1 : 0), SqlNum(g)}));
                db.Connection.Exec(FormatSql("insert into NoteBook(TypeID,ReMark) values (%s,'%s')",
                                             {SqlNum(g), note}));
            }
            tx.Commit();
        }
        TSyncSettings s;
        s.Load(db);
        s.Enabled = true;
        s.ServerUrl = url;
        s.UserName = "bench";
        s.PassWord = "bench-pw";
        s.Save(db);
        std::printf("%d reminders, %d groups, %.1f MB of notes, server %s\n", reminders, groups,
                    megabytes, qPrintable(url));
        TSyncEngine engine(db);
        TPauseWatch machine;
        // Keystrokes into a 10 KB root note, with no pass running and during the first one,
        // without the watch: its pauses are not taken out of the first pass's gaps.
        machine.Hold(true);
        DbAccess = &db;
        TNote note;
        QString typed(10000, QChar(u'字'));
        TKeys before, busy, after;
        auto type = [&](TKeys& keys) {
            return [&] {
                // The note keeps its length: a later keystroke writes no more than an earlier.
                typed.remove(0, 1);
                typed += QChar(static_cast<char16_t>(u'a' + keys.ms.size() % 26));
                bool stored = false;
                double cpu = 0, own = 0;
                const double ms = KeystrokeMs(db, note, typed, &stored, &cpu, &own);
                // One kept for a retry costs next to nothing now and a whole save later:
                // only saves are weighed.
                if (!stored) {
                    ++keys.kept;
                    return;
                }
                keys.ms.push_back(ms);
                keys.cpu.push_back(cpu);
                keys.own.push_back(own);
            };
        };
        // At the pass's own rhythm, beside the same 1 ms watch: a tight loop would find every
        // cache warm, which no typing does.
        auto typeQuietly = [&](TKeys& keys) {
            QTimer watch, typing;
            watch.setInterval(1);
            QObject::connect(&watch, &QTimer::timeout, [] {});
            typing.setInterval(25);
            QObject::connect(&typing, &QTimer::timeout, type(keys));
            watch.start();
            typing.start();
            while (keys.ms.size() + keys.kept < 1000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        };
        typeQuietly(before);
        TRun first;
        first.ok = true;
        if (!resumed) {
            first = Pass(engine, machine, &TSyncEngine::SyncNow, type(busy));
            Report("first sync (everything up)", first);
            // Before and after the pass alike: what the machine does to a long-running
            // program (its disk cache cut back while it runs) weighs on both sides the same.
            typeQuietly(after);
            ReportKeys("keystrokes before the first sync", before);
            ReportKeys("keystrokes during the first sync", busy);
            ReportKeys("keystrokes after the first sync", after);
            TKeys quiet = before;
            for (auto [from, to] : {std::pair{&after.ms, &quiet.ms},
                                    {&after.cpu, &quiet.cpu},
                                    {&after.own, &quiet.own}})
                to->insert(to->end(), from->begin(), from->end());
            const double quietP99 = quiet.Percentile(0.99);
            const double quietOwn = TKeys::Percentile(quiet.own, 0.99);
            std::printf("p99 during the first sync against no pass running (before and after): "
                        "%.2f ms / %.2f ms = %.2fx; without the machine's pauses %.2f ms / %.2f "
                        "ms = %.2fx\n",
                        busy.Percentile(0.99), quietP99, busy.Percentile(0.99) / quietP99,
                        TKeys::Percentile(busy.own, 0.99), quietOwn,
                        TKeys::Percentile(busy.own, 0.99) / quietOwn);
            std::fflush(stdout);
        }
        machine.Hold(false);
        // One keystroke in a note: the pass that follows a local change, then the same
        // change made again and sent by a whole pass (as "立即同步" runs it).
        db.Connection.Exec("update NoteBook set ReMark=ReMark||'x' where TypeID=1");
        const TRun keystroke = Pass(engine, machine, &TSyncEngine::SyncChanges);
        Report("incremental sync after a keystroke", keystroke);
        db.Connection.Exec("update NoteBook set ReMark=ReMark||'y' where TypeID=1");
        Report("the same by a whole pass", Pass(engine, machine));
        const TRun idle = Pass(engine, machine);
        Report("sync with nothing changed", idle);
        // The same account as a server without the sync report would serve it: compared by
        // the collections' tags and listings.
        db.Connection.Exec("update SyncColl set bSyncReport=0");
        Report("by tags: first pass (all listed)", Pass(engine, machine));
        db.Connection.Exec("update NoteBook set ReMark=ReMark||'z' where TypeID=1");
        Report("by tags: a whole pass after a key", Pass(engine, machine));
        const TRun tagsIdle = Pass(engine, machine);
        Report("by tags: nothing changed", tagsIdle);
        db.Connection.Exec("update SyncColl set bSyncReport=1"); // a kept state stays as it was
        result = first.ok && keystroke.ok && tagsIdle.ok ? 0 : 1;
        // What the window does after a pass that brought changes, each in an event of its
        // own: the list, its rows read on the reader, brought in line; the tree likewise.
        QElapsedTimer t;
        QTreeWidget list, groups;
        TAlam alam;
        alam.LoadList(&list, 0);
        db.Connection.Exec(
            "update Alam set ReMark=ReMark||'x' where ID=(select min(ID) from Alam)");
        alam.PrefetchList(0);
        while (!alam.Prefetched())
            QThread::msleep(1);
        t.start();
        double cpu = ThreadCpuMs();
        alam.RefreshList(&list, 0);
        const double listMs = t.nsecsElapsed() / 1e6;
        const double listCpu = ThreadCpuMs() - cpu;
        t.restart();
        TCardTree tree(&groups, "NoteType", "root");
        tree.LoadTree();
        const double loadMs = t.nsecsElapsed() / 1e6;
        db.Connection.Exec("update NoteType set TypeName=TypeName||'x' where SelfIndex=1");
        t.restart();
        cpu = ThreadCpuMs();
        tree.Refresh();
        std::printf("reload after changes came           list %.1f ms (cpu %.1f), tree %.1f ms "
                    "(cpu %.1f; built anew %.1f ms)\n",
                    listMs, listCpu, t.nsecsElapsed() / 1e6, ThreadCpuMs() - cpu, loadMs);
        DbAccess = nullptr;
    }
    QProcess::execute("bash", {script, "stop", serverDir});
    return result;
}
