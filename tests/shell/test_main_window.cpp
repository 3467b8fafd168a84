#include "TestSupport.h"

#include <QImage>

#include "notepad/NotepadPage.h"
#include "settings/Pass.h"
#include "shell/Main.h"
#include "shell/UntApplication.h"
#include "shell/UntRunAtStartup.h"
#include "shell/UntTray.h"
#include "storage/UException.h"
#include "storage/UntCompactDatabase.h"
#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

QAction* MenuAction(QMenu* menu, const QString& name) {
    for (QAction* a : menu->actions())
        if (a->objectName() == name)
            return a;
    return nullptr;
}

// Opens a data file the way the program does and reads one number from it.
int CountIn(const QString& path, const QString& sql) {
    TConnection c;
    c.Open(path, DatabaseKey, true);
    TCursor cursor;
    cursor.Open(c, sql);
    return int(cursor.AsInteger(0));
}

} // namespace

class MainFrameTest : public MainWindowTest {
protected:
    void SetUp() override {
        configHome_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", configHome_->path().toUtf8());
        qputenv("XDG_DATA_HOME", (configHome_->path() + "/data").toUtf8());
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        OverrideTrayAvailable(-1);
        SetFileDialogHook(nullptr);
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
    }
    QString Entry() const { return RunAtStartupEntry(AppTitle); }
    void ClickBox(bool checked) {
        Child<QCheckBox>(Main(), "chk1")->setChecked(checked);
        Main()->chk1Click();
    }

    std::unique_ptr<QTemporaryDir> configHome_;
};

TEST_F(MainFrameTest, WindowHasItsCaptionSizeTabsAndMenus) {
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Quillet-Morvane软件"));
    EXPECT_EQ(Main()->size(), QSize(800, 520));
    QTabWidget* tabs = Child<QTabWidget>(Main(), "pgc1");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("定时提醒"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("记事本"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(Child<QWidget>(Main(), "pnl1")->height(), 25);
    EXPECT_EQ(Child<QCheckBox>(Main(), "chk1")->text(), QStringLiteral("开机运行"));
    EXPECT_EQ(Child<QPushButton>(Main(), "btnSystem")->text(), QStringLiteral("软件设置"));
    EXPECT_EQ(MenuTexts(Child<QMenu>(Main(), "PopupMenu")),
              QStringList({"新建提醒", "软件主页", "立即同步", "-", "显示窗口", "关闭"}));
    EXPECT_EQ(MenuTexts(Child<QMenu>(Main(), "pmSystem")),
              QStringList({"软件主页", "-", "软件设置", "-", "数据备份", "数据恢复", "回收站…", "-",
                           "导出提醒到日历文件…", "从日历文件导入提醒…", "导出笔记到文件夹…",
                           "从文件夹导入笔记…", "导入节假日安排…", "-", "同步设置…", "立即同步"}));
    ASSERT_NE(Main()->findChild<QSystemTrayIcon*>(), nullptr);
    EXPECT_EQ(Main()->findChild<QSystemTrayIcon*>()->toolTip(),
              QStringLiteral("MorvaneQuillet软件"));
    EXPECT_FALSE(Main()->windowIcon().isNull());
    EXPECT_FALSE(Main()->windowIcon().pixmap(16, 16).isNull());
    EXPECT_FALSE(Main()->windowIcon().pixmap(256, 256).isNull());
}

TEST_F(MainFrameTest, MinimisingHidesOnlyWhenATrayCanBringItBack) {
    OverrideTrayAvailable(1);
    Main()->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !Main()->isVisible(); }, 2000));
    // "显示窗口" from the tray menu brings it back in its normal state.
    MenuAction(Child<QMenu>(Main(), "PopupMenu"), "NShowForm")->trigger();
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_FALSE(Main()->isMinimized());
    // So does a double click on the icon; a single click does nothing.
    Main()->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !Main()->isVisible(); }, 2000));
    Main()->WMTrayIcon(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(Main()->isVisible());
    Main()->WMTrayIcon(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(Main()->isVisible());

    OverrideTrayAvailable(0);
    Main()->showMinimized();
    QTest::qWait(50);
    EXPECT_TRUE(Main()->isVisible()); // still on the taskbar, reachable
}

TEST_F(MainFrameTest, ExitQuestionNoKeepsRunningYesClosesAndCompacts) {
    for (int i = 0; i < 50; ++i)
        ExecSql(FormatSql("Insert into AlamContext(ReMark) values('%s') ", {QString(500, 'x')}));
    ExecSql("delete from AlamContext where ID > 10");
    DbAccess->Connection.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    const qint64 before = QFileInfo(DataPath()).size();

    boxes_->AnswerNo();
    MenuAction(Child<QMenu>(Main(), "PopupMenu"), "NClose")->trigger();
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("确定要退出程序吗？"));
    EXPECT_EQ(boxes_->Boxes().back().caption, QStringLiteral("确认"));
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_TRUE(DbAccess->Connection.IsOpen());
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext"), 10);

    boxes_->AnswerYes();
    Main()->close();
    EXPECT_FALSE(Main()->isVisible());
    EXPECT_FALSE(DbAccess->Connection.IsOpen());
    EXPECT_EQ(CountIn(DataPath(), "select count(*) from AlamContext"), 10);
    EXPECT_LT(QFileInfo(DataPath()).size(), before); // the freed pages are gone

    // A second run closing again leaves a valid file too.
    DbAccess->Connect();
    ExecSql("Insert into AlamContext(ReMark) values('again') ");
    main_ = std::make_unique<TFormMain>();
    main_->show();
    boxes_->AnswerYes();
    main_->close();
    EXPECT_EQ(CountIn(DataPath(), "select count(*) from AlamContext"), 11);
    EXPECT_EQ(CountIn(DataPath(), "select count(*) from SysSet"), 1);
    main_.reset();
}

