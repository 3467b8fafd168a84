#include "SyncTestSupport.h"

#include "common/UntAppDir.h"
#include "storage/UntSqlText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>

namespace {

// Run as a child of the test (QUILLET_SYNC_CHILD = the data folder): one sync pass of that
// data file, so that the test can kill a real process in the middle of it. It runs as the
// tests would start, once everything of the program is set up.
class TSyncChild : public ::testing::Environment {
public:
    void SetUp() override {
        const QString dir = qEnvironmentVariable("QUILLET_SYNC_CHILD");
        if (dir.isEmpty())
            return;
        SetAppDir(dir);
        TDbAccess db;
        db.Connect();
        TSyncEngine engine(db);
        QObject::connect(&engine, &TSyncEngine::Finished, [](bool ok, const QString& message) {
            fprintf(stderr, "%s\n", qPrintable(message));
            std::_Exit(ok ? 0 : 1);
        });
        engine.SyncNow();
        QEventLoop().exec();
        std::_Exit(2);
    }
};
const auto* const SyncChild = ::testing::AddGlobalTestEnvironment(new TSyncChild);

int Agreed(const QString& dataFile) {
    TConnection c;
    try {
        c.Open(dataFile, DatabaseKey);
        TCursor n;
        n.Open(c, "select count(*) from SyncItem where ETag<>''");
        return static_cast<int>(n.AsInteger(0));
    } catch (const std::exception& e) {
        fprintf(stderr, "agreed: %s\n", e.what());
        return 0;
    }
}

QStringList ReminderInserts(int count, const QString& text) {
    QStringList batch;
    for (int i = 0; i < count; ++i)
        batch << FormatSql("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                           "values(8,0,1,1,'2026-12-01','%s %s')",
                           {text, SqlNum(i)});
    return batch;
}

void Fill(TMachine& m, int reminders) {
    QStringList batch = ReminderInserts(reminders, "提醒");
    for (int g = 1; g <= 20; ++g)
        batch << FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                           "(%s,%s,'组 %s')",
                           {SqlNum(g), SqlNum(g > 10 ? g - 10 : 0), SqlNum(g)})
              << FormatSql("insert into NoteBook(TypeID,ReMark) values (%s,'笔记 %s')",
                           {SqlNum(g), SqlNum(g)});
    m.Exec(batch.join("@#@"));
}

// Two data files of one user on the shared server.
struct TTwoMachines {
    QString User = TRadicale::Shared().AddUser();
    TMachine A{TRadicale::Shared().Url(), User};
    TMachine B{TRadicale::Shared().Url(), User};
};

void ExpectSameAndNothingPending(TMachine& a, TMachine& b, int reminders) {
    EXPECT_EQ(a.Snapshot(), b.Snapshot());
    EXPECT_EQ(b.Count("select count(*) from Alam"), reminders);
    EXPECT_EQ(b.Count("select count(*) from NoteType"), 20);
    EXPECT_EQ(a.Count("select count(*) from SyncPending"), 0);
}

TEST(SyncInterrupted, ServerStoppedInTheMiddleLosesNothingAndTheNextPassFinishes) {
    TRadicale server;
    const QString user = server.AddUser();
    TMachine a(server.Url(), user);
    TMachine b(server.Url(), user);
    Fill(a, 120);
    QSignalSpy finished(&a.Engine(), &TSyncEngine::Finished);
    a.Engine().SyncNow();
    ASSERT_TRUE(WaitFor([&] {
        return a.Count("select count(*) from SyncItem where ETag<>''") >= 20;
    })) << a.Engine().StateText()
        << " " << a.Count("select count(*) from SyncItem");
    server.Stop();
    ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }, 60000));
    EXPECT_FALSE(finished.first().at(0).toBool());
    EXPECT_TRUE(a.Engine().StateText().startsWith("同步失败：")) << a.Engine().StateText();
    EXPECT_LT(a.Count("select count(*) from SyncItem where ETag<>''"), 140);
    server.Start();
    QString message;
    ASSERT_TRUE(a.Sync(&message)) << message;
    ASSERT_TRUE(b.Sync(&message)) << message;
    ExpectSameAndNothingPending(a, b, 120);
}

