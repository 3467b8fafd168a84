// The notepad tab: the note of the selected group, saved on every change; search; stamps;
// the group commands of the tree's menu.
#include "NotepadTestSupport.h"

#include "common/UntDateStamp.h"
#include "notepad/AddType.h"
#include "notepad/NotepadPage.h"
#include "notepad/UntNote.h"
#include "notepad/UntTree.h"
#include "shell/Main.h"
#include "shell/UntApplication.h"
#include "storage/UntDbAccess.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTreeWidget>

namespace {

class NotepadTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        Child<QTabWidget>(Main(), "pgc1")->setCurrentIndex(1);
        QTest::qWait(1);
    }
    QTreeWidget* Tree() const { return Child<QTreeWidget>(Main(), "tvNote"); }
    QPlainTextEdit* Memo() const { return Child<QPlainTextEdit>(Main(), "mmoNote"); }
    TCardTree* Groups() const { return NotepadPageOf(Main())->NoteTree(); }
    QAction* MenuItem(const char* name) const {
        return Child<QMenu>(Main(), "pmNoteType")->findChild<QAction*>(QLatin1String(name));
    }
    void Select(int selfIndex) { Tree()->setCurrentItem(NodeOf(Tree(), selfIndex)); }
    // Adds a group under the selected one through the menu and the dialog.
    void AddGroup(const QString& name) {
        AnswerGroupName(name);
        RunHandler(nullptr, [&] { MenuItem("NAddNoteType")->trigger(); });
    }
    // A fresh window over the same data, as at the next start.
    void Restart(bool waitForNote = true) {
        MainWindowTest::Restart(waitForNote);
        Child<QTabWidget>(Main(), "pgc1")->setCurrentIndex(1);
    }
    void Search(const QString& query) {
        Child<QLineEdit>(Main(), "edtQuery")->setText(query);
        Child<QPushButton>(Main(), "btn2")->click();
    }
    std::pair<int, int> Selection() const {
        const QTextCursor c = Memo()->textCursor();
        return {c.selectionStart(), c.selectionEnd()};
    }
};

} // namespace

TEST_F(NotepadTest, TabIsSetUpAndShowsTheRootAtStartUp) {
    InsertNote(0, QStringLiteral("根目录的笔记"));
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertGroup(2, 1, QStringLiteral("项目"));
    Restart();
    ASSERT_NE(Groups(), nullptr);
    EXPECT_EQ(Groups()->TableName, QStringLiteral("NoteType"));
    EXPECT_EQ(Groups()->View, Tree());
    EXPECT_EQ(Tree()->topLevelItem(0)->text(0), QStringLiteral("根目录"));
    EXPECT_EQ(Groups()->Selected(), Groups()->RootNode);
    EXPECT_TRUE(Groups()->RootNode->isExpanded());
    EXPECT_FALSE(NodeOf(Tree(), 1)->isExpanded());
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("根目录的笔记"));

    EXPECT_EQ(Memo()->font().pixelSize(), 16);
    QStringList captions;
    for (QAction* a : Child<QMenu>(Main(), "pmNoteType")->actions())
        captions << a->text();
    EXPECT_EQ(captions, QStringList({QStringLiteral("新建组"), QStringLiteral("重命名组"),
                                     QStringLiteral("删除组"), QStringLiteral("历史版本…"),
                                     QStringLiteral("全部查找")}));
    EXPECT_EQ(Tree()->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(NodeOf(Tree(), 1)->flags() & Qt::ItemIsEditable);
}