TEST(Compaction, KeepsKeyAndDataAndFailsWithoutHarm) {
    QTemporaryDir dir;
    const QString path = dir.filePath("c.dat");
    CreateDatabase(path, DatabaseKey);
    EXPECT_TRUE(CompactDatabase(path, DatabaseKey));
    EXPECT_EQ(CountIn(path, "select count(*) from SysSet"), 1);

    const QString junk = dir.filePath("junk.dat");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database at all, just text");
    f.close();
    EXPECT_FALSE(CompactDatabase(junk, DatabaseKey));
    EXPECT_EQ(ReadAll(junk), QByteArray("not a database at all, just text"));
}

TEST_F(MainFrameTest, RunAtLoginFollowsWhatWasStored) {
    const QString exe = QCoreApplication::applicationFilePath();
    EXPECT_FALSE(Child<QCheckBox>(Main(), "chk1")->isChecked());

    ClickBox(true);
    EXPECT_TRUE(Child<QCheckBox>(Main(), "chk1")->isChecked());
    const QString entry = QString::fromUtf8(ReadAll(Entry()));
    EXPECT_TRUE(entry.contains("\nExec=" + exe + "\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nName=" + AppTitle + "\n"));
    // A copy that is not installed has no icon in the theme: the entry names its own.
    const QString icon = configHome_->path() + "/data/icons/hicolor/256x256/apps/quillet.png";
    EXPECT_TRUE(entry.contains("\nIcon=" + icon + "\n")) << entry.toStdString();
    EXPECT_EQ(QImage(icon).size(), QSize(256, 256));
    EXPECT_TRUE(Main()->IsRunAtStartup());

    ClickBox(false);
    EXPECT_FALSE(QFile::exists(Entry()));
    EXPECT_FALSE(Child<QCheckBox>(Main(), "chk1")->isChecked());

    // An entry for a program that was moved shows the box unticked; ticking rewrites it.
    SetRunAtStartup(AppTitle, "/opt/elsewhere/quillet", true);
    Restart(); // FormShow reads the run-at-login state afresh
    EXPECT_FALSE(Child<QCheckBox>(Main(), "chk1")->isChecked());
    EXPECT_TRUE(QFile::exists(Entry())); // reading the state leaves it as it was
    ClickBox(true);
    EXPECT_TRUE(QString::fromUtf8(ReadAll(Entry())).contains("\nExec=" + exe + "\n"));

    // A path with blanks is quoted in the entry and still recognised.
    SetRunAtStartup(AppTitle, "/opt/my apps/quillet", true);
    EXPECT_TRUE(QString::fromUtf8(ReadAll(Entry())).contains("Exec=\"/opt/my apps/quillet\""));
    ClickBox(true);
    EXPECT_TRUE(Main()->IsRunAtStartup());

    // '%' starts a field code in an entry's Exec: it is written doubled and read back single.
    for (const QString& path :
         {QStringLiteral("/opt/100%/quillet"), QStringLiteral("/opt/a %d/q")}) {
        SetRunAtStartup(AppTitle, path, true);
        QString doubled = path;
        doubled.replace("%", "%%");
        EXPECT_TRUE(QString::fromUtf8(ReadAll(Entry())).contains(doubled)) << path;
        EXPECT_EQ(ReadRunAtStartup(AppTitle), path);
    }
}