TEST(SyncInterrupted, ProcessKilledInTheMiddleLosesNothingAndTheNextPassFinishes) {
    TTwoMachines two;
    TMachine& a = two.A;
    TMachine& b = two.B;
    Fill(a, 120);
    a.Close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLET_SYNC_CHILD", a.Dir());
    child.setProcessEnvironment(env);
    // Any one test, so that the environment (the child's pass) runs.
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=SyncSchema.FailedUpgradeLeavesTheFileByteForByte"});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(WaitFor([&] { return Agreed(a.Path()) >= 20; }, 60000))
        << child.readAllStandardError().toStdString() << child.exitCode();
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished();
    EXPECT_LT(Agreed(a.Path()), 140);
    a.Reopen();
    QString message;
    ASSERT_TRUE(a.Sync(&message)) << message;
    ASSERT_TRUE(b.Sync(&message)) << message;
    ExpectSameAndNothingPending(a, b, 120);
}

// Stands in for a disk that is busy with other writes: each of the sync's commits waits.
struct TSlowCommits {
    std::atomic<int> slow{0};   // commits still to be held up
    std::atomic<int> refuse{0}; // then: commits still to be refused
    std::atomic<int> onInterfaceThread{0};
    QThread* interfaceThread = QThread::currentThread();

    static int Hook(void* self) {
        auto* s = static_cast<TSlowCommits*>(self);
        if (s->slow > 0) {
            --s->slow;
            s->onInterfaceThread += QThread::currentThread() == s->interfaceThread ? 1 : 0;
            QThread::msleep(150);
            return 0;
        }
        return s->refuse > 0 && s->refuse-- > 0 ? 1 : 0;
    }
};

TEST(SyncInterrupted, CommitsThatWaitForTheDiskHoldUpNoEventAndARefusedOneLosesNothing) {
    TTwoMachines two;
    TMachine& a = two.A;
    TMachine& b = two.B;
    Fill(a, 10);
    QString message;
    ASSERT_TRUE(a.Sync(&message)) << message; // finds the calendars, as a first pass does
    a.Exec(ReminderInserts(40, "另一条").join("@#@"));
    TSlowCommits hook;
    sqlite3_commit_hook(a.Db().SideWriter.Connection().Handle(), &TSlowCommits::Hook, &hook);

    // The third slice's commit is refused (as a full disk would): the pass fails, and the
    // rows it wrote before are kept.
    hook.refuse = 1;
    hook.slow = 2;
    EXPECT_FALSE(a.Sync(&message));
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(hook.refuse.load(), 0);

    hook.slow = 5;
    QElapsedTimer gap;
    qint64 longestGap = 0;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, gap.restart()); });
    gap.start();
    watch.start();
    ASSERT_TRUE(a.Sync(&message)) << message;
    watch.stop();
    EXPECT_EQ(hook.slow.load(), 0);
    EXPECT_EQ(hook.onInterfaceThread.load(), 0);
    EXPECT_LT(longestGap, 100);

    sqlite3_commit_hook(a.Db().SideWriter.Connection().Handle(), nullptr, nullptr);
    ASSERT_TRUE(b.Sync(&message)) << message;
    ExpectSameAndNothingPending(a, b, 50);
}

// A first download from a server too slow to answer every read in time: each pass keeps
// what came and says the server was slow, and the next goes on from there.
TEST(SyncInterrupted, ASlowServerIsReadAcrossPassesEachKeepingWhatCame) {
    const QString user = TRadicale::Shared().AddUser();
    TMachine b(TRadicale::Shared().Url(), user);
    Fill(b, 380);
    QString message;
    ASSERT_TRUE(b.Sync(&message)) << message;
    TSlowServer slow(QUrl(TRadicale::Shared().Url()), 500);
    TMachine a(slow.Url(), user);
    a.Engine().SetTimeout(1400);
    std::vector<int> kept;
    bool done = false;
    while (!done && kept.size() < 8) {
        // Tried again once the server has caught up.
        ASSERT_TRUE(WaitFor([&] { return slow.Idle(); }, 30000));
        done = a.Sync(&message, 120000);
        kept.push_back(Agreed(a.Path()));
        EXPECT_TRUE(done || (message.contains(QStringLiteral("连接超时")) &&
                             message.contains(QStringLiteral("已保存"))))
            << message.toStdString();
    }
    ASSERT_TRUE(done) << message.toStdString();
    EXPECT_GE(kept.size(), 2u);
    for (size_t i = 1; i < kept.size(); ++i)
        EXPECT_GT(kept[i], kept[i - 1]);
    ASSERT_TRUE(b.Sync(&message)) << message.toStdString();
    ExpectSameAndNothingPending(a, b, 380);
}

} // namespace
