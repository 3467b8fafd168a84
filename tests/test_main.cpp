#include "common/UntPrivateFiles.h"
#include "shell/UntApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // As the program does: what the tests make of the user's data is private.
    KeepNewFilesPrivate();
    // Test binaries also run at build time (test discovery), where there may be no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TQuilletApp app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