TEST_F(NotepadTest, TypingSavesEveryChangeAndOnlyVisibleTextMakesARow) {
    AddGroup(QStringLiteral("工作"));
    ASSERT_EQ(Groups()->SelectedIndex(), 1);
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    Memo()->setFocus();

    TypeText(Memo(), QStringLiteral("  "));
    EXPECT_FALSE(HasNote(1)); // blank text makes no row
    TypeText(Memo(), QStringLiteral("记"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("  记"));
    TypeText(Memo(), QStringLiteral("事a"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("  记事a"));
    QTest::keyClick(Memo(), Qt::Key_Return);
    TypeText(Memo(), QStringLiteral("B"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("  记事a\nB"));
    EXPECT_EQ(CountRows(QStringLiteral("select count(*) from NoteBook")), 1);

    // Emptying keeps the row with an empty text.
    Memo()->selectAll();
    QTest::keyClick(Memo(), Qt::Key_Delete);
    EXPECT_TRUE(HasNote(1));
    EXPECT_EQ(StoredNote(1), QString());

    // A paste is a change too.
    Memo()->insertPlainText(QStringLiteral("粘贴的"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("粘贴的"));
}

TEST_F(NotepadTest, ArrowKeysShowTheNoteOfTheNewGroupAtOnce) {
    InsertGroup(1, 0, QStringLiteral("一"));
    InsertGroup(2, 0, QStringLiteral("二"));
    InsertNote(1, QStringLiteral("第一组"));
    InsertNote(2, QStringLiteral("第二组"));
    Restart();
    Tree()->setFocus();
    QTest::keyClick(Tree(), Qt::Key_Down);
    EXPECT_EQ(Groups()->SelectedIndex(), 1);
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("第一组"));
    QTest::keyClick(Tree(), Qt::Key_Down);
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("第二组"));
    QTest::keyClick(Tree(), Qt::Key_Up);
    QTest::keyClick(Tree(), Qt::Key_Up);
    EXPECT_EQ(Groups()->SelectedIndex(), 0);
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());

    // A mouse click on another group.
    const QRect second = Tree()->visualItemRect(NodeOf(Tree(), 2));
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("第二组"));
}

TEST_F(NotepadTest, TheShownGroupCannotBeDeselected) {
    InsertGroup(1, 0, QStringLiteral("一"));
    InsertNote(1, QStringLiteral("一的笔记"));
    Restart();
    Select(1);
    const QRect rect = Tree()->visualItemRect(NodeOf(Tree(), 1));
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, Qt::ControlModifier, rect.center());
    EXPECT_EQ(Groups()->SelectedIndex(), 1);
    ASSERT_NE(Groups()->Selected(), nullptr);
    Memo()->moveCursor(QTextCursor::End);
    TypeText(Memo(), QStringLiteral("!"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("一的笔记!"));
}

TEST_F(NotepadTest, AStoredNoteIsShownAndSavedByteForByte) {
    InsertGroup(1, 0, QStringLiteral("一"));
    // Pasted or stored elsewhere: a no-break space, a line separator, CR LF, a paragraph
    // separator, a lone CR and an emoji, which the memo shows with plain line breaks.
    const QString text = QStringLiteral("行一\r\n行\u00a0二\u2028三\u2029四\r五😀");
    InsertNote(1, text);
    Restart();
    Select(1);
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("行一\n行 二\n三\n四\n五😀"));
    EXPECT_EQ(StoredNote(1), text);
    // Clicking the group shown again shows it again, still writing nothing.
    Memo()->moveCursor(QTextCursor::End);
    const QRect rect = Tree()->visualItemRect(NodeOf(Tree(), 1));
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(Memo()->textCursor().position(), 0);
    EXPECT_EQ(StoredNote(1), text);
    // The user's own change stores everything else exactly as it was.
    Memo()->moveCursor(QTextCursor::End);
    TypeText(Memo(), QStringLiteral("!"));
    EXPECT_EQ(StoredNote(1).toUtf8(), (text + QStringLiteral("!")).toUtf8());
    QTest::keyClick(Memo(), Qt::Key_Return);
    TypeText(Memo(), QStringLiteral("六"));
    EXPECT_EQ(StoredNote(1).toUtf8(), (text + QStringLiteral("!\n六")).toUtf8());
}

