// The note group tree over its table, and the group name dialog.
#include "NotepadTestSupport.h"

#include "common/UntClock.h"
#include "common/UntDateStamp.h"
#include "notepad/AddType.h"
#include "notepad/UntTree.h"
#include "shell/UntApplication.h"
#include "storage/UException.h"
#include "storage/UntSqlText.h"

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTreeWidget>

namespace {

class TreeTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        view_ = std::make_unique<QTreeWidget>();
        view_->show();
    }
    void TearDown() override {
        tree_.reset();
        view_.reset();
        DbTest::TearDown();
    }
    TCardTree& Load() {
        tree_ = std::make_unique<TCardTree>(view_.get(), QStringLiteral("NoteType"),
                                            QStringLiteral("根目录"));
        tree_->LoadTree();
        return *tree_;
    }
    void Select(int selfIndex) { view_->setCurrentItem(NodeOf(view_.get(), selfIndex)); }
    // What the error reporter would show for an escaped exception.
    void Run(const std::function<void()>& f) { RunHandler(nullptr, f); }
    int Groups() { return CountRows(QStringLiteral("select count(*) from NoteType")); }

    std::unique_ptr<QTreeWidget> view_;
    std::unique_ptr<TCardTree> tree_;
};

QImage ImageOf(QTreeWidgetItem* node, QIcon::Mode mode) {
    return node->icon(0).pixmap(16, 16, mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage Expected(int index) {
    return NodeImage(index).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST_F(TreeTest, LoadBuildsTheTreeUnderTheRootWithOnlyTheRootExpanded) {
    InsertGroup(0, 0, QStringLiteral("不显示"));
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertGroup(2, 1, QStringLiteral("项目"));
    InsertGroup(3, 2, QStringLiteral("会议"));
    InsertGroup(4, 0, QStringLiteral("生活"));
    InsertGroup(7, 42, QStringLiteral("孤儿")); // no such parent
    TCardTree& tree = Load();

    ASSERT_EQ(view_->topLevelItemCount(), 1);
    QTreeWidgetItem* root = view_->topLevelItem(0);
    EXPECT_EQ(root, tree.RootNode);
    EXPECT_EQ(root->text(0), QStringLiteral("根目录"));
    EXPECT_EQ(TCardTree::RecordOf(root)->SelfIndex, 0);
    ASSERT_EQ(root->childCount(), 3);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("工作"));
    EXPECT_EQ(root->child(1)->text(0), QStringLiteral("生活"));
    EXPECT_EQ(root->child(2)->text(0), QStringLiteral("孤儿"));
    QTreeWidgetItem* meeting = NodeOf(view_.get(), 3);
    ASSERT_NE(meeting, nullptr);
    EXPECT_EQ(TCardTree::PositionText(meeting), QStringLiteral("根目录->工作->项目->会议"));
    EXPECT_EQ(TCardTree::PositionText(root), QStringLiteral("根目录"));
    EXPECT_EQ(TCardTree::RecordOf(meeting)->ParentIndex, 2);
    EXPECT_EQ(tree.LastRecord, TCardTree::RecordOf(NodeOf(view_.get(), 7)));

    EXPECT_TRUE(root->isExpanded());
    EXPECT_FALSE(root->child(0)->isExpanded());
    EXPECT_FALSE(NodeOf(view_.get(), 2)->isExpanded());
    EXPECT_EQ(tree.MaxIndex(), 7);
    EXPECT_EQ(tree.SelectedIndex(), 0); // nothing selected yet
    EXPECT_EQ(tree.SqlText, QStringLiteral("select SelfIndex,ParentIndex,TypeName from NoteType "
                                           "where SelfIndex <>0 order by SelfIndex asc"));
    int nodes = 0;
    for (QTreeWidgetItemIterator it(view_.get()); *it; ++it)
        ++nodes;
    EXPECT_EQ(nodes, 6); // the row with index 0 is not shown
}

// Every node's index, parent index and name, children in their order.
QString Shape(QTreeWidgetItem* node) {
    const TGroupIndex* record = TCardTree::RecordOf(node);
    QString text = QStringLiteral("%1/%2:%3(")
                       .arg(record->SelfIndex)
                       .arg(record->ParentIndex)
                       .arg(node->text(0));
    for (int i = 0; i < node->childCount(); ++i)
        text += Shape(node->child(i)) + QLatin1Char(' ');
    return text + QLatin1Char(')');
}

TEST_F(TreeTest, RefreshGivesTheTreeALoadGivesAndKeepsWhatStays) {
    QRandomGenerator random(42);
    for (int i = 1; i <= 60; ++i)
        InsertGroup(i, random.bounded(i), QStringLiteral("组%1").arg(i));
    TCardTree& tree = Load();
    for (int round = 0; round < 30; ++round) {
        // Renames, new groups, deletions (orphaning children), moves, a parent made later
        // than its child, and a row for the hidden index 0.
        for (int change = 0; change < 6; ++change) {
            const int index = random.bounded(1, 80);
            switch (random.bounded(4)) {
            case 0:
                ExecSql(FormatSql("update NoteType set TypeName='%s' where SelfIndex=%s",
                                  {QStringLiteral("新%1").arg(round), SqlNum(index)}));
                break;
            case 1:
                ExecSql(FormatSql("delete from NoteType where SelfIndex=%s", {SqlNum(index)}));
                break;
            case 2:
                ExecSql(FormatSql("update NoteType set ParentIndex=%s where SelfIndex=%s",
                                  {SqlNum(random.bounded(90)), SqlNum(index)}));
                break;
            default:
                ExecSql(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) select "
                                  "%s,%s,'加' where not exists (select 1 from NoteType where "
                                  "SelfIndex=%s)",
                                  {SqlNum(index), SqlNum(random.bounded(index)), SqlNum(index)}));
            }
        }
        // The user's view of a group that stays.
        const QList<QTreeWidgetItem*> before =
            view_->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
        QTreeWidgetItem* open = before.at(random.bounded(int(before.size())));
        const int openIndex = TCardTree::RecordOf(open)->SelfIndex;
        view_->setCurrentItem(open);
        open->setExpanded(true);

        tree.Refresh();
        QTreeWidget fresh;
        TCardTree loaded(&fresh, QStringLiteral("NoteType"), QStringLiteral("根目录"));
        loaded.LoadTree();
        ASSERT_EQ(Shape(tree.RootNode), Shape(loaded.RootNode)) << round;
        EXPECT_EQ(tree.LastRecord ? tree.LastRecord->SelfIndex : -1,
                  loaded.LastRecord ? loaded.LastRecord->SelfIndex : -1);
        if (QTreeWidgetItem* still = NodeOf(view_.get(), openIndex)) {
            EXPECT_EQ(still, open) << "a group that stays keeps its node";
            EXPECT_EQ(view_->currentItem(), open);
            EXPECT_TRUE(open->isExpanded());
        }
    }
}

