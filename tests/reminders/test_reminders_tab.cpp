#include "ReminderTestSupport.h"

#include <QLabel>
#include <QSet>
#include <QTest>

#include "notepad/UntNote.h"
#include "reminders/RemindersPage.h"
#include "reminders/UntReportView.h"
#include "settings/UntConfig.h"
#include "shell/Main.h"
#include "storage/UntSqlText.h"
#include "ui_BaseAlam.h"

#include <QButtonGroup>
#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QTest>

namespace {
const QDate Monday(2026, 12, 7);

// The text colour a row's cell is drawn with.
QColor DrawnColour(QTreeWidget* view, int row, int column) {
    auto* delegate = dynamic_cast<TReportDelegate*>(view->itemDelegate());
    if (!delegate)
        return QColor();
    QStyleOptionViewItem option;
    option.palette = view->palette();
    delegate->initStyleOption(&option, view->model()->index(row, column));
    return option.palette.color(QPalette::Text);
}
} // namespace

class RemindersTabTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        lv1 = Child<QTreeWidget>(Main(), "lv1");
    }
    QString Add(int reDay, int hour, int monWeek, const QDate& day, const QString& text = "提醒") {
        TAlam& alam = *AlamData;
        alam.ReDay = reDay;
        alam.iHour = hour;
        alam.iMinute = 5;
        alam.iMonWeek = monWeek;
        alam.AlamDate = QDateTime(day, QTime(0, 0));
        alam.ReMark = text;
        alam.Add();
        return QString::number(GetIntValue("select max(ID) from Alam"));
    }
    void Reload() { AlamData->LoadList(lv1, RemindersPageOf(Main())->FilterIndex()); }
    void Select(int row) { lv1->setCurrentItem(lv1->topLevelItem(row)); }
    int Count() { return GetIntValue("select count(*) from Alam"); }

    QTreeWidget* lv1 = nullptr;
    TPinnedClock clock_{At("2026-12-07 08:00:00")};
};

TEST_F(RemindersTabTest, ListHasItsColumnsFontMenuAndFilters) {
    const QStringList captions = {"ID", "重复频率", "提醒时间", "内容", "状态"};
    const int widths[] = {1, 80, 300, 280, 80};
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignHCenter,
                                        Qt::AlignHCenter, Qt::AlignHCenter};
    ASSERT_EQ(lv1->columnCount(), 5);
    Add(rdDaily, 9, 1, Monday);
    Reload();
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(lv1->headerItem()->text(c), captions[c]);
        EXPECT_EQ(lv1->columnWidth(c), widths[c]);
        QStyleOptionViewItem option;
        static_cast<TReportDelegate*>(lv1->itemDelegate())
            ->initStyleOption(&option, lv1->model()->index(0, c));
        EXPECT_EQ(option.displayAlignment & Qt::AlignHorizontal_Mask, alignments[c]) << c;
    }
    EXPECT_EQ(lv1->font().pixelSize(), 16);
    EXPECT_EQ(lv1->toolTip(), QStringLiteral("点右键可以新建、修改和删除提醒"));
    EXPECT_EQ(lv1->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(lv1->selectionBehavior(), QAbstractItemView::SelectRows);
    QStringList menu;
    for (QAction* action : Child<QMenu>(Main(), "pmAlam")->actions())
        menu << action->text();
    EXPECT_EQ(menu, QStringList({"新建提醒", "修改", "删除"}));

    QStringList items;
    for (QAbstractButton* b : Child<QGroupBox>(Main(), "rgAlam")->findChildren<QRadioButton*>())
        items << b->text();
    EXPECT_EQ(items,
              QStringList({"全部提醒", "今天", "明天", "错过", "每天", "每周", "每月", "每年"}));
    EXPECT_EQ(RemindersPageOf(Main())->FilterIndex(), 0);
    EXPECT_TRUE(Child<QRadioButton>(Main(), "rgAlam0")->isChecked());
}

