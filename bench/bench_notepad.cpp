// The notepad's hot paths: the save that runs on every change of the memo, and loading a
// large group tree.
#include "BenchSupport.h"

#include "notepad/UntNote.h"
#include "notepad/UntTree.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTextCursor>
#include <QTreeWidget>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

namespace {

// About `bytes` of note text in UTF-8: lines of mixed Chinese and ASCII.
QString NoteOfSize(int bytes) {
    const QString line =
        QStringLiteral("2026-12-07 周一 开会记录：讨论 release plan v2, 预算 12345 元。\n");
    const int lineBytes = static_cast<int>(line.toUtf8().size());
    QString text;
    text.reserve(bytes);
    for (int size = 0; size + lineBytes <= bytes; size += lineBytes)
        text += line;
    return text;
}

void Report(benchmark::State& state, std::vector<double> ms) {
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, static_cast<size_t>(q * static_cast<double>(ms.size())))];
    };
    state.counters["median_ms"] = at(0.5);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = ms.back();
}

// One keystroke: the memo gets one more character (not timed), then what its change event
// does: take the text, count the group's rows, read the row, compare, rewrite and commit.
void KeystrokeSave(benchmark::State& state) {
    TBenchDb db;
    TNote note;
    const QString id = QStringLiteral("1");
    const QString start = NoteOfSize(static_cast<int>(state.range(0)));
    QPlainTextEdit memo;
    memo.setPlainText(start);
    SaveNoteText(note, id, memo.toPlainText());
    QTextCursor cursor(memo.document());
    cursor.movePosition(QTextCursor::End);
    std::vector<double> samples;
    int typed = 0;
    for (auto _ : state) {
        cursor.insertText(QString(QChar(u'a' + typed++ % 26)));
        const auto begin = std::chrono::steady_clock::now();
        const bool wrote = SaveNoteText(note, id, memo.toPlainText());
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(wrote);
        const double seconds = std::chrono::duration<double>(end - begin).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000.0);
    }
    Report(state, std::move(samples));
}

} // namespace

static void BM_KeystrokeSave10KB(benchmark::State& state) {
    KeystrokeSave(state);
}
BENCHMARK(BM_KeystrokeSave10KB)
    ->Arg(10 * 1024)
    ->UseManualTime()
    ->Iterations(2000)
    ->Unit(benchmark::kMillisecond);

static void BM_KeystrokeSave1MB(benchmark::State& state) {
    KeystrokeSave(state);
}
BENCHMARK(BM_KeystrokeSave1MB)
    ->Arg(1024 * 1024)
    ->UseManualTime()
    ->Iterations(400)
    ->Unit(benchmark::kMillisecond);

// 5,000 groups, each under a random earlier one (or the root), loaded into a shown tree view;
// the time includes the layout and painting the view does for it.
static void BM_LoadTree5000Groups(benchmark::State& state) {
    TBenchDb db;
    QRandomGenerator random(20261207);
    QString batch = QStringLiteral("BEGIN;");
    for (int i = 1; i <= 5000; ++i)
        batch +=
            FormatSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) "
                                     "values (%s,%s,'%s');"),
                      {SqlNum(i), SqlNum(random.bounded(i)), QStringLiteral("分组 %1").arg(i)});
    DbAccess->Connection.Exec(batch + QStringLiteral("COMMIT;"));
    std::vector<double> samples;
    for (auto _ : state) {
        QTreeWidget view;
        view.resize(200, 400);
        view.show();
        QApplication::processEvents();
        const auto begin = std::chrono::steady_clock::now();
        TCardTree tree(&view, QStringLiteral("NoteType"), QStringLiteral("根目录"));
        tree.LoadTree();
        view.setCurrentItem(tree.RootNode);
        view.repaint();
        QApplication::processEvents();
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - begin).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000.0);
        benchmark::DoNotOptimize(tree.MaxIndex());
    }
    Report(state, std::move(samples));
}
BENCHMARK(BM_LoadTree5000Groups)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// The same tree shown, brought in line after one group was renamed (after a sync pass).
static void BM_RefreshTree5000Groups(benchmark::State& state) {
    TBenchDb db;
    QRandomGenerator random(20261207);
    QString batch = QStringLiteral("BEGIN;");
    for (int i = 1; i <= 5000; ++i)
        batch += TCardTree::AddGroupStatement(QStringLiteral("NoteType"), i, random.bounded(i),
                                              QStringLiteral("分组 %1").arg(i)) +
                 QLatin1Char(';');
    DbAccess->Connection.Exec(batch + QStringLiteral("COMMIT;"));
    QTreeWidget view;
    view.resize(200, 400);
    view.show();
    TCardTree tree(&view, QStringLiteral("NoteType"), QStringLiteral("根目录"));
    tree.LoadTree();
    QApplication::processEvents();
    std::vector<double> samples;
    int round = 0;
    for (auto _ : state) {
        DbAccess->Connection.Exec(
            QStringLiteral("update NoteType set TypeName='改名 %1' where SelfIndex=77")
                .arg(++round));
        const auto begin = std::chrono::steady_clock::now();
        tree.Refresh();
        view.repaint();
        QApplication::processEvents();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000.0);
    }
    Report(state, std::move(samples));
}
BENCHMARK(BM_RefreshTree5000Groups)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
