// End to end: the real program on its own X display, driven with xdotool: quitting with an
// alert open, backups read from outside, restoring and undoing a restore.
#include "TestSupport.h"
#include "XSupport.h"

#include "storage/UntSchema.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>

namespace {

const QStringList Tools = {"Xvfb", "xdotool", "sqlcipher", "openbox"};

// The program's main window on display, clicked and typed into at offsets from its corner.
class TMainWindow {
public:
    TMainWindow(const QString& display, QProcess* process) : display_(display) {
        process->waitForStarted();
        window_ = WaitForWindow(display, QStringLiteral("Quillet-Morvane"), process);
        origin_ = WindowOrigin(display, window_);
        QTest::qWait(500); // the first showing loads the lists, the tree and the root's note
    }
    bool Found() const { return !window_.isEmpty() && origin_.x() >= 0; }
    QString Id() const { return window_; }
    void Click(int dx, int dy, int button = 1) {
        Xdo(display_, {"mousemove", QString::number(origin_.x() + dx),
                       QString::number(origin_.y() + dy), "click", QString::number(button)});
        QTest::qWait(300);
    }
    void Keys(const QStringList& keys) {
        Xdo(display_, QStringList{"key", "--delay", "80"} + keys);
        QTest::qWait(300);
    }
    void Type(const QString& text) {
        Xdo(display_, {"type", "--delay", "25", text});
        QTest::qWait(300);
    }
    void NotepadTab() { Click(105, 12); }
    void Memo() { Click(500, 200); }
    // "软件设置" then the nth command of its menu (3 = "数据备份", 4 = "数据恢复").
    void SettingsCommand(int n) {
        Click(739, 507);
        QStringList keys;
        for (int i = 0; i < n; ++i)
            keys << "Down";
        Keys(keys << "Return");
    }

private:
    QString display_;
    QString window_;
    QPoint origin_;
};

QString Query(const QString& data, const QString& sql) {
    return Sqlcipher(data, SqlcipherUnlock + sql + QStringLiteral(";\n"));
}

int RestoresLogged(const QString& folder) {
    int count = 0;
    for (const QString& log : QDir(folder).entryList({"Log*.log"}))
        count += QString::fromUtf8(ReadAll(folder + "/" + log)).count(QStringLiteral("数据恢复！"));
    return count;
}

} // namespace

TEST(DataEndToEnd, ExitConfirmedWithAnAlertOpenEndsTheProgram) {
    const QStringList clock = FakeTimeAt("2026-12-07 09:59:56");
    if (!ToolsPresent(Tools) || clock.isEmpty())
        return;
    TXServer server(true);
    ASSERT_FALSE(server.Display().isEmpty()) << "Xvfb with openbox did not start";
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    program.CreateDataWithReminders({"10:00 十点开会"});
    const QStringList display = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + server.Display()};
    QProcess* p = program.Start("yes", display + clock);
    TMainWindow main(server.Display(), p);
    ASSERT_TRUE(main.Found()) << p->readAll().toStdString();
    ASSERT_TRUE(WaitFor([&] { return program.Boxes().contains("提醒|十点开会"); }, 30000));

    // The window manager focuses the alert once it maps it, which may be after the program
    // logged it: Alt+F4 must reach the main window, not the alert.
    ASSERT_FALSE(WaitForWindow(server.Display(), "^提醒$", p).isEmpty());
    QTest::qWait(500);
    WaitFor([&] {
        Xdo(server.Display(), {"windowactivate", "--sync", main.Id()});
        return Xdo(server.Display(), {"getactivewindow"}) == main.Id();
    });
    Xdo(server.Display(), {"key", "alt+F4"});
    EXPECT_TRUE(p->waitForFinished(15000)) << "still running with its alert open";
    EXPECT_TRUE(program.Boxes().contains("确认|确定要退出程序吗？"));

    QProcess* next = program.Start("yes", display);
    EXPECT_FALSE(next->waitForFinished(2000));
    EXPECT_FALSE(program.Boxes().contains("已经运行")) << program.Boxes();
}

