// What keeping the notes' earlier versions costs: a keystroke with and without it, side by
// side; the space of a day of typing into a large note; opening the list of 500 versions.
#include "BenchSupport.h"

#include "notepad/NoteHistory.h"
#include "notepad/NotepadPage.h"
#include "notepad/UntNote.h"
#include "notepad/UntNoteHistory.h"
#include "storage/UntCompactDatabase.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTextCursor>
#include <QTreeWidget>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

// About a megabyte of note text: lines of mixed Chinese and ASCII, each a little different.
QString MegabyteNote() {
    QString text;
    for (int i = 0; text.size() < 640 * 1024; ++i)
        text += QStringLiteral("%1 周一 开会记录：讨论 release plan v2, 预算 12345 元。\n").arg(i);
    return text;
}

double Percentile(std::vector<double> ms, double q) {
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))];
}

QString GroupUid() {
    return NoteHistory::GroupUid(DbAccess->Connection, 1);
}

// The notepad page over one group holding the note, that group shown.
struct TNotepad {
    TBenchDb db;
    TNote note;
    std::unique_ptr<TNotepadPage> page;
    explicit TNotepad(const QString& text) {
        NoteData = &note;
        ExecSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                               "(1,0,'会议')"));
        ExecSql(TNote::AddStatement(1, text));
        page = std::make_unique<TNotepadPage>();
        page->resize(900, 600);
        page->show();
        page->LoadNotepad();
        auto* tree = page->findChild<QTreeWidget*>(QStringLiteral("tvNote"));
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    }
    ~TNotepad() {
        page->FreeNotepad();
        page.reset();
        NoteData = nullptr;
    }
    QPlainTextEdit* Memo() const {
        return page->findChild<QPlainTextEdit*>(QStringLiteral("mmoNote"));
    }
};

} // namespace

// A keystroke as the memo's change saves it, in blocks of 50 with versions kept and not,
// alternating, so both see the same machine at the same moment.
static void BM_KeystrokeWithAndWithoutHistory1MB(benchmark::State& state) {
    TNotepad pad(MegabyteNote());
    QTextCursor cursor(pad.Memo()->document());
    cursor.movePosition(QTextCursor::End);
    std::vector<double> on;
    std::vector<double> off;
    int typed = 0;
    for (auto _ : state) {
        const bool keeping = (typed / 50) % 2 == 0;
        NoteHistory::KeepingWhileTyping = keeping;
        QElapsedTimer timer;
        timer.start();
        cursor.insertText(QString(QChar(u'a' + typed++ % 26)));
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        (keeping ? on : off).push_back(ms);
    }
    NoteHistory::KeepingWhileTyping = true;
    state.counters["on_p99_ms"] = Percentile(on, 0.99);
    state.counters["off_p99_ms"] = Percentile(off, 0.99);
    state.counters["on_median_ms"] = Percentile(on, 0.5);
    state.counters["off_median_ms"] = Percentile(off, 0.5);
    state.counters["p99_ratio"] = Percentile(on, 0.99) / Percentile(off, 0.99);
    // A version of the megabyte note as a pause in typing keeps it.
    QElapsedTimer timer;
    timer.start();
    pad.page->KeepVersion();
    state.counters["version_ms"] = double(timer.nsecsElapsed()) / 1e6;
}
BENCHMARK(BM_KeystrokeWithAndWithoutHistory1MB)
    ->UseManualTime()
    ->Iterations(1000)
    ->Unit(benchmark::kMillisecond);

// Eight hours of typing into a megabyte note: every two minutes 60 characters typed and 15
// erased at random places over it, then a version (a pause, or five minutes of typing). The
// data file's growth is measured after the compaction at exit.
static void BM_DayOfTypingSpace1MB(benchmark::State& state) {
    for (auto _ : state) {
        TBenchDb db;
        ExecSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                               "(1,0,'会议')"));
        QString text = MegabyteNote();
        ExecSql(TNote::AddStatement(1, text));
        const QString path = DbAccess->DatabasePath();
        DbAccess->Disconnect();
        CompactDatabase(path, DatabaseKey);
        const qint64 before = QFileInfo(path).size();
        DbAccess->Connect();
        const QString uid = GroupUid();
        QRandomGenerator random(20261208);
        QDateTime at(QDate(2026, 12, 7), QTime(9, 0));
        double keepMs = 0;
        const int versions = 8 * 60 / 2;
        for (int v = 0; v < versions; ++v) {
            for (int k = 0; k < 60; ++k)
                text.insert(random.bounded(text.size()), QChar(u'甲' + k));
            for (int k = 0; k < 15; ++k)
                text.remove(random.bounded(text.size() - 1), 1);
            at = at.addSecs(120);
            QElapsedTimer timer;
            timer.start();
            DbAccess->Write([&](TConnection& c) {
                c.Exec(FormatSql(QStringLiteral("update NoteBook set ReMark='%s' where TypeID=1"),
                                 {text}));
                NoteHistory::Keep(c, uid, text, at, at.addSecs(-30));
            });
            keepMs += double(timer.nsecsElapsed()) / 1e6;
        }
        DbAccess->Disconnect();
        CompactDatabase(path, DatabaseKey);
        const qint64 after = QFileInfo(path).size();
        DbAccess->Connect();
        state.counters["versions"] = versions;
        state.counters["growth_MB"] = double(after - before) / (1024.0 * 1024.0);
        state.counters["note_MB"] = double(text.toUtf8().size()) / (1024.0 * 1024.0);
        state.counters["write_and_keep_ms"] = keepMs / versions;
    }
}
BENCHMARK(BM_DayOfTypingSpace1MB)->Iterations(1)->Unit(benchmark::kSecond);

// 历史版本 over a megabyte note with 500 versions: the list and the preview of the newest,
// with what differs from the current text marked.
static void BM_OpenHistory500Versions(benchmark::State& state) {
    TBenchDb db;
    ExecSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                           "(1,0,'会议')"));
    QString text = MegabyteNote();
    const QString uid = GroupUid();
    QRandomGenerator random(7);
    QDateTime at(QDate(2026, 11, 20), QTime(9, 0));
    DbAccess->Write([&](TConnection& c) {
        for (int v = 0; v < 500; ++v) {
            for (int k = 0; k < 20; ++k)
                text.insert(random.bounded(text.size()), QChar(u'乙' + k));
            at = at.addSecs(300);
            NoteHistory::Keep(c, uid, text, at, at.addSecs(-30));
        }
    });
    text.insert(text.size() / 2, QStringLiteral("当前的一行\n"));
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        TFormNoteHistory form(DbAccess->Connection, uid, text, QStringLiteral("根目录->会议"));
        form.show();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        benchmark::DoNotOptimize(form.Previewed());
        state.SetIterationTime(ms / 1000);
    }
}
BENCHMARK(BM_OpenHistory500Versions)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
