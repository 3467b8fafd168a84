// End to end: keys typed into the real program's note reach the data file at once, so a
// kill right after typing loses none of them. The program runs on its own X display (Xvfb)
// and is typed into with xdotool, as a user would.
#include "TestSupport.h"
#include "XSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

TEST(NotepadEndToEnd, EveryKeyTypedBeforeAKillIsStored) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        << "Xvfb is not installed (package xvfb): the real program cannot be shown and typed "
           "into; run scripts/setup.sh";
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        << "xdotool is not installed (package xdotool): nothing can type into the real program; "
           "run scripts/setup.sh";
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("sqlcipher")).isEmpty())
        << "the sqlcipher command-line tool is not installed: the stored note cannot be read";
    TXServer server;
    const QString display = server.Display();
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    QTemporaryDir dir;
    TProgramRun program(dir.path());
    QProcess* first = program.Start(
        QString(), {QStringLiteral("QT_QPA_PLATFORM=xcb"), QStringLiteral("DISPLAY=") + display});
    ASSERT_TRUE(first->waitForStarted());
    const QString window = WaitForWindow(display, QStringLiteral("Quillet-Morvane"), first);
    ASSERT_FALSE(window.isEmpty()) << first->readAll().toStdString();
    const QPoint origin = WindowOrigin(display, window);
    const int x = origin.x();
    const int y = origin.y();
    ASSERT_GE(x, 0);
    ASSERT_GE(y, 0);
    QTest::qWait(300); // the first showing loads the tree and the root's note

    const auto click = [&](int dx, int dy) {
        Xdo(display, {QStringLiteral("mousemove"), QString::number(x + dx), QString::number(y + dy),
                      QStringLiteral("click"), QStringLiteral("1")});
        QTest::qWait(200);
    };
    click(105, 12);  // the tab "记事本", right of "定时提醒"
    click(500, 200); // the memo, right of the 200-pixel group tree
    const QString typed = QStringLiteral("Kill safe note 42, typed key by key.");
    Xdo(display, {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), typed});
    // Long enough for the program to take the last key, far too short for any deferred save.
    QTest::qWait(250);
    first->kill(); // SIGKILL
    ASSERT_TRUE(first->waitForFinished(5000));
    EXPECT_EQ(first->exitStatus(), QProcess::CrashExit);

    // The next start opens the data as the kill left it.
    QProcess* second = program.Start();
    ASSERT_TRUE(second->waitForStarted());
    EXPECT_FALSE(second->waitForFinished(1500)) << second->readAll().toStdString();
    EXPECT_EQ(Sqlcipher(program.Data(),
                        SqlcipherUnlock + QStringLiteral("select ReMark from NoteBook where "
                                                         "TypeID=0;\n")),
              typed);
    EXPECT_EQ(program.Boxes(), QString()); // nothing went wrong on the way
}
