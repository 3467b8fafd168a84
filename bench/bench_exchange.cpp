// Calendar files and notes folders of a large size, exchanged as the commands do (off the
// interface thread, behind the progress window) and, for comparison, on the interface thread:
//   quillet_bench_exchange [events=20000] [groups=2000]
// For each: the time it took and the longest stall of the event loop meanwhile (a 1 ms timer
// on the interface thread; how long its longest gap between two ticks was).
#include "BenchSupport.h"

#include "common/UntBackground.h"
#include "common/UntClock.h"
#include "notepad/UntNoteFolder.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamIcs.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

struct TRun {
    double ms = 0;
    double stallMs = 0;
};

// Runs what on the interface thread while a 1 ms timer measures the longest gap between ticks.
TRun Measure(const std::function<void()>& what) {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = qMax(longest, now - last);
        last = now;
    });
    tick.start();
    clock.start();
    what();
    const qint64 end = clock.nsecsElapsed();
    longest = qMax(longest, end - last);
    return {end / 1e6, longest / 1e6};
}

void Print(const char* what, const TRun& run) {
    std::printf("%-44s %9.0f ms   longest stall %7.1f ms\n", what, run.ms, run.stallMs);
}

QList<TAlamRecord> Reminders(int count) {
    QList<TAlamRecord> alams;
    for (int i = 0; i < count; ++i) {
        TAlamRecord a;
        a.ID = i + 1;
        a.ReDay = i % 5 == 4 ? rdYearly : i % 4;
        a.iHour = i % 24;
        a.iMinute = i % 60;
        a.iMonWeek = a.ReDay == rdWeekly ? 135 : (a.ReDay == rdMonthly ? 1 + i % 28 : 1);
        a.AlamDate = QDate(2027, 1 + i % 12, 1 + i % 28);
        a.ReMark = QStringLiteral("第%1条提醒").arg(i);
        alams << a;
    }
    return alams;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int events = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int groups = argc > 2 ? std::atoi(argv[2]) : 2000;
    Clock::SetNow(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    TBenchDb db;
    const QString ics = db.Folder() + "/big.ics";
    {
        QFile file(ics);
        file.open(QIODevice::WriteOnly);
        file.write(AlamsToIcs(Reminders(events), Clock::Now(), nullptr));
    }
    std::printf("%d events (%lld bytes), %d groups\n", events,
                static_cast<long long>(QFile(ics).size()), groups);

    auto inBackground = [](const std::function<void(TProgress&)>& work) {
        return [work] { RunWithProgress(nullptr, QStringLiteral("…"), work); };
    };
    Print("import calendar file, off the interface",
          Measure(inBackground([&](TProgress& p) { ImportIcs(ics, &p); })));
    Print("export calendar file, off the interface",
          Measure(inBackground([&](TProgress& p) { ExportIcs(db.Folder() + "/out.ics", 0, &p); })));
    ExecSql(QStringLiteral("delete from Alam"));
    Print("import calendar file, on the interface", Measure([&] { ImportIcs(ics); }));
    Print("export calendar file, on the interface",
          Measure([&] { ExportIcs(db.Folder() + "/out2.ics"); }));

    QString batch;
    for (int i = 1; i <= groups; ++i)
        batch += FormatSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) "
                                          "values(%s,%s,'组%s');insert into NoteBook(TypeID,"
                                          "ReMark) values(%s,'%s');"),
                           {SqlNum(i), SqlNum(i > 10 ? i % 10 + 1 : 0), SqlNum(i), SqlNum(i),
                            QString(2000, QChar(u'记'))});
    DbAccess->Connection.Exec(batch);
    Print("export notes folder, off the interface", Measure(inBackground([&](TProgress& p) {
              ExportNotes(db.Folder() + "/notes", NativeLineBreak(), &p);
          })));
    Print("import notes folder, off the interface",
          Measure(inBackground([&](TProgress& p) { ImportNotes(db.Folder() + "/notes", 0, &p); })));
    return 0;
}
