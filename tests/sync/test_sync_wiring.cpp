#include "SyncTestSupport.h"
#include "notepad/NotepadPage.h"
#include "notepad/UntTree.h"
#include "settings/UntPassHash.h"
#include "shell/Main.h"
#include "shell/UntSyncHookup.h"
#include "storage/UntSqlText.h"
#include "sync/UntSyncStore.h"

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QThread>
#include <QTreeWidget>
#include <functional>

namespace {

struct TResult {
    int code = -1;
    QString output;
};

TResult RunCommand(TProgramRun& run, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess* p = run.Start(QString(), {}, arguments);
    p->write(input);
    p->closeWriteChannel();
    TResult r;
    if (!p->waitForFinished(60000))
        return r;
    r.code = p->exitCode();
    r.output = QString::fromLocal8Bit(p->readAll());
    return r;
}

// Gives run the data file of a machine of user's, as prepare left it.
void CopyMachineData(const QString& user, TProgramRun& run,
                     const std::function<void(TMachine&)>& prepare) {
    TMachine here(TRadicale::Shared().Url(), user);
    prepare(here);
    here.Close();
    ASSERT_TRUE(QFile::copy(here.Path(), run.Data()));
}

} // namespace

TEST(SyncCommandLine, SetUpThenSyncAndRefusedWhileACopyRuns) {
    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    QTemporaryDir dir;
    TProgramRun run(dir.path());
    ASSERT_NO_FATAL_FAILURE(CopyMachineData(user, run, [](TMachine& here) {
        here.Exec(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                            "(701,0,'%s')",
                            {QStringLiteral("命令行的组")}));
    }));

    TResult r = RunCommand(run, {"--sync-setup", server.Url(), user}, (user + "-wrong\n").toUtf8());
    EXPECT_EQ(r.code, 0) << r.output.toStdString();
    r = RunCommand(run, {"--sync"});
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(r.output.trimmed().count('\n'), 0) << "one line: " << r.output.toStdString();

    r = RunCommand(run, {"--sync-setup", server.Url(), user}, (user + "-pw\n").toUtf8());
    EXPECT_EQ(r.code, 0) << r.output.toStdString();
    r = RunCommand(run, {"--sync"});
    EXPECT_EQ(r.code, 0) << r.output.toStdString();

    TMachine there(server.Url(), user);
    ASSERT_TRUE(there.Sync());
    EXPECT_FALSE(there.UidOfGroup(QStringLiteral("命令行的组")).isEmpty());

    // While the program runs, the command changes nothing.
    QProcess* copy = run.Start();
    ASSERT_TRUE(copy->waitForStarted());
    QThread::msleep(1500);
    const QByteArray before = ReadAll(run.Data());
    r = RunCommand(run, {"--sync-setup", "https://127.0.0.1:1/", "other"}, "x\n");
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.output.contains(QStringLiteral("正在运行"))) << r.output.toStdString();
    r = RunCommand(run, {"--sync"});
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(ReadAll(run.Data()), before);
}

TEST(SyncCommandLine, LoginPasswordComesFirstAndAWrongOneChangesNothing) {
    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    QTemporaryDir dir;
    TProgramRun run(dir.path());
    ASSERT_NO_FATAL_FAILURE(CopyMachineData(user, run, [](TMachine& here) {
        here.Exec("update SyncSet set UserName='nobody', PassWord='none'");
    }));
    Sqlcipher(run.Data(),
              SqlcipherUnlock + QStringLiteral("update SysSet set bPass=-1, PassWord='%1';\n")
                                    .arg(HashPassword("秘密")));
    const QByteArray before = ReadAll(run.Data());
    const QByteArray good = QString("秘密\n%1-pw\n").arg(user).toUtf8();
    for (const QByteArray& input :
         {QByteArray(), QByteArray("wrong\n") + good.mid(good.indexOf('\n') + 1)}) {
        TResult r = RunCommand(run, {"--sync-setup", server.Url(), user}, input);
        EXPECT_NE(r.code, 0);
        EXPECT_EQ(r.output.trimmed().count('\n'), 0) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(QStringLiteral("登录密码"))) << r.output.toStdString();
        r = RunCommand(run, {"--sync"}, input);
        EXPECT_NE(r.code, 0);
        EXPECT_TRUE(r.output.contains(QStringLiteral("登录密码"))) << r.output.toStdString();
    }
    EXPECT_EQ(ReadAll(run.Data()), before);

    TResult r = RunCommand(run, {"--sync-setup", server.Url(), user}, good);
    EXPECT_EQ(r.code, 0) << r.output.toStdString();
    r = RunCommand(run, {"--sync"}, "秘密\n");
    EXPECT_EQ(r.code, 0) << r.output.toStdString();
    EXPECT_EQ(
        Sqlcipher(run.Data(), SqlcipherUnlock + "select UserName, LastSync<>'' from SyncSet;\n"),
        user + "|1");
}