TEST_F(RemindersTabTest, RowsAreColouredByRepeatKindWhateverTheirState) {
    const QString seen = Add(rdOnce, 9, 1, Monday);
    Add(rdOnce, 7, 1, Monday); // missed at 8:00
    Add(rdDaily, 9, 1, Monday);
    Add(rdWeekly, 9, 135, Monday);
    Add(rdMonthly, 9, 15, Monday);
    Add(rdYearly, 9, 1, Monday);
    Add(rdLunarYearly, 9, 815, Monday);
    AlamData->MarkSeen(seen);
    Reload();
    ASSERT_EQ(lv1->topLevelItem(0)->text(4), QStringLiteral("看过的"));
    ASSERT_EQ(lv1->topLevelItem(1)->text(4), QStringLiteral("错过的"));
    const QColor normal = lv1->palette().color(QPalette::Text);
    const QColor expected[] = {QColor(255, 0, 0),   QColor(255, 0, 0), normal,
                               QColor(0, 128, 0),   QColor(0, 0, 255), AlamYearlyColor,
                               AlamLunarYearlyColor};
    // Each yearly colour stands apart from the others and from the text colour.
    EXPECT_EQ(QSet<QRgb>({expected[0].rgb(), normal.rgb(), expected[3].rgb(), expected[4].rgb(),
                          expected[5].rgb(), expected[6].rgb()})
                  .size(),
              6);
    for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 5; ++column)
            EXPECT_EQ(DrawnColour(lv1, row, column), expected[row]) << row << "," << column;

    // Decided when drawn: a row whose kind text changes changes colour.
    lv1->topLevelItem(2)->setText(1, QStringLiteral("每月"));
    EXPECT_EQ(DrawnColour(lv1, 2, 3), QColor(0, 0, 255));
}

TEST_F(RemindersTabTest, ChoosingAFilterReloadsTheList) {
    const QString daily = Add(rdDaily, 9, 1, Monday);
    const QString weekly = Add(rdWeekly, 9, 1, Monday); // Mondays
    Reload();
    QTest::mouseClick(Child<QRadioButton>(Main(), "rgAlam5"), Qt::LeftButton);
    EXPECT_EQ(RemindersPageOf(Main())->FilterIndex(), 5);
    EXPECT_EQ(Captions(lv1), QStringList({weekly}));
    Child<QRadioButton>(Main(), "rgAlam1")->setChecked(true);
    EXPECT_EQ(Captions(lv1), QStringList({weekly}));
    Child<QRadioButton>(Main(), "rgAlam4")->setChecked(true);
    EXPECT_EQ(Captions(lv1), QStringList({daily}));
    QTest::mouseClick(Child<QRadioButton>(Main(), "rgAlam0"), Qt::LeftButton);
    EXPECT_EQ(Captions(lv1), QStringList({daily, weekly}));
}

TEST_F(RemindersTabTest, WithoutASelectionModifyAndDeleteDoNothing) {
    Add(rdDaily, 9, 1, Monday);
    Reload();
    lv1->clearSelection();
    bool opened = false;
    QPointer<QTimer> watch = WhenModal([&](QDialog* d) {
        opened = true;
        d->reject();
    });
    RemindersPageOf(Main())->NModAlamClick();
    RemindersPageOf(Main())->NDelAlamClick();
    QTest::qWait(50);
    EXPECT_FALSE(opened);
    EXPECT_EQ(boxes_->Count(), 0);
    EXPECT_EQ(lv1->topLevelItemCount(), 1);
    EXPECT_EQ(Count(), 1);
    delete watch.data();
}

TEST_F(RemindersTabTest, DeleteAsksAndNoKeepsTheRow) {
    Add(rdOnce, 9, 1, QDate(2026, 12, 6));
    Reload();
    Select(0);
    boxes_->AnswerNo();
    RunHandler(Main(), [&] { RemindersPageOf(Main())->NDelAlamClick(); });
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].kind, BoxKind::Question);
    EXPECT_EQ(boxes_->Boxes()[0].caption, QStringLiteral("确认"));
    EXPECT_EQ(boxes_->LastText(),
              QStringLiteral("确实要删除 2026-12-06  9时 5分 的提醒吗？\n（可从回收站恢复）"));
    EXPECT_EQ(lv1->topLevelItemCount(), 1);
    EXPECT_EQ(Count(), 1);
}