TEST_F(MainFrameTest, RunAtLoginWriteFailureLeavesTheBoxUnticked) {
    // A file where the autostart folder should be makes every write fail.
    QDir().mkpath(configHome_->path());
    QFile blocker(configHome_->path() + "/autostart");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ClickBox(true);
    EXPECT_FALSE(Child<QCheckBox>(Main(), "chk1")->isChecked());
    EXPECT_EQ(boxes_->Count(), 0);
}

TEST_F(MainFrameTest, NotepadHintTypesItselfInSixteenTicks) {
    const QString hint = QStringLiteral("点右键可以新建、修改和删除分组");
    ASSERT_EQ(hint.size(), 15);
    Child<QTimer>(Main(), "tmrHint")->stop();
    Child<QLabel>(Main(), "statHintPanel")->clear();
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (int tick = 1; tick <= 15; ++tick) {
            NotepadPageOf(Main())->tmrHintTimer();
            EXPECT_EQ(Child<QLabel>(Main(), "statHintPanel")->text(), hint.left(tick)) << tick;
        }
        NotepadPageOf(Main())->tmrHintTimer();
        EXPECT_EQ(Child<QLabel>(Main(), "statHintPanel")->text(), QString()) << "tick 16";
    }
    EXPECT_EQ(Child<QTimer>(Main(), "tmrHint")->interval(), 200);
}

// The hint moves only while it can be seen: not behind the other tab, nor in the tray;
// shown again, it moves on at once.
TEST_F(MainFrameTest, NotepadHintTimerRunsOnlyWhileTheHintCanBeSeen) {
    auto* tabs = Child<QTabWidget>(Main(), "pgc1");
    QTimer* hint = Child<QTimer>(Main(), "tmrHint");
    tabs->setCurrentWidget(NotepadPageOf(Main()));
    EXPECT_TRUE(hint->isActive());
    tabs->setCurrentIndex(tabs->indexOf(NotepadPageOf(Main())) == 0 ? 1 : 0);
    EXPECT_FALSE(hint->isActive());
    tabs->setCurrentWidget(NotepadPageOf(Main()));
    EXPECT_TRUE(hint->isActive());
    OverrideTrayAvailable(1);
    Main()->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !Main()->isVisible(); }, 2000));
    EXPECT_FALSE(hint->isActive());
    Main()->NShowFormClick();
    EXPECT_TRUE(hint->isActive());
}