class SyncWindowTest : public MainWindowTest {
protected:
    // The window's data file set up for user's account at url.
    static void TurnSyncOn(const QString& url, const QString& user) {
        TSyncSettings s;
        s.Load(*DbAccess);
        s.Enabled = true;
        s.ServerUrl = url;
        s.UserName = user;
        s.PassWord = user + "-pw";
        s.Save(*DbAccess);
    }
};

TEST_F(SyncWindowTest, MenuItemsAndSyncNowBringTheOtherMachinesNotesIntoView) {
    const QList<QAction*> items = Child<QMenu>(Main(), "pmSystem")->actions();
    ASSERT_GE(items.size(), 3);
    EXPECT_TRUE(items[items.size() - 3]->isSeparator());
    EXPECT_EQ(items[items.size() - 2]->text(), QStringLiteral("同步设置…"));
    EXPECT_EQ(items.last()->text(), QStringLiteral("立即同步"));
    QAction* trayNow = Child<QAction>(Child<QMenu>(Main(), "PopupMenu"), "NSyncNow2");
    ASSERT_NE(trayNow, nullptr);
    EXPECT_EQ(trayNow->text(), QStringLiteral("立即同步"));
    QLabel* state = Child<QLabel>(Main(), "LabSync");
    ASSERT_NE(state, nullptr);
    EXPECT_FALSE(state->isVisible()) << "not set up: no sync state";

    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    TMachine there(server.Url(), user);
    there.Exec(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                         "(703,0,'%s')",
                         {QStringLiteral("远方的组")}));
    there.Exec("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
               "values(8,0,1,1,'2026-12-07','远方的提醒')");
    there.Exec("delete from NoteBook where TypeID=0");
    there.Exec(FormatSql("insert into NoteBook(TypeID,ReMark) values (0,'%s')",
                         {QStringLiteral("远方的根笔记")}));
    ASSERT_TRUE(there.Sync());

    // A group of this machine's is open, the cursor inside its note.
    ExecSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                           "(5,0,'本地组')"));
    ExecSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values (5,'本地笔记')"));
    NotepadPageOf(Main())->ReloadNotepad();
    auto* tree = Child<QTreeWidget>(Main(), "tvNote");
    auto* memo = Child<QPlainTextEdit>(Main(), "mmoNote");
    tree->setCurrentItem(
        tree->findItems(QStringLiteral("本地组"), Qt::MatchExactly | Qt::MatchRecursive).value(0));
    QTextCursor cursor = memo->textCursor();
    cursor.setPosition(2);
    memo->setTextCursor(cursor);

    TurnSyncOn(server.Url(), user);
    trayNow->trigger();
    EXPECT_TRUE(WaitFor([&] { return state->text().startsWith(QStringLiteral("已同步")); }))
        << state->text().toStdString();
    EXPECT_TRUE(state->isVisible());

    // The list is read again off the interface thread and filled when the rows are in.
    auto* list = Child<QTreeWidget>(Main(), "lv1");
    EXPECT_TRUE(WaitFor([&] {
        return !list->findItems(QStringLiteral("远方的提醒"), Qt::MatchExactly, 3).isEmpty();
    }));
    EXPECT_FALSE(tree->findItems(QStringLiteral("远方的组"), Qt::MatchExactly | Qt::MatchRecursive)
                     .isEmpty());
    EXPECT_EQ(ReadRows("select ReMark from NoteBook where TypeID=0"),
              TRows{{QStringLiteral("远方的根笔记")}});
    // The open group stays open where it was.
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("本地组"));
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("本地笔记"));
    EXPECT_EQ(memo->textCursor().position(), 2);
}

