// Start-up of the real program: from process start to the first paint of its main window, and
// to the root note in the memo, with an empty data file, with a full one (10,000 reminders,
// 5,000 groups, a 1 MB root note) and with the full one encrypted with the login password
// (typed into the password window as soon as it shows), the runs alternating. Prints the
// medians, and the time a 20 MB data file takes to be encrypted with a password.
//
//   quillet_startup_bench [runs] [program]
//   quillet_startup_bench --prepare DIR     only makes DIR/empty and DIR/full, for a profiler
//
// The program is the test build, which reports the two moments when QUILLET_TEST_STARTUP
// carries the monotonic clock of its start. QT_QPA_PLATFORM is passed on (offscreen when
// unset); run under xvfb-run with QT_QPA_PLATFORM=xcb for a real display.
#include "BenchSupport.h"
#include "common/UntAppDir.h"
#include "shell/UntApplication.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

namespace {

qint64 MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// About `bytes` of note text in UTF-8: lines of mixed Chinese and ASCII.
QString NoteOfSize(int bytes) {
    const QString line =
        QStringLiteral("2026-12-07 周一 开会记录：讨论 release plan v2, 预算 12345 元。\n");
    const int lineBytes = static_cast<int>(line.toUtf8().size());
    QString text;
    for (int size = 0; size + lineBytes <= bytes; size += lineBytes)
        text += line;
    return text;
}

void Fill() {
    QString batch = QStringLiteral("BEGIN;") + ReminderInserts(10000);
    // Each group under a random earlier one or the root.
    QRandomGenerator random(20261207);
    for (int i = 1; i <= 5000; ++i)
        batch += QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) "
                                "values (%1,%2,'分组 %1');")
                     .arg(i)
                     .arg(random.bounded(i));
    DbAccess->Connection.Exec(batch + QStringLiteral("COMMIT;"));
    ExecSql(FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values(0,'%s')"),
                      {NoteOfSize(1024 * 1024)}));
}

// A folder with its own copy of the program and a data file made by the program's own code.
const QString BenchPassword = QStringLiteral("长一点的登录密码 2026");

QString Prepare(const QString& folder, const QString& program, bool full, bool encrypted = false) {
    QDir().mkpath(folder + QStringLiteral("/run"));
    QFile::copy(program, folder + QStringLiteral("/quillet"));
    SetAppDir(folder);
    TDbAccess db;
    DbAccess = &db;
    db.Connect();
    if (full)
        Fill();
    if (encrypted)
        db.Rekey(BenchPassword);
    db.Disconnect();
    DbAccess = nullptr;
    return folder;
}

struct TSample {
    double paint = -1;
    double paintCpu = -1;
    double note = -1;
};

TSample RunOnce(const QString& folder) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder + QStringLiteral("/run"));
    // Kept keys too, as on every start but the first after a file is made or restored.
    env.insert(QStringLiteral("XDG_CACHE_HOME"), folder + QStringLiteral("/cache"));
    env.insert(QStringLiteral("QUILLET_TEST_BOXLOG"), folder + QStringLiteral("/boxes.txt"));
    env.insert(QStringLiteral("QUILLET_TEST_PASSWORDS"), BenchPassword);
    p.setProcessChannelMode(QProcess::MergedChannels);
    env.insert(QStringLiteral("QUILLET_TEST_STARTUP"), QString::number(MonotonicNs()));
    p.setProcessEnvironment(env);
    p.start(folder + QStringLiteral("/quillet"), {});
    TSample sample;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return sample;
    }
    const QString out = QString::fromUtf8(p.readAll());
    static const QRegularExpression paint(QStringLiteral("^paint ([0-9.]+) cpu ([0-9.]+)"),
                                          QRegularExpression::MultilineOption);
    static const QRegularExpression note(QStringLiteral("^note ([0-9.]+)"),
                                         QRegularExpression::MultilineOption);
    if (const auto m = paint.match(out); m.hasMatch()) {
        sample.paint = m.captured(1).toDouble();
        sample.paintCpu = m.captured(2).toDouble();
    }
    if (const auto m = note.match(out); m.hasMatch())
        sample.note = m.captured(1).toDouble();
    if (sample.paint < 0)
        std::fprintf(stderr, "no time reported:\n%s\n", qPrintable(out));
    return sample;
}

double Median(std::vector<double> v) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TQuilletApp app(argc, argv);
    TCardException reporter;
    CardException = &reporter;
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 && args.at(1) == QLatin1String("--prepare")) {
        const QString program = QStringLiteral(QUILLET_TESTABLE_EXE);
        Prepare(args.at(2) + QStringLiteral("/empty"), program, false);
        Prepare(args.at(2) + QStringLiteral("/full"), program, true);
        CardException = nullptr;
        return 0;
    }
    const int runs = args.size() > 1 ? args.at(1).toInt() : 15;
    const QString program = args.size() > 2 ? args.at(2) : QStringLiteral(QUILLET_TESTABLE_EXE);

    QTemporaryDir dir;
    const std::map<QString, QString> folders = {
        {QStringLiteral("empty"), Prepare(dir.path() + QStringLiteral("/empty"), program, false)},
        {QStringLiteral("full"), Prepare(dir.path() + QStringLiteral("/full"), program, true)},
        {QStringLiteral("locked"),
         Prepare(dir.path() + QStringLiteral("/locked"), program, true, true)}};
    std::map<QString, std::vector<double>> paints, paintCpus, notes;
    for (const auto& [name, folder] : folders)
        RunOnce(folder); // warms the file cache
    for (int i = 0; i < runs; ++i)
        for (const auto& [name, folder] : folders) {
            const TSample s = RunOnce(folder);
            if (s.paint < 0)
                return 1;
            paints[name].push_back(s.paint);
            paintCpus[name].push_back(s.paintCpu);
            notes[name].push_back(s.note);
        }
    std::printf("%d runs each, medians in seconds from process start "
                "(processor time used by then in brackets)\n",
                runs);
    for (const auto& [name, folder] : folders) {
        auto [low, high] = std::minmax_element(paints[name].begin(), paints[name].end());
        std::printf("%-6s first paint %.3f (cpu %.3f; min %.3f, max %.3f)   note shown %.3f\n",
                    qPrintable(name), Median(paints[name]), Median(paintCpus[name]), *low, *high,
                    Median(notes[name]));
    }
    {
        // Encrypting a 20 MB data file with the password, and back.
        SetAppDir(dir.path() + QStringLiteral("/big/"));
        QDir().mkpath(dir.path() + QStringLiteral("/big"));
        TDbAccess db;
        DbAccess = &db;
        db.Connect();
        for (int i = 1; i <= 20; ++i)
            ExecSql(FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values(%s,'%s')"),
                              {SqlNum(i), NoteOfSize(1024 * 1024)}));
        db.Connection.Checkpoint();
        const double mb = QFileInfo(TDbAccess::DatabasePath()).size() / 1e6;
        const qint64 start = MonotonicNs();
        db.Rekey(BenchPassword);
        const qint64 encrypted = MonotonicNs();
        db.Rekey(DatabaseKey);
        const qint64 back = MonotonicNs();
        std::printf("re-key of a %.1f MB data file: to the password %.3f s, back %.3f s\n", mb,
                    (encrypted - start) / 1e9, (back - encrypted) / 1e9);
        db.Disconnect();
        DbAccess = nullptr;
    }
    CardException = nullptr;
    return 0;
}