TEST_F(TreeTest, NodesShowTheRootGroupAndSelectedGroupImages) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    TCardTree& tree = Load();
    QTreeWidgetItem* group = NodeOf(view_.get(), 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(NodeImage(i).isNull()) << i;
    EXPECT_NE(Expected(1), Expected(2));
    EXPECT_EQ(ImageOf(tree.RootNode, QIcon::Normal), Expected(0));
    EXPECT_EQ(ImageOf(tree.RootNode, QIcon::Selected), Expected(0));
    EXPECT_EQ(ImageOf(group, QIcon::Normal), Expected(1));
    EXPECT_EQ(ImageOf(group, QIcon::Selected), Expected(2));
}

TEST_F(TreeTest, TheFirstGroupGetsIndexOneUnderTheRootAndIsSelected) {
    TCardTree& tree = Load();
    Select(0);
    AnswerGroupName(QStringLiteral("工作"));
    ASSERT_TRUE(tree.NewGroup());
    QTreeWidgetItem* node = NodeOf(view_.get(), 1);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(tree.Selected(), node);
    EXPECT_EQ(node->parent(), tree.RootNode);
    EXPECT_TRUE(tree.RootNode->isExpanded());
    EXPECT_EQ(StoredText(QStringLiteral("select TypeName from NoteType where SelfIndex=1 and "
                                        "ParentIndex=0")),
              QStringLiteral("工作"));
}