// A pass through a slow server brings another machine's text of the open note and new groups;
// while it is still under way, a key is typed into the old text and a group is added in the
// tree. Neither text is lost, and no two groups share an index or a note.
TEST_F(SyncWindowTest, AKeystrokeAndANewGroupDuringARealPassLoseNothing) {
    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    TMachine there(server.Url(), user);
    there.Exec(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                         "(1,0,'%s')",
                         {QStringLiteral("工作")}));
    there.Exec(FormatSql("insert into NoteBook(TypeID,ReMark) values (1,'%s')", {"旧"}));
    ASSERT_TRUE(there.Sync());

    TSlowServer slow(QUrl(server.Url()), 150);
    TurnSyncOn(slow.Url(), user);
    TSyncEngine& engine = *SyncHookup(Main())->Engine();
    QSignalSpy finished(&engine, &TSyncEngine::Finished);
    engine.SyncNow();
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 1; }, 60000));
    ASSERT_TRUE(finished.takeFirst().at(0).toBool());

    there.Exec(FormatSql("update NoteBook set ReMark='%s' where TypeID=1", {"别人写的"}));
    for (int g = 2; g <= 30; ++g)
        there.Exec(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                             "(%s,1,'远方 %s')",
                             {SqlNum(g), SqlNum(g)}));
    ASSERT_TRUE(there.Sync());
    NotepadPageOf(Main())->ReloadNotepad();
    auto* tree = Child<QTreeWidget>(Main(), "tvNote");
    auto* memo = Child<QPlainTextEdit>(Main(), "mmoNote");
    tree->setCurrentItem(
        tree->findItems(QStringLiteral("工作"), Qt::MatchExactly | Qt::MatchRecursive).value(0));
    ASSERT_EQ(memo->toPlainText(), QStringLiteral("旧"));
    // Something of this machine's to send keeps the pass going after it took the others'.
    ExecSql("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
            "values(8,0,1,1,'2026-12-24','本地的提醒')");

    engine.SyncNow();
    ASSERT_TRUE(WaitFor([&] {
        return ReadRows("select 1 from NoteType where TypeName='远方 30' union all "
                        "select 1 from NoteBook where ReMark='别人写的'")
                   .size() == 2;
    }));
    ASSERT_TRUE(engine.Running()) << "the pass ended before the edits: nothing was tried";
    memo->moveCursor(QTextCursor::End);
    TypeText(memo, QStringLiteral("！"));
    NotepadPageOf(Main())->NoteTree()->AddGroup(QStringLiteral("本地新组"));
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 1; }, 60000));
    ASSERT_TRUE(finished.first().at(0).toBool()) << finished.first().at(1).toString().toStdString();
    // Another pass sends what was typed; the other machine then has everything.
    finished.clear();
    engine.SyncNow();
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 1 && !engine.Running(); }, 60000));
    ASSERT_TRUE(there.Sync());
    const QString notes = "select group_concat(t.TypeName||'='||coalesce(b.ReMark,''),'|') from "
                          "(select * from NoteType where SelfIndex>0 order by TypeName) t "
                          "left join NoteBook b on b.TypeID=t.SelfIndex";
    const QString mine = ReadRows(notes).value(0).value(0);
    EXPECT_TRUE(mine.contains(QStringLiteral("=别人写的")) &&
                mine.contains(QStringLiteral("=旧！")) &&
                mine.contains(QStringLiteral("本地新组=")))
        << mine.toStdString();
    EXPECT_EQ(ReadRows("select count(*) from NoteType where TypeName like '远方 %'")
                  .value(0)
                  .value(0)
                  .toInt(),
              29);
    EXPECT_EQ(there.Snapshot(), TMachine::SnapshotOf(*DbAccess));
}