TEST_F(NotepadTest, DeletingAGroupDeletesItsNoteAndAReusedIndexStartsEmpty) {
    AddGroup(QStringLiteral("工作"));
    TypeText(Memo(), QStringLiteral("旧笔记"));
    ASSERT_TRUE(HasNote(1));
    Select(0);
    TypeText(Memo(), QStringLiteral("根"));
    Select(1);

    boxes_->AnswerYes();
    RunHandler(nullptr, [&] { MenuItem("NDelNoteType")->trigger(); });
    EXPECT_EQ(NodeOf(Tree(), 1), nullptr);
    EXPECT_FALSE(HasNote(1));
    EXPECT_EQ(Groups()->SelectedIndex(), 0);
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("根"));

    Select(0);
    AddGroup(QStringLiteral("新的"));
    ASSERT_EQ(Groups()->SelectedIndex(), 1);
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_FALSE(HasNote(1));
    EXPECT_EQ(StoredNote(0), QStringLiteral("根"));
}

TEST_F(NotepadTest, RefusedOrDeclinedDeleteLeavesTheNote) {
    InsertGroup(1, 0, QStringLiteral("一"));
    InsertGroup(2, 1, QStringLiteral("二"));
    InsertNote(1, QStringLiteral("保留"));
    Restart();
    Select(1);
    RunHandler(nullptr, [&] { MenuItem("NDelNoteType")->trigger(); });
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("还有下级分组，不能删除该分组！"));
    Select(2);
    boxes_->AnswerNo();
    RunHandler(nullptr, [&] { MenuItem("NDelNoteType")->trigger(); });
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("确定要删除 二 分组吗？\n（可从回收站恢复）"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("保留"));
    EXPECT_NE(NodeOf(Tree(), 2), nullptr);
}

// The menu's commands act on the node clicked, and its note is the one shown.
TEST_F(NotepadTest, RightClickSelectsTheNodeBeforeTheMenuOpens) {
    InsertGroup(1, 0, QStringLiteral("一"));
    Restart();
    ASSERT_EQ(Groups()->Selected(), Groups()->RootNode);
    const QPoint at = Tree()->visualItemRect(NodeOf(Tree(), 1)).center();
    QTest::mouseClick(Tree()->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, Tree()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(Tree()->viewport(), &menuEvent);
    EXPECT_TRUE(WaitFor([&] { return Child<QMenu>(Main(), "pmNoteType")->isVisible(); }, 2000));
    EXPECT_EQ(Groups()->Selected(), NodeOf(Tree(), 1));
    Child<QMenu>(Main(), "pmNoteType")->close();
}

TEST_F(NotepadTest, RenameInPlaceStoresOnlyAChangedText) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    Restart();
    Select(1);
    // Returns once the editor has closed; this runs while it is open.
    const auto renameWith = [&](const std::function<void(QLineEdit*)>& edit) {
        bool editable = false;
        QTimer::singleShot(20, [&] {
            QLineEdit* editor = nullptr;
            for (QLineEdit* e : Tree()->viewport()->findChildren<QLineEdit*>())
                if (e->isVisible())
                    editor = e;
            if (!editor) {
                ADD_FAILURE() << "no in-place editor";
                return;
            }
            editable = NodeOf(Tree(), 1)->flags() & Qt::ItemIsEditable;
            edit(editor);
        });
        RunHandler(nullptr, [&] { MenuItem("NModNoteType")->trigger(); });
        EXPECT_TRUE(editable);
        EXPECT_FALSE(NodeOf(Tree(), 1)->flags() & Qt::ItemIsEditable);
    };
    const QString marker = QStringLiteral("no statement");

    Groups()->SqlText = marker;
    renameWith([](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Return); }); // same text
    EXPECT_EQ(Groups()->SqlText, marker);

    renameWith([](QLineEdit* e) {
        e->setText(QStringLiteral("不要"));
        QTest::keyClick(e, Qt::Key_Escape);
    });
    EXPECT_EQ(Groups()->SqlText, marker);
    EXPECT_EQ(NodeOf(Tree(), 1)->text(0), QStringLiteral("工作"));

    renameWith([](QLineEdit* e) {
        e->setText(QStringLiteral("工作'周报"));
        QTest::keyClick(e, Qt::Key_Return);
    });
    EXPECT_EQ(NodeOf(Tree(), 1)->text(0), QStringLiteral("工作'周报"));
    EXPECT_EQ(StoredText(QStringLiteral("select TypeName from NoteType where SelfIndex=1")),
              QStringLiteral("工作'周报"));

    // Clicking another group ends the editing with the text typed, for the group edited.
    InsertGroup(2, 0, QStringLiteral("生活"));
    Restart();
    Select(1);
    renameWith([&](QLineEdit* e) {
        e->setText(QStringLiteral("点走"));
        const QRect other = Tree()->visualItemRect(NodeOf(Tree(), 2));
        QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, other.center());
    });
    EXPECT_EQ(StoredText(QStringLiteral("select TypeName from NoteType where SelfIndex=1")),
              QStringLiteral("点走"));
    EXPECT_EQ(StoredText(QStringLiteral("select TypeName from NoteType where SelfIndex=2")),
              QStringLiteral("生活"));
    EXPECT_EQ(NodeOf(Tree(), 2)->text(0), QStringLiteral("生活"));

    // The root is never renamed: no editor opens.
    Select(0);
    Groups()->SqlText = marker;
    RunHandler(nullptr, [&] { MenuItem("NModNoteType")->trigger(); });
    for (QLineEdit* editor : Tree()->viewport()->findChildren<QLineEdit*>())
        EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(Groups()->SqlText, marker);
    EXPECT_EQ(Groups()->RootNode->text(0), QStringLiteral("根目录"));
}

