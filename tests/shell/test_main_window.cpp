#include "TestSupport.h"

#include "shell/Main.h"
#include "ui_Main.h"

#include <QTabWidget>

class MainFrameTest : public MainWindowTest {};

TEST_F(MainFrameTest, WindowHasItsCaptionSizeAndTabs) {
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Quillet-Morvane软件"));
    EXPECT_EQ(Main()->size(), QSize(800, 520));
    QTabWidget* tabs = Main()->ui()->pgc1;
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("定时提醒"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("记事本"));
    EXPECT_EQ(tabs->currentIndex(), 0);
}