TEST_F(RemindersTabTest, DeleteUnderAFilterRemovesOnlyThatRowWithoutReloading) {
    const QString a = Add(rdWeekly, 9, 1, Monday, "甲");
    const QString b = Add(rdWeekly, 10, 2, Monday, "乙");
    const QString c = Add(rdWeekly, 11, 3, Monday, "丙");
    Add(rdDaily, 9, 1, Monday);
    Child<QRadioButton>(Main(), "rgAlam5")->setChecked(true);
    const QList<QStringList> before = Rows(lv1);
    Add(rdWeekly, 12, 4, Monday, "丁"); // not listed until a reload
    Select(1);
    boxes_->AnswerYes();
    RunHandler(Main(), [&] { RemindersPageOf(Main())->NDelAlamClick(); });
    EXPECT_EQ(Rows(lv1), QList<QStringList>({before[0], before[2]}));
    EXPECT_EQ(Captions(lv1), QStringList({a, c}));
    EXPECT_EQ(GetIntValue("select count(*) from Alam where ID=" + b), 0);
    EXPECT_EQ(Count(), 4);
}

TEST_F(RemindersTabTest, NewReminderReloadsUnderTheFilterActiveWhenTheDialogOpened) {
    const QString weekly = Add(rdWeekly, 9, 1, Monday);
    Add(rdMonthly, 9, 7, Monday);
    Child<QRadioButton>(Main(), "rgAlam5")->setChecked(true);
    WhenModal([&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("新建提醒"));
        Child<QRadioButton>(Main(), "rgAlam6")
            ->setChecked(true); // the filter changes behind the dialog
        d->findChild<QRadioButton*>("rbWeek")->setChecked(true);
        d->findChild<QCheckBox*>("chk2")->setChecked(true);
        d->findChild<QPlainTextEdit*>("mmoNote")->setPlainText("新的");
        QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    RemindersPageOf(Main())->NAddAlamClick();
    ASSERT_EQ(lv1->topLevelItemCount(), 2);
    EXPECT_EQ(lv1->topLevelItem(0)->text(0), weekly);
    EXPECT_EQ(lv1->topLevelItem(1)->text(3), QStringLiteral("新的"));

    // Cancel leaves the list as it was.
    Add(rdWeekly, 9, 5, Monday);
    WhenModal([](QDialog* d) {
        QTest::mouseClick(d->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    });
    RemindersPageOf(Main())->NAddAlamClick();
    EXPECT_EQ(lv1->topLevelItemCount(), 2);
}

TEST_F(RemindersTabTest, DoubleClickModifiesTheReminderAndReloads) {
    Add(rdDaily, 9, 1, Monday, "旧");
    Add(rdDaily, 10, 1, Monday);
    Reload();
    WhenModal([&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("修改提醒"));
        auto* hour = d->findChild<QLineEdit*>("edtHour");
        EXPECT_EQ(hour->text(), QStringLiteral("10"));
        hour->setText("11");
        QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    DoubleClick(lv1, lv1->topLevelItem(1));
    EXPECT_EQ(lv1->topLevelItem(1)->text(2), QStringLiteral(" 11时 5分"));
}

TEST_F(RemindersTabTest, TrayNewReminderOpensTheEditor) {
    QString title;
    WhenModal([&](QDialog* d) {
        title = d->windowTitle();
        d->reject();
    });
    for (QAction* action : Child<QMenu>(Main(), "PopupMenu")->actions())
        if (action->text() == QStringLiteral("新建提醒"))
            action->trigger();
    EXPECT_EQ(title, QStringLiteral("新建提醒"));
}

// The list is filled when the window is first shown.
class RemindersFirstShowTest : public AlamTest {};

TEST_F(RemindersFirstShowTest, WindowShowsAllRemindersAtStart) {
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    const QString a = AddAlam(rdDaily, 9, 0, 1, Monday);
    const QString b = AddAlam(rdOnce, 7, 0, 1, Monday);
    TNote note;
    TConfig config;
    NoteData = &note;
    ConfigData = &config;
    {
        TFormMain main;
        main.show();
        QTest::qWait(1);
        EXPECT_EQ(Captions(Child<QTreeWidget>(&main, "lv1")), QStringList({a, b}));
        EXPECT_EQ(Child<QTreeWidget>(&main, "lv1")->topLevelItem(1)->text(4),
                  QStringLiteral("错过的"));
        boxes_->AnswerYes(5);
        main.close();
    }
    NoteData = nullptr;
    ConfigData = nullptr;
}

TEST_F(RemindersTabTest, MenuKeyAndShiftF10OpenTheListsMenu) {
    Add(rdDaily, 9, 1, Monday);
    Reload();
    Select(0);
    for (const auto& [key, modifiers] : {std::make_pair(Qt::Key_F10, Qt::ShiftModifier),
                                         std::make_pair(Qt::Key_Menu, Qt::NoModifier)}) {
        QTest::keyClick(lv1, key, modifiers);
        EXPECT_TRUE(Child<QMenu>(Main(), "pmAlam")->isVisible()) << key;
        Child<QMenu>(Main(), "pmAlam")->hide();
    }
}

TEST_F(RemindersTabTest, BottomBarShowsTodayWithItsLunarDateAndTurnsAtMidnight) {
    QLabel* today = Child<QLabel>(Main(), "LabToday");
    EXPECT_EQ(today->text(), QStringLiteral("2026年12月7日 星期一 农历十月廿九 2027年放假安排未导入"));
    EXPECT_TRUE(today->isVisible());
    clock_.Set(At("2026-12-07 23:59:59"));
    QTest::qWait(1100);
    EXPECT_EQ(today->text(), QStringLiteral("2026年12月7日 星期一 农历十月廿九 2027年放假安排未导入"));
    clock_.Set(At("2026-12-08 00:00:00"));
    EXPECT_TRUE(
        WaitFor([&] { return today->text().startsWith(QStringLiteral("2026年12月8日")); }, 3000));
    EXPECT_EQ(today->text(), QStringLiteral("2026年12月8日 星期二 农历十月三十 2027年放假安排未导入"));
}

TEST_F(RemindersTabTest, ARefreshChangesTheListInPlaceAndEndsAsAFillWould) {
    for (int i = 0; i < 6; ++i)
        Add(rdDaily, 9 + i, 1, Monday, QStringLiteral("第%1条").arg(i));
    Reload();
    auto texts = [this] { return Rows(lv1); };
    auto refreshed = [&] {
        AlamData->RefreshList(lv1, 0);
        const QList<QStringList> got = texts();
        Reload();
        return got == texts();
    };
    Select(3);
    QTreeWidgetItem* selected = lv1->currentItem();
    const int contentWidth = lv1->columnWidth(3);
    // A text much longer than the column; then a row gone and a row added at the end.
    ExecSql(FormatSql("update Alam set ReMark='%s' where iHour=12",
                      {QStringLiteral("很长的内容").repeated(30)}));
    AlamData->RefreshList(lv1, 0);
    EXPECT_GT(lv1->columnWidth(3), contentWidth) << "columns fitted to the new text";
    ExecSql("delete from Alam where iHour=10");
    Add(rdOnce, 7, 1, Monday.addDays(1), QStringLiteral("新的"));
    AlamData->RefreshList(lv1, 0);
    EXPECT_EQ(lv1->currentItem(), selected) << "the selected row stays selected";
    const QList<QStringList> inPlace = texts();
    Reload();
    EXPECT_EQ(inPlace, texts());
    // Reordered rows (another filter's order is not at stake: a moved ID) end as a fill too.
    ExecSql("update Alam set ID=100 where iHour=9");
    EXPECT_TRUE(refreshed());
    ExecSql("delete from Alam where iHour>=11");
    EXPECT_TRUE(refreshed());
}