TEST_F(NotepadTest, SearchFindsTheNextOccurrenceFoldingOnlyAsciiLetters) {
    Memo()->setPlainText(QStringLiteral("abc ABC abc"));
    Memo()->moveCursor(QTextCursor::Start);
    Search(QStringLiteral("ABC"));
    EXPECT_EQ(Selection(), std::make_pair(0, 3));
    EXPECT_TRUE(Memo()->hasFocus() || QApplication::focusWidget() == Memo());
    Child<QPushButton>(Main(), "btn2")->click();
    EXPECT_EQ(Selection(), std::make_pair(4, 7));
    Child<QPushButton>(Main(), "btn2")->click();
    EXPECT_EQ(Selection(), std::make_pair(8, 11));
    Child<QPushButton>(Main(), "btn2")->click();
    EXPECT_EQ(Selection(), std::make_pair(0, 0));
    Child<QPushButton>(Main(), "btn2")->click();
    EXPECT_EQ(Selection(), std::make_pair(0, 3));

    Memo()->moveCursor(QTextCursor::End);
    Search(QString());
    EXPECT_EQ(Selection(), std::make_pair(0, 0));

    // Only a-z fold: other letters match only as they are.
    Memo()->setPlainText(QStringLiteral("ÄBC äbc ＡＢ ａｂ"));
    Memo()->moveCursor(QTextCursor::Start);
    Search(QStringLiteral("äbc"));
    EXPECT_EQ(Selection(), std::make_pair(4, 7));
    Memo()->moveCursor(QTextCursor::Start);
    Search(QStringLiteral("ａｂ"));
    EXPECT_EQ(Selection(), std::make_pair(11, 13));
    Memo()->moveCursor(QTextCursor::Start);
    Search(QStringLiteral("Äbc"));
    EXPECT_EQ(Selection(), std::make_pair(0, 3));
}