TEST_F(TreeTest, NextIndexIsOneAboveTheLargestWhicheverNodeIsSelected) {
    InsertGroup(1, 0, QStringLiteral("一"));
    InsertGroup(2, 1, QStringLiteral("二"));
    InsertGroup(5, 0, QStringLiteral("五"));
    TCardTree& tree = Load();
    Select(2);
    QTreeWidgetItem* six = tree.AddGroup(QStringLiteral("六"));
    EXPECT_EQ(six->parent(), NodeOf(view_.get(), 2));
    EXPECT_TRUE(NodeOf(view_.get(), 2)->isExpanded());
    EXPECT_EQ(tree.LastRecord->SelfIndex, 6);
    EXPECT_EQ(tree.LastRecord->ParentIndex, 2);

    Select(0);
    tree.AddGroup(QStringLiteral("七"));
    EXPECT_EQ(StoredText("select ParentIndex from NoteType where SelfIndex=7"), "0");
    // Deleting the largest gives its index to the next group.
    Select(7);
    boxes_->AnswerYes();
    tree.DeleteGroup();
    Select(5);
    tree.AddGroup(QStringLiteral("又七"));
    EXPECT_EQ(tree.LastRecord->SelfIndex, 7);
    EXPECT_EQ(tree.LastRecord->ParentIndex, 5);
}

// A sub-group stored by a sync pass after the tree was read is not deleted unseen: the tree
// shows it and the group is refused as one with sub-groups.
TEST_F(TreeTest, DeleteTakesTheGroupAsShownAndNeverASubGroupNotShownYet) {
    InsertGroup(1, 0, QStringLiteral("一"));
    InsertGroup(6, 1, QStringLiteral("六"));
    TCardTree& tree = Load();
    Select(6);
    InsertGroup(9, 6, QStringLiteral("同步来的"));
    boxes_->AnswerYes();
    Run([&] { tree.DeleteGroup(); });
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("还有下级分组，不能删除该分组！"));
    EXPECT_EQ(CountRows(QStringLiteral("select count(*) from NoteType where SelfIndex in (6,9)")),
              2);
    EXPECT_EQ(NodeOf(view_.get(), 9)->parent(), NodeOf(view_.get(), 6));

    ExecSql(QStringLiteral("delete from NoteType where SelfIndex=9"));
    tree.Refresh();
    boxes_->Clear();
    boxes_->AnswerYes();
    tree.DeleteGroup();
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].kind, BoxKind::Question);
    EXPECT_EQ(boxes_->Boxes()[0].text,
              QStringLiteral("确定要删除 六 分组吗？\n（可从回收站恢复）"));
    EXPECT_EQ(NodeOf(view_.get(), 6), nullptr);
    EXPECT_EQ(CountRows(QStringLiteral("select count(*) from NoteType where SelfIndex=6 or "
                                       "ParentIndex=6")),
              0);
    EXPECT_EQ(Groups(), 1);
}

TEST_F(TreeTest, DeleteRefusalsAndTheSilentNo) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertGroup(2, 1, QStringLiteral("项目"));
    TCardTree& tree = Load();

    view_->clearSelection();
    Run([&] { tree.DeleteGroup(); });
    Select(0);
    Run([&] { tree.DeleteGroup(); });
    Select(1);
    Run([&] { tree.DeleteGroup(); });
    ASSERT_EQ(boxes_->Count(), 3); // errors only, no question
    for (const auto& box : boxes_->Boxes())
        EXPECT_EQ(box.kind, BoxKind::Error);
    EXPECT_EQ(boxes_->Boxes()[0].text, QStringLiteral("请选择要删除的分组！"));
    EXPECT_EQ(boxes_->Boxes()[1].text, QStringLiteral("不能删除根分组！"));
    EXPECT_EQ(boxes_->Boxes()[2].text, QStringLiteral("还有下级分组，不能删除该分组！"));

    boxes_->Clear();
    Select(2);
    tree.SqlText = QStringLiteral("untouched");
    boxes_->AnswerNo();
    Run([&] { tree.DeleteGroup(); });
    ASSERT_EQ(boxes_->Count(), 1); // the question, then nothing
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("确定要删除 项目 分组吗？\n（可从回收站恢复）"));
    EXPECT_EQ(tree.SqlText, QStringLiteral("untouched"));
    EXPECT_NE(NodeOf(view_.get(), 2), nullptr);
    EXPECT_EQ(Groups(), 2);
}