TEST_F(MainFrameTest, ImportsThroughTheSettingsMenuReloadTheListAndTheTree) {
    const QString ics = dir_->filePath("in.ics");
    QFile file(ics);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VEVENT\r\n"
               "UID:a@t\r\nDTSTAMP:20250101T000000Z\r\nDTSTART:20250101T080000\r\n"
               "RRULE:FREQ=DAILY\r\nSUMMARY:喝水\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    file.close();
    const QString notes = dir_->filePath("notes");
    QDir().mkpath(notes + "/组");
    QFile note(notes + "/组/a.txt");
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.write("文字");
    note.close();
    QStringList filters;
    SetFileDialogHook([&](bool save, const QString& filter) {
        filters << filter;
        EXPECT_FALSE(save);
        return filter == FolderFilter ? notes : ics;
    });

    QMenu* menu = Child<QMenu>(Main(), "pmSystem");
    auto* list = Child<QTreeWidget>(Main(), "lv1");
    ASSERT_EQ(list->topLevelItemCount(), 0);
    MenuAction(menu, "NImportIcs")->trigger();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("导入了1条提醒，跳过0条。"));

    auto* tree = Child<QTreeWidget>(Main(), "tvNote");
    ASSERT_EQ(tree->topLevelItem(0)->childCount(), 0);
    MenuAction(menu, "NImportNotes")->trigger();
    ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("组"));
    // Said where it went, and shown.
    EXPECT_TRUE(boxes_->LastText().startsWith(
        QStringLiteral("已导入到“%1”下：导入了1个分组").arg(tree->topLevelItem(0)->text(0))))
        << boxes_->LastText().toStdString();
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0)->child(0));
    QDir().mkpath(dir_->filePath("empty"));
    SetFileDialogHook([&](bool, const QString&) { return dir_->filePath("empty"); });
    MenuAction(menu, "NImportNotes")->trigger();
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("这个文件夹里没有可以导入的笔记")));
    EXPECT_EQ(filters, QStringList({"日历文件 (*.ics)", FolderFilter}));
}

// The real save dialog of 导出提醒到日历文件: it says what it saves and suggests a dated name;
// a name typed without a suffix is saved as an .ics file, which the import's list shows, and
// the confirmation says where it went.
TEST_F(MainFrameTest, ExportingRemindersSuggestsANameAndSavesAnIcsFileTheImportFinds) {
    TPinnedClock clock(At("2026-12-08 09:00:00"));
    QTemporaryDir folder;
    QString title, suggested;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        title = dialog->windowTitle();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        suggested = name->text();
        dialog->setDirectory(folder.path());
        name->setText(QStringLiteral("我的提醒"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    RunHandler(nullptr, [&] { Main()->findChild<QAction*>("NExportIcs")->trigger(); });
    EXPECT_EQ(title, QStringLiteral("导出提醒到日历文件"));
    EXPECT_EQ(suggested, QStringLiteral("Quillet提醒 2026-12-08.ics"));
    const QString saved = folder.filePath(QStringLiteral("我的提醒.ics"));
    EXPECT_TRUE(QFile::exists(saved));
    EXPECT_TRUE(boxes_->LastText().endsWith(saved)) << boxes_->LastText().toStdString();

    QStringList filters;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        filters = dialog->nameFilters();
        dialog->reject();
    });
    RunHandler(nullptr, [&] { Main()->findChild<QAction*>("NImportIcs")->trigger(); });
    EXPECT_EQ(filters, QStringList({"日历文件 (*.ics)", "所有文件 (*)"}));
}

// The real folder dialog of 导出笔记到文件夹: a new folder's name may be typed, and the notes
// go into that new folder.
TEST_F(MainFrameTest, NotesAreExportedIntoANewFolderTypedIntoTheFolderDialog) {
    QTemporaryDir folder;
    QString title;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        title = dialog->windowTitle();
        dialog->setDirectory(folder.path());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->setText(QStringLiteral("新的笔记文件夹"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    RunHandler(nullptr, [&] { Main()->findChild<QAction*>("NExportNotes")->trigger(); });
    EXPECT_EQ(title, QStringLiteral("导出笔记到文件夹"));
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("新的笔记文件夹/quillet-notes.json"))))
        << boxes_->LastText().toStdString();
}

class BackupTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        SetFileDialogHook([this](bool save, const QString& filter) {
            EXPECT_EQ(filter, QStringLiteral("数据文件 (*.bat)"));
            ++dialogs_;
            return save ? savePath_ : openPath_;
        });
    }
    void Backup(const QString& chosen) {
        savePath_ = chosen;
        RunHandler(nullptr, [&] { Main()->Ndfdf1Click(); });
    }
    void Restore(const QString& chosen) {
        openPath_ = chosen;
        boxes_->AnswerYes();
        RunHandler(nullptr, [&] { Main()->N11Click(); });
    }
    QString InDir(const QString& name) const { return dir_->filePath(name); }

    QString savePath_, openPath_;
    int dialogs_ = 0;
};

TEST_F(BackupTest, BackupNamesEndInBatOnceAndOverwrite) {
    Backup(InDir("x"));
    EXPECT_TRUE(QFile::exists(InDir("x.bat")));
    EXPECT_EQ(CountIn(InDir("x.bat"), "select count(*) from SysSet"), 1);
    Backup(InDir("y.bat"));
    EXPECT_TRUE(QFile::exists(InDir("y.bat")));
    EXPECT_FALSE(QFile::exists(InDir("y.bat.bat")));
    Backup(InDir("备份.BAT"));
    EXPECT_EQ(CountIn(InDir("备份.BAT"), "select count(*) from SysSet"), 1);
    EXPECT_FALSE(QFile::exists(InDir("备份.BAT.bat")));

    ExecSql("Insert into AlamContext(ReMark) values('later') ");
    Backup(InDir("x.bat"));
    EXPECT_EQ(CountIn(InDir("x.bat"), "select count(*) from AlamContext"), 1);
    EXPECT_EQ(boxes_->Count(), 0); // no message after success

    Backup(QString()); // cancelled
    EXPECT_EQ(boxes_->Count(), 0);

    Backup(InDir("no/such/folder/z"));
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库备份失败！\r\n详细信息：")));
}

TEST_F(BackupTest, RestoreBringsBackThatMomentAndKeepsASafetyCopy) {
    TPinnedClock clock(At("2026-12-07 11:00:00"));
    ExecSql("Insert into AlamContext(ReMark) values('then') ");
    Backup(InDir("moment.bat"));

    ExecSql("Insert into AlamContext(ReMark) values('now') ");
    ExecSql("update SysSet set bPass='-1',[PassWord]='secret' ");

    Restore(InDir("moment.bat"));
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].text,
              QStringLiteral("你确定要恢复数据吗？你做的操作可能会覆盖最新的数据！"));
    EXPECT_TRUE(DbAccess->Connection.IsOpen());
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext"), 1);
    EXPECT_EQ(GetIntValue("select bPass from SysSet"), 0);
    // The safety copy holds the data from just before.
    EXPECT_EQ(CountIn(AppDir() + "tmpData.bat", "select count(*) from AlamContext"), 2);
    const QString log = QString::fromUtf8(ReadAll(ErrorLogPath(QDate(2026, 12, 7))));
    EXPECT_EQ(log, QStringLiteral("2026-12-07 11:00:00：数据恢复！\r\n"));
    // Nothing is left beside the chosen backup or the data file.
    EXPECT_EQ(QDir(dir_->path()).entryList({"moment.bat*"}), QStringList({"moment.bat"}));
    EXPECT_FALSE(QFile::exists(DataPath() + ".restore"));
    // The restored data keeps taking writes, and a later backup holds them.
    ExecSql("Insert into AlamContext(ReMark) values('after') ");
    Backup(InDir("after.bat"));
    EXPECT_EQ(CountIn(InDir("after.bat"), "select count(*) from AlamContext"), 2);

    // A byte copy of a data file (what earlier backups were) restores too.
    DbAccess->Connection.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    ASSERT_TRUE(QFile::copy(DataPath(), InDir("bytes.bat")));
    ExecSql("Insert into AlamContext(ReMark) values('gone') ");
    Restore(InDir("bytes.bat"));
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext"), 2);

    // Choosing the safety copy undoes that restore: it is read before it is rewritten.
    Restore(AppDir() + "tmpData.bat");
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext"), 3);
    EXPECT_EQ(CountIn(AppDir() + "tmpData.bat", "select count(*) from AlamContext"), 2);
}