TEST_F(NotepadTest, DateStampKeysInsertAndAreSaved) {
    TPinnedClock clock(At(QStringLiteral("2026-12-07 14:30:15")));
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(QDate(2026, 12, 7), QLocale::ShortFormat);
    const QString time = LongTimeText(QTime(14, 30, 15));
    Memo()->setFocus();
    TypeText(Memo(), QStringLiteral("日期XX"));
    QTextCursor c = Memo()->textCursor();
    c.setPosition(2);
    c.setPosition(4, QTextCursor::KeepAnchor);
    Memo()->setTextCursor(c);
    QTest::keyClick(Memo(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(Memo()->toPlainText(), QStringLiteral("日期") + date);
    EXPECT_EQ(StoredNote(0), QStringLiteral("日期") + date);

    QTest::keyClick(Memo(), Qt::Key_Return);
    QTest::keyClick(Memo(), Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    const QString stamped =
        QStringLiteral("日期") + date + QStringLiteral("\n") + date + QStringLiteral(" ") + time;
    EXPECT_EQ(Memo()->toPlainText(), stamped);
    EXPECT_EQ(StoredNote(0), stamped);

    // At exactly midnight the time is left out.
    clock.Set(At(QStringLiteral("2026-12-08 00:00:00")));
    QTest::keyClick(Memo(), Qt::Key_Return);
    QTest::keyClick(Memo(), Qt::Key_T, Qt::ControlModifier);
    const QString midnight =
        stamped + QStringLiteral("\n") + locale.toString(QDate(2026, 12, 8), QLocale::ShortFormat);
    EXPECT_EQ(StoredNote(0), midnight);

    // Without Ctrl the letters are just typed.
    QTest::keyClick(Memo(), Qt::Key_D);
    EXPECT_EQ(StoredNote(0), midnight + QStringLiteral("d"));
}

TEST_F(NotepadTest, ClosingFreesTheTreeAndLeavesLaterChangesUnsaved) {
    TypeText(Memo(), QStringLiteral("存"));
    boxes_->AnswerYes();
    Main()->close();
    EXPECT_EQ(NotepadPageOf(Main())->NoteTree(), nullptr);
    TypeText(Memo(), QStringLiteral("后"));
    NotepadPageOf(Main())->tvNoteClick();
    EXPECT_FALSE(DbAccess->Connection.IsOpen());
    EXPECT_EQ(boxes_->Count(), 1); // only the exit question
    DbAccess->Connect();
    EXPECT_EQ(StoredNote(0), QStringLiteral("存"));
}

// A large note is read in just after the window is first painted. Until then the memo waits,
// read-only and showing only that it is loading; keys typed meanwhile land at the start of
// the note and are saved to its group, also when another group is chosen before it arrives.
TEST_F(NotepadTest, LargeNoteArrivesAfterTheWindowWithTheKeysTypedMeanwhile) {
    const QString line = QStringLiteral("会议记录：讨论 release plan v2, 预算 12345 元。\n");
    QString note;
    while (note.size() * 2 < 1024 * 1024) // about 1 MB in UTF-8
        note += line;
    InsertNote(0, note);
    InsertGroup(1, 0, QStringLiteral("工作"));
    TNotepadPage* page = nullptr;
    const auto waitForNote = [&] {
        ASSERT_TRUE(page->NoteLoading());
        EXPECT_TRUE(Memo()->isReadOnly());
        EXPECT_EQ(Memo()->toPlainText(), QString());
        EXPECT_EQ(Memo()->placeholderText(), QStringLiteral("正在载入…"));
        TypeText(Memo(), QStringLiteral("甲"));
    };

    Restart(false);
    page = NotepadPageOf(Main());
    waitForNote();
    ASSERT_TRUE(WaitFor([&] { return !page->NoteLoading(); }));
    EXPECT_FALSE(Memo()->isReadOnly());
    EXPECT_TRUE(Memo()->placeholderText().isEmpty());
    EXPECT_TRUE(Memo()->toPlainText() == QStringLiteral("甲") + note);
    EXPECT_EQ(Memo()->textCursor().position(), 1);
    EXPECT_TRUE(StoredNote(0) == QStringLiteral("甲") + note);

    Restart(false);
    page = NotepadPageOf(Main());
    waitForNote();
    Select(1);
    EXPECT_FALSE(page->NoteLoading());
    EXPECT_EQ(Memo()->toPlainText(), QString());
    EXPECT_FALSE(HasNote(1));
    EXPECT_TRUE(StoredNote(0) == QStringLiteral("甲甲") + note);
}

TEST_F(NotepadTest, KeyboardFindsAndOpensTheMenu) {
    auto* query = Child<QLineEdit>(Main(), "edtQuery");
    auto* menu = Child<QMenu>(Main(), "pmNoteType");
    Main()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Main()));
    Memo()->setPlainText("abc ABC abc");
    Tree()->setFocus();
    QTest::keyClick(Tree(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(query->hasFocus());
    QTest::keyClicks(query, "ABC");
    QTest::keyClick(query, Qt::Key_Return);
    EXPECT_EQ(Selection(), std::make_pair(0, 3));
    QTest::keyClick(Memo(), Qt::Key_F3);
    EXPECT_EQ(Selection(), std::make_pair(4, 7));

    // Shift+F10 and the menu key open the tree's menu.
    for (const auto& [key, modifiers] : {std::make_pair(Qt::Key_F10, Qt::ShiftModifier),
                                         std::make_pair(Qt::Key_Menu, Qt::NoModifier)}) {
        QTest::keyClick(Tree(), key, modifiers);
        EXPECT_TRUE(menu->isVisible()) << key;
        menu->hide();
    }
}

// The sync stored another machine's text while the memo still showed the old one; the next
// keystroke keeps both instead of writing over it.
TEST_F(NotepadTest, AKeystrokeOverANoteChangedUnderneathKeepsBothTexts) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertNote(1, QStringLiteral("旧"));
    Restart();
    Tree()->setCurrentItem(NodeOf(Tree(), 1));
    ASSERT_EQ(Memo()->toPlainText(), QStringLiteral("旧"));
    // As a sync pass writes: through the second writing connection, the page not told.
    DbAccess->SideWriter.Begin();
    DbAccess->SideWriter.Connection().Exec("update NoteBook set ReMark='别人写的' where TypeID=1");
    bool committed = false;
    DbAccess->SideWriter.CommitInBackground([&](const QString&) { committed = true; });
    ASSERT_TRUE(WaitFor([&] { return committed; }));
    Memo()->moveCursor(QTextCursor::End);
    TypeText(Memo(), QStringLiteral("！"));
    EXPECT_EQ(StoredNote(1), QStringLiteral("旧！"));
    EXPECT_EQ(StoredText("select group_concat(t.TypeName||'='||b.ReMark) from NoteType t join "
                         "NoteBook b on b.TypeID=t.SelfIndex where t.SelfIndex<>1"),
              QStringLiteral("工作（冲突副本）=别人写的"));
    EXPECT_NE(NodeOf(Tree(), 2), nullptr);
    TypeText(Memo(), QStringLiteral("？")); // one copy only
    EXPECT_EQ(CountRows("select count(*) from NoteType"), 2);
}

// While another connection holds the writer's lock, keystrokes are not lost and the window
// does not wait: they are stored once it is free.
TEST_F(NotepadTest, KeysTypedWhileAnotherWriterCommitsAreStoredAfterwards) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    Restart();
    Tree()->setCurrentItem(NodeOf(Tree(), 1));
    DbAccess->SideWriter.Begin(); // holds the writer's lock, as a slice being committed does
    QElapsedTimer took;
    took.start();
    TypeText(Memo(), QStringLiteral("快打"));
    EXPECT_LT(took.elapsed(), 500);
    EXPECT_FALSE(HasNote(1));
    DbAccess->SideWriter.Rollback();
    EXPECT_TRUE(WaitFor([] { return StoredNote(1) == QStringLiteral("快打"); }, 2000));
}