TEST_F(TreeTest, NamesWithQuotesAndTheBatchSeparatorRoundTrip) {
    const QString odd = QStringLiteral("it's @#@ 'x'");
    const QString renamed = QStringLiteral("@#@'; drop table NoteType; --");
    {
        TCardTree& tree = Load();
        Select(0);
        tree.AddGroup(odd);
        tree.AddGroup(QStringLiteral("另一个"));
        Select(2);
        EXPECT_TRUE(tree.RenameGroup(renamed));
        EXPECT_EQ(NodeOf(view_.get(), 2)->text(0), renamed);
        EXPECT_EQ(tree.SqlText, QStringLiteral("update NoteType set TypeName='@#@''; drop table "
                                               "NoteType; --' where SelfIndex=2 "));
    }
    TCardTree& again = Load();
    EXPECT_EQ(NodeOf(view_.get(), 1)->text(0), odd);
    EXPECT_EQ(NodeOf(view_.get(), 2)->text(0), renamed);
    EXPECT_EQ(again.MaxIndex(), 2);
}

TEST_F(TreeTest, FailedStatementsLeaveTheTreeAsItWas) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    TCardTree& tree = Load();
    Select(1);
    DbAccess->Connection.Exec(QStringLiteral(
        "create trigger refuse before insert on NoteType begin select raise(abort, 'no'); end;"
        "create trigger refuse2 before update on NoteType begin select raise(abort, 'no'); end"));
    EXPECT_THROW(tree.AddGroup(QStringLiteral("新")), EDBException);
    EXPECT_EQ(NodeOf(view_.get(), 1)->childCount(), 0);
    EXPECT_EQ(tree.MaxIndex(), 1);
    EXPECT_THROW(tree.RenameGroup(QStringLiteral("改")), EDBException);
    EXPECT_EQ(NodeOf(view_.get(), 1)->text(0), QStringLiteral("工作"));
}

TEST_F(TreeTest, NewGroupAsksWithThePositionAndCancelAddsNothing) {
    InsertGroup(1, 0, QStringLiteral("A"));
    InsertGroup(2, 1, QStringLiteral("B"));
    TCardTree& tree = Load();
    view_->clearSelection();
    EXPECT_FALSE(tree.NewGroup()); // nothing selected: no dialog either

    Select(2);
    QString position;
    OnGroupDialog([&](TFormAddType* form) {
        position = form->edtPos()->text();
        EXPECT_TRUE(form->edtPos()->isReadOnly());
        EXPECT_EQ(form->windowTitle(), QStringLiteral("新建组"));
        form->btnCancel()->click();
    });
    EXPECT_FALSE(tree.NewGroup());
    EXPECT_EQ(position, QStringLiteral("根目录->A->B"));
    EXPECT_EQ(Groups(), 2);
    EXPECT_EQ(boxes_->Count(), 0);
}

TEST_F(TreeTest, AnInfoBoxInsideTheGroupDialogIsAnsweredAndTheDialogGoesOn) {
    TCardTree& tree = Load();
    Select(0);
    boxes_->ShowRealBoxes();
    OnGroupDialog([](TFormAddType* form) {
        AnswerRealBoxLater(QStringLiteral("名称不能为空!"), false);
        UserClick(form->btnOK());
        AnswerRealBoxLater(QStringLiteral("名称不能为空!"), true);
        QTest::keyClick(form->windowHandle(), Qt::Key_Return);
        TypeText(form->edtName(), QStringLiteral("周报"));
        UserClick(form->btnOK());
    });
    ASSERT_TRUE(tree.NewGroup());
    EXPECT_EQ(boxes_->Count(), 2);
    EXPECT_EQ(StoredText(QStringLiteral("select TypeName from NoteType where SelfIndex=1")),
              QStringLiteral("周报"));
}