TEST(DataEndToEnd, KeysTypedAfterABackupSurviveAnOutsideReadAndAKill) {
    if (!ToolsPresent(Tools))
        return;
    TXServer server;
    ASSERT_FALSE(server.Display().isEmpty()) << "Xvfb did not start";
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    const QString copy = dir.filePath("copy.bat");
    QProcess* p = program.Start(QString(), {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + server.Display(),
                                            "QUILLET_TEST_FILES=" + copy});
    TMainWindow main(server.Display(), p);
    ASSERT_TRUE(main.Found()) << p->readAll().toStdString();
    main.NotepadTab();
    main.Memo();
    main.Type("before backup,");
    main.SettingsCommand(3);
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(copy); })) << program.Boxes();
    main.Memo();
    main.Type(" after it,");
    // Another client reads the live file; it must find it in use and leave its log alone.
    EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"),
              "before backup, after it,");
    main.Type(" last.");
    p->kill(); // SIGKILL
    ASSERT_TRUE(p->waitForFinished(5000));
    EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"),
              "before backup, after it, last.");
    EXPECT_EQ(Query(copy, "select ReMark from NoteBook where TypeID=0"), "before backup,");
    EXPECT_EQ(program.Boxes(), QString());
}

TEST(DataEndToEnd, RealFileDialogsOnTheDataFolderLeaveItsLocksAndNothingTypedIsLost) {
    if (!ToolsPresent(Tools))
        return;
    TXServer server;
    ASSERT_FALSE(server.Display().isEmpty()) << "Xvfb did not start";
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    // No scripted answers for the file dialogs: Qt's own, which opens on the working
    // directory, the data folder, and reads what it lists there.
    QProcess* p = program.Start("yes", {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + server.Display()});
    TMainWindow main(server.Display(), p);
    ASSERT_TRUE(main.Found()) << p->readAll().toStdString();
    main.NotepadTab();
    main.Memo();
    main.Type("before dialogs,");
    const QString title =
        QStringLiteral("数据备份|数据恢复|导出提醒到日历文件|从日历文件导入提醒|从文件夹导入笔记");
    // 数据备份, 数据恢复, 导出提醒…, 从日历文件导入提醒…, 从文件夹导入笔记…
    for (int command : {3, 4, 6, 7, 9}) {
        main.SettingsCommand(command);
        const QString dialog = WaitForWindow(server.Display(), title, p);
        ASSERT_FALSE(dialog.isEmpty()) << command << program.Boxes().toStdString();
        QTest::qWait(1500); // the list is filled, types and icons read, on a thread of its own
        EXPECT_GT(LocksOn(program.Data()), 0) << "after the dialog of command " << command;
        Xdo(server.Display(), {"windowfocus", "--sync", dialog});
        Xdo(server.Display(), {"key", "Escape"});
        ASSERT_TRUE(WaitFor([&] {
            return Xdo(server.Display(), {"search", "--onlyvisible", "--name", title}).isEmpty();
        }));
    }
    // Other programs open and close the file meanwhile: the sqlcipher tool and an export.
    EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"),
              "before dialogs,");
    QString out;
    EXPECT_EQ(program.Run({"--export-ics", dir.filePath("beside.ics")}, &out), 0) << out;
    EXPECT_TRUE(QFile::exists(program.Data() + "-wal"));
    main.Memo();
    main.Type(" after.");
    p->kill(); // SIGKILL
    ASSERT_TRUE(p->waitForFinished(5000));
    EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"),
              "before dialogs, after.");
}

