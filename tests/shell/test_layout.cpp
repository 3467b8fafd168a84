// Nothing the windows show is cut short, at the default size and at double scale.
#include "TestSupport.h"

#include "shell/Main.h"

#include <QProcess>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

// Reads the look of a cell as any view's styled delegate would draw it.
struct TCellOption : QStyledItemDelegate {
    using QStyledItemDelegate::initStyleOption;
};

// The text a view shows in index, as the style draws it: whole, or cut short with "…".
QString ShownText(QAbstractItemView* view, const QModelIndex& index) {
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.widget = view;
    option.font = view->font();
    option.fontMetrics = QFontMetrics(option.font);
    const int icon = view->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view);
    option.decorationSize = view->iconSize().isValid() ? view->iconSize() : QSize(icon, icon);
    option.textElideMode = view->textElideMode();
    option.rect = view->visualRect(index);
    TCellOption().initStyleOption(&option, index);
    const QRect textRect =
        view->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return option.fontMetrics.elidedText(option.text, option.textElideMode,
                                         textRect.width() - 2 * margin);
}

} // namespace

class LayoutTest : public MainWindowTest {};

TEST_F(LayoutTest, LongestTextsOfTheListAndTheTreeAreShownWhole) {
    const double scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    EXPECT_DOUBLE_EQ(Main()->devicePixelRatioF(), scale);
    // The widest text of each kind and column.
    ExecSql("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
            "values(23,59,1234567,2,'2026-12-07','请把季度报告和全部发票一起交给财务部门')");
    ExecSql("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,bLook) "
            "values(23,59,1,0,'2026-12-07','开会',1)");
    ExecSql("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
            "values(23,59,31,3,'2026-12-07','交房租')");
    ExecSql("Insert into NoteType(SelfIndex,ParentIndex,TypeName) values(1,0,'工作')");
    ExecSql("Insert into NoteType(SelfIndex,ParentIndex,TypeName) "
            "values(2,1,'一个很长的分组名称：二〇二六年第四季度的会议记录')");
    Restart();
    Main()->resize(800, 520);

    QTreeWidget* list = Child<QTreeWidget>(Main(), "lv1");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        for (int column = 1; column < list->columnCount(); ++column) {
            const QModelIndex index = list->model()->index(row, column);
            EXPECT_EQ(ShownText(list, index), index.data().toString())
                << "row " << row << " column " << column;
            // and in view, without scrolling
            EXPECT_LE(list->visualRect(index).right(), list->viewport()->width());
        }

    Child<QTabWidget>(Main(), "pgc1")->setCurrentIndex(1);
    QTreeWidget* tree = Child<QTreeWidget>(Main(), "tvNote");
    tree->expandAll();
    QTest::qWait(1);
    QStringList shown;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        shown << ShownText(tree, tree->indexFromItem(*it));
    EXPECT_EQ(shown,
              QStringList({"根目录", "工作", "一个很长的分组名称：二〇二六年第四季度的会议记录"}));
}

// The same at double scale, in a run of its own (the scale is fixed when the program starts).
TEST(Layout, LongestTextsAreShownWholeAtDoubleScale) {
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2"))
        GTEST_SKIP() << "this is the run at double scale";
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=LayoutTest.LongestTextsOfTheListAndTheTreeAreShownWhole"});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QString out = QString::fromUtf8(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << out;
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out;
}