TEST_F(TreeTest, GroupNameDialogRefusesBlankNamesAndKeepsSpaces) {
    bool stayedOpen = false;
    OnGroupDialog([&](TFormAddType* form) {
        EXPECT_EQ(QApplication::focusWidget(), form->edtName());
        form->edtName()->setText(QStringLiteral(" \t "));
        form->btnOK()->click();
        stayedOpen = form->isVisible();
        form->edtName()->setText(QStringLiteral("  周报  "));
        form->btnOK()->click();
    });
    QString name = QStringLiteral("old");
    EXPECT_EQ(AskGroupName(QStringLiteral("根目录"), name), 1);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].kind, BoxKind::Info);
    EXPECT_EQ(boxes_->Boxes()[0].text, QStringLiteral("名称不能为空!"));
    EXPECT_EQ(name, QStringLiteral("  周报  "));

    // Stored with the spaces.
    TCardTree& tree = Load();
    Select(0);
    AnswerGroupName(QStringLiteral(" 前后有空格 "));
    ASSERT_TRUE(tree.NewGroup());
    EXPECT_EQ(StoredText(QStringLiteral("select TypeName from NoteType where SelfIndex=1")),
              QStringLiteral(" 前后有空格 "));

    // Cancel clears the name.
    OnGroupDialog([](TFormAddType* form) {
        form->edtName()->setText(QStringLiteral("x"));
        form->btnCancel()->click();
    });
    EXPECT_EQ(AskGroupName(QStringLiteral("根目录"), name), 2);
    EXPECT_TRUE(name.isEmpty());
}

TEST_F(TreeTest, GroupNameFieldTakesDateStamps) {
    TPinnedClock clock(At(QStringLiteral("2026-12-07 09:05:03")));
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(QDate(2026, 12, 7), QLocale::ShortFormat);
    const QString time = LongTimeText(QTime(9, 5, 3));
    QString name;
    OnGroupDialog([&](TFormAddType* form) {
        QLineEdit* edit = form->edtName();
        edit->setText(QStringLiteral("会议XX"));
        edit->setSelection(2, 2); // the stamp replaces "XX"
        QTest::keyClick(edit, Qt::Key_D, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Space);
        QTest::keyClick(edit, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        form->btnOK()->click();
    });
    ASSERT_EQ(AskGroupName(QStringLiteral("根目录"), name), 1);
    EXPECT_EQ(name, QStringLiteral("会议") + date + QStringLiteral(" ") + date +
                        QStringLiteral(" ") + time);
}

// A group moved elsewhere under a newer one has a larger parent index than its own; a loop of
// parents (two moves on two machines) must not hide its groups.
TEST_F(TreeTest, GroupsHangUnderTheirParentsWhateverTheIndexesAndALoopEndsAtTheRoot) {
    InsertGroup(1, 3, QStringLiteral("移过去的"));
    InsertGroup(2, 0, QStringLiteral("旧的"));
    InsertGroup(3, 2, QStringLiteral("新的"));
    InsertGroup(4, 5, QStringLiteral("甲"));
    InsertGroup(5, 4, QStringLiteral("乙"));
    auto placed = [this] {
        QStringList where;
        for (int i = 1; i <= 5; ++i)
            where << TCardTree::PositionText(NodeOf(view_.get(), i));
        return where;
    };
    const QStringList expected = {"根目录->旧的->新的->移过去的", "根目录->旧的",
                                  "根目录->旧的->新的", "根目录->甲", "根目录->甲->乙"};
    Load();
    EXPECT_EQ(placed(), expected);
    // Refresh places them alike, also when a move arrives later.
    ExecSql("update NoteType set ParentIndex=5 where SelfIndex=2");
    tree_->Refresh();
    EXPECT_EQ(placed(), QStringList({"根目录->乙->旧的->新的->移过去的", "根目录->乙->旧的",
                                     "根目录->乙->旧的->新的", "根目录->乙->甲", "根目录->乙"}));
}

// The next index comes from the file: a group another writer added meanwhile (a sync pass)
// keeps its own, and the file refuses two groups with one index.
TEST_F(TreeTest, ANewGroupNeverTakesTheIndexOfOneTheViewDoesNotShowYet) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    Load();
    InsertGroup(2, 0, QStringLiteral("同步来的"));
    Select(0);
    QTreeWidgetItem* node = tree_->AddGroup(QStringLiteral("新建的"));
    EXPECT_EQ(TCardTree::RecordOf(node)->SelfIndex, 3);
    EXPECT_EQ(CountRows("select count(distinct SelfIndex) from NoteType"), 3);
    EXPECT_THROW(ExecSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'x')"),
                 EDBException);
}