TEST(DataEndToEnd, TheSessionsEndStoresTheNotesAndLeavesNoLogEvenWithADialogOpen) {
    if (!ToolsPresent(Tools))
        return;
    TXServer server;
    ASSERT_FALSE(server.Display().isEmpty()) << "Xvfb did not start";
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    QString typed;
    for (const int signal : {SIGTERM, SIGHUP}) {
        QProcess* p =
            program.Start(QString(), {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + server.Display()});
        TMainWindow main(server.Display(), p);
        ASSERT_TRUE(main.Found()) << p->readAll().toStdString();
        main.NotepadTab();
        main.Memo();
        main.Keys({"ctrl+End"});
        const QString more = signal == SIGTERM ? "typed," : " and more";
        main.Type(more);
        typed += more;
        if (signal == SIGTERM) {
            main.SettingsCommand(3); // 数据备份: the real dialog, with its own loop
            ASSERT_FALSE(WaitForWindow(server.Display(), QStringLiteral("数据备份"), p).isEmpty());
        }
        ::kill(static_cast<pid_t>(p->processId()), signal);
        ASSERT_TRUE(p->waitForFinished(10000)) << "still running after signal " << signal;
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
        EXPECT_FALSE(QFile::exists(program.Data() + "-wal"));
        EXPECT_FALSE(QFile::exists(program.Data() + "-shm"));
        EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"), typed);
    }
    EXPECT_EQ(program.Boxes(), QString()) << "no exit question";
}

TEST(DataEndToEnd, RestoreShowsTheRestoredDataAndTheSafetyCopyUndoesIt) {
    if (!ToolsPresent(Tools))
        return;
    TXServer server;
    ASSERT_FALSE(server.Display().isEmpty()) << "Xvfb did not start";
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    const QString backup = dir.filePath("b.bat");
    for (const auto& [file, note, groups] :
         {std::tuple<QString, QString, QString>{program.Data(), "live note", "(1,0,'a')"},
          {backup, "restored note", "(1,0,'x'),(2,1,'y')"}}) {
        CreateDatabase(file, DatabaseKey);
        TConnection c;
        c.Open(file, DatabaseKey);
        c.Exec("insert into NoteType(SelfIndex,ParentIndex,TypeName) values " + groups);
        c.Exec("insert into NoteBook(TypeID,ReMark) values(0,'" + note + "')");
    }
    QProcess* p =
        program.Start("yes", {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + server.Display(),
                              "QUILLET_TEST_FILES=" + backup + "|" + dir.filePath("tmpData.bat")});
    TMainWindow main(server.Display(), p);
    ASSERT_TRUE(main.Found()) << p->readAll().toStdString();
    main.NotepadTab();
    main.Memo(); // the memo holds "live note"
    main.SettingsCommand(4);
    ASSERT_TRUE(WaitFor([&] { return RestoresLogged(dir.path()) == 1; })) << program.Boxes();

    main.Memo();
    main.Keys({"ctrl+End"});
    main.Type("!");
    EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"),
              "restored note!");
    main.Click(100, 150, 3); // the group tree's menu: "新建组"
    main.Keys({"Down", "Return"});
    const QString dialog = WaitForWindow(server.Display(), QStringLiteral("新建组"), p);
    ASSERT_FALSE(dialog.isEmpty());
    Xdo(server.Display(), {"windowfocus", "--sync", dialog});
    Xdo(server.Display(), {"type", "g2"});
    Xdo(server.Display(), {"key", "Return"});
    EXPECT_TRUE(WaitFor([&] {
        return Query(program.Data(), "select count(*),count(distinct SelfIndex) from NoteType") ==
               "3|3";
    })) << Query(program.Data(), "select * from NoteType");

    // Undo: the safety copy holds the data from before the restore.
    main.SettingsCommand(4);
    ASSERT_TRUE(WaitFor([&] { return RestoresLogged(dir.path()) == 2; })) << program.Boxes();
    EXPECT_EQ(Query(program.Data(), "select ReMark from NoteBook where TypeID=0"), "live note");
    EXPECT_EQ(Query(program.Data(), "select group_concat(TypeName,',') from NoteType"), "a");
    EXPECT_FALSE(program.Boxes().contains("错误")) << program.Boxes();
}

TEST(DataEndToEnd, TheInstalledProgramIgnoresTheTestVariables) {
    QTemporaryDir dir;
    TProgramRun program(dir.path(), QStringLiteral(QUILLET_SHIPPED_EXE));
    QFile junk(program.Data());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    QProcess* p = program.Start("yes");
    // The failed connection is shown in a real box, which waits for its answer.
    EXPECT_FALSE(p->waitForFinished(2500));
    EXPECT_FALSE(QFile::exists(program.BoxLog()));
}