TEST_F(BackupTest, RestoreAskedNoOrCancelledDoesNothing) {
    openPath_ = InDir("whatever.bat");
    boxes_->AnswerNo();
    Main()->N11Click();
    EXPECT_EQ(dialogs_, 0);
    openPath_.clear();
    boxes_->AnswerYes();
    Main()->N11Click();
    EXPECT_EQ(dialogs_, 1);
    EXPECT_FALSE(QFile::exists(AppDir() + "tmpData.bat"));
}

// A backup made while the data file was encrypted with an earlier login password opens with
// that password; the restored data keeps it (its settings were made with it).
TEST_F(BackupTest, ABackupEncryptedWithAnEarlierPasswordIsRestoredWithThatPassword) {
    ExecSql("Insert into AlamContext(ReMark) values('备份时的') ");
    DbAccess->Rekey(QStringLiteral("甲"));
    Backup(InDir("locked.bat"));
    ExecSql("delete from AlamContext");
    DbAccess->Rekey(QStringLiteral("乙"));
    qputenv("QUILLET_TEST_PASSWORDS", QStringLiteral("乙|甲").toUtf8());
    InstallScriptedPasswordsFromEnvironment();
    Restore(InDir("locked.bat"));
    qunsetenv("QUILLET_TEST_PASSWORDS");
    InstallScriptedPasswordsFromEnvironment();
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("密码输入错误!"));
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext where ReMark='备份时的'"), 1);
    EXPECT_EQ(DbAccess->Key(), QStringLiteral("甲"));
    EXPECT_TRUE(TDbAccess::RefusesKey(DataPath(), QStringLiteral("乙")));
    EXPECT_TRUE(TDbAccess::RefusesKey(AppDir() + SafetyCopyName, QStringLiteral("甲")));
    DbAccess->Rekey(DatabaseKey);
}

TEST_F(BackupTest, RestoreOfAFileThatIsNotOurDataChangesNothing) {
    ExecSql("Insert into AlamContext(ReMark) values('keep me') ");
    DbAccess->Connection.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    const QByteArray before = ReadAll(DataPath());

    QFile text(InDir("text.bat"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("hello, this is a text file\r\n");
    text.close();
    QFile empty(InDir("empty.bat"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    CreateDatabase(InDir("otherkey.bat"), QStringLiteral("another key"));
    for (const char* name : {"text.bat", "empty.bat", "otherkey.bat", "missing.bat"}) {
        boxes_->Clear();
        // Files no key of ours opens may be backups encrypted with a login password: the
        // password is asked for, and a wrong one is refused.
        qputenv("QUILLET_TEST_PASSWORDS", "wrong");
        InstallScriptedPasswordsFromEnvironment();
        Restore(InDir(QString::fromLatin1(name)));
        const bool asked = name == std::string("text.bat") || name == std::string("otherkey.bat");
        ASSERT_EQ(boxes_->Count(), asked ? 3 : 2) << name;
        if (asked) {
            EXPECT_EQ(boxes_->Boxes()[1].text, QStringLiteral("密码输入错误!"));
        }
        EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库恢复失败！\r\n详细信息：")))
            << name << boxes_->LastText().toStdString();
        EXPECT_EQ(ReadAll(DataPath()), before) << name;
        EXPECT_TRUE(DbAccess->Connection.IsOpen()) << name;
        EXPECT_EQ(GetIntValue("select count(*) from AlamContext"), 1) << name;
    }
    qunsetenv("QUILLET_TEST_PASSWORDS");
    InstallScriptedPasswordsFromEnvironment();
    EXPECT_TRUE(QDir(AppDir()).entryList({"Log*"}).isEmpty()); // nothing restored, nothing logged
}
