#include "ReminderTestSupport.h"

#include "reminders/AddAlam.h"
#include "reminders/AddAlamContext.h"
#include "reminders/AlamContext.h"
#include "reminders/ModAlamContext.h"
#include "ui_AddAlamContext.h"
#include "ui_AlamContext.h"
#include "ui_BaseAlam.h"
#include "ui_ModAlamContext.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

class AlamContextTest : public AlamTest {
protected:
    QString AddPreset(const QString& text) {
        context_.ReMark = text;
        context_.Add();
        return QString::number(GetIntValue("select max(ID) from AlamContext"));
    }
    int PresetCount() { return GetIntValue("select count(*) from AlamContext"); }
};

TEST_F(AlamContextTest, ListDialogLooksAsDescribed) {
    TFormAlamContext dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("预设提醒内容"));
    QTreeWidget* lv1 = dlg.ui()->lv1;
    EXPECT_EQ(lv1->headerItem()->text(0), QStringLiteral("ID"));
    EXPECT_EQ(lv1->headerItem()->text(1), QStringLiteral("预设提醒内容"));
    EXPECT_EQ(lv1->columnWidth(0), 0);
    EXPECT_EQ(lv1->columnWidth(1), 460);
    EXPECT_EQ(lv1->toolTip(), QStringLiteral("点右键可以新建、修改和是删除提醒内容"));
    QStringList menu;
    for (QAction* action : dlg.pm1()->actions())
        menu << action->text();
    EXPECT_EQ(menu, QStringList({"新建", "修改", "删除"}));
    TFormAddAlamContext add;
    EXPECT_EQ(add.windowTitle(), QStringLiteral("新建提醒内容"));
    TFormModAlamContext mod;
    EXPECT_EQ(mod.windowTitle(), QStringLiteral("修改提醒内容"));
}

TEST_F(AlamContextTest, HintTypesItselfOutInNineteenTicksAndEmptiesOnTheTwentieth) {
    TFormAlamContext dlg;
    EXPECT_EQ(dlg.tmrHint()->interval(), 200);
    EXPECT_TRUE(dlg.tmrHint()->isActive());
    dlg.tmrHint()->stop();
    QLabel* panel = dlg.statHintPanel();
    EXPECT_TRUE(panel->text().isEmpty());
    dlg.tmrHintTimer();
    EXPECT_EQ(panel->text(), QStringLiteral("点"));
    for (int tick = 2; tick <= 18; ++tick)
        dlg.tmrHintTimer();
    EXPECT_EQ(panel->text(), QStringLiteral("点右键可以新建、修改和删除预设提醒内"));
    dlg.tmrHintTimer();
    EXPECT_EQ(panel->text(), QStringLiteral("点右键可以新建、修改和删除预设提醒内容"));
    dlg.tmrHintTimer();
    EXPECT_TRUE(panel->text().isEmpty());
    dlg.tmrHintTimer();
    EXPECT_EQ(panel->text(), QStringLiteral("点"));
}

TEST_F(AlamContextTest, OkWithoutASelectionAsksForOne) {
    TFormAlamContext dlg;
    dlg.show();
    EXPECT_EQ(dlg.ui()->lv1->topLevelItemCount(), 0);
    EXPECT_EQ(dlg.ui()->lv1->columnCount(), 2);
    QTest::mouseClick(dlg.btnOK(), Qt::LeftButton);
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].kind, BoxKind::Info);
    EXPECT_EQ(boxes_->Boxes()[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("请先选择一条预设提醒内容!"));
    EXPECT_TRUE(dlg.isVisible());
    // Modify and delete without a selection do nothing.
    dlg.N2Click();
    dlg.N3Click();
    EXPECT_EQ(boxes_->Count(), 1);
}

TEST_F(AlamContextTest, DoubleClickedPresetReplacesTheEditorText) {
    AddPreset("喝水");
    AddPreset("开会带电脑");
    TFormAddAlam editor;
    editor.show();
    editor.ui()->mmoNote->setPlainText("原来的");
    WhenModal([](QDialog* d) {
        auto* lv1 = d->findChild<QTreeWidget*>("lv1");
        ASSERT_EQ(lv1->topLevelItemCount(), 2);
        DoubleClick(lv1, lv1->topLevelItem(1));
    });
    QTest::mouseClick(editor.ui()->btnAlamContext, Qt::LeftButton);
    EXPECT_EQ(editor.ui()->mmoNote->toPlainText(), QStringLiteral("开会带电脑"));

    // Cancel leaves the text alone, even with an entry selected.
    WhenModal([](QDialog* d) {
        auto* lv1 = d->findChild<QTreeWidget*>("lv1");
        lv1->setCurrentItem(lv1->topLevelItem(0));
        QTest::mouseClick(d->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(editor.ui()->btnAlamContext, Qt::LeftButton);
    EXPECT_EQ(editor.ui()->mmoNote->toPlainText(), QStringLiteral("开会带电脑"));
}

TEST_F(AlamContextTest, NewEntryAppearsAtOnce) {
    AddPreset("旧的");
    TFormAlamContext dlg;
    dlg.show();
    WhenModal(
        [](QDialog* d) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("新建提醒内容"));
            auto* note = d->findChild<QPlainTextEdit*>("mmoNote");
            QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton); // empty
            TypeText(note, "新的'@#@");
            QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
        },
        &dlg);
    dlg.N1Click();
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("提醒内容不能为空！"));
    ASSERT_EQ(dlg.ui()->lv1->topLevelItemCount(), 2);
    EXPECT_EQ(dlg.ui()->lv1->topLevelItem(1)->text(1), QStringLiteral("新的'@#@"));
    EXPECT_EQ(PresetCount(), 2);
}

TEST_F(AlamContextTest, ModifiedEntryIsShownAfterOk) {
    const QString id = AddPreset("早上好");
    TFormAlamContext dlg;
    dlg.show();
    dlg.ui()->lv1->setCurrentItem(dlg.ui()->lv1->topLevelItem(0));
    WhenModal(
        [](QDialog* d) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("修改提醒内容"));
            auto* note = d->findChild<QPlainTextEdit*>("mmoNote");
            EXPECT_EQ(note->toPlainText(), QStringLiteral("早上好"));
            note->setPlainText("晚上好");
            QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
        },
        &dlg);
    dlg.N2Click();
    EXPECT_EQ(dlg.ui()->lv1->topLevelItem(0)->text(1), QStringLiteral("晚上好"));
    EXPECT_EQ(dlg.ui()->lv1->topLevelItem(0)->text(0), id);
}

TEST_F(AlamContextTest, DeletedEntryDisappearsWithoutAReload) {
    AddPreset("一");
    const QString two = AddPreset("二");
    AddPreset("三");
    TFormAlamContext dlg;
    dlg.show();
    QTreeWidget* lv1 = dlg.ui()->lv1;
    AddPreset("四"); // in the table, not yet in the list
    lv1->setCurrentItem(lv1->topLevelItem(1));
    boxes_->AnswerNo();
    RunHandler(&dlg, [&] { dlg.N3Click(); });
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("你确定要删除你选择的内容吗?"));
    EXPECT_EQ(lv1->topLevelItemCount(), 3);
    EXPECT_EQ(PresetCount(), 4);

    boxes_->AnswerYes();
    RunHandler(&dlg, [&] { dlg.N3Click(); });
    QStringList texts;
    for (const QStringList& row : Rows(lv1))
        texts << row.at(1);
    EXPECT_EQ(texts, QStringList({"一", "三"}));
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext where ID=" + two), 0);
    EXPECT_EQ(PresetCount(), 3);
}
