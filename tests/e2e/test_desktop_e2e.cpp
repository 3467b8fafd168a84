// End to end under a real X server with a window manager (Xvfb and openbox): what the
// window manager is told about the program's windows, and what it does with them.
#include "TestSupport.h"

#include "XSupport.h"
#include "storage/UntSchema.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

namespace {

const QStringList Tools = {"Xvfb", "openbox", "xprop", "xdotool", "xwininfo", "xmessage"};

QString ActiveWindow(const QString& display) {
    const auto m = QRegularExpression("window id # (0x[0-9a-f]+)")
                       .match(RunOnDisplay(display, {"xprop", "-root", "_NET_ACTIVE_WINDOW"}));
    return m.hasMatch() ? QString::number(m.captured(1).toULongLong(nullptr, 16)) : QString();
}

} // namespace

TEST(DesktopEndToEnd, AlertCannotBeMinimisedNorCoveredUnderAWindowManager) {
    const QStringList clock = FakeTimeAt("2026-12-07 09:59:55");
    if (!ToolsPresent(Tools) || clock.isEmpty())
        return;
    TXServer server(true);
    const QString x = server.Display();
    ASSERT_FALSE(x.isEmpty());
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    program.CreateDataWithReminders({"10:00 十点开会"});
    QProcess* p = program.Start({}, QStringList{"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x} + clock);
    ASSERT_TRUE(p->waitForStarted());
    const QString alert = WaitForWindow(x, "^提醒$", p);
    ASSERT_FALSE(alert.isEmpty()) << QString::fromUtf8(p->readAll());
    QTest::qWait(300);

    // What the program asked for, and what the window manager allows. Openbox ignores the
    // Motif minimise and close bits (KWin and xfwm4 follow them), so there the window must
    // come back by itself.
    const QString allowed = RunOnDisplay(x, {"xprop", "-id", alert, "_NET_WM_ALLOWED_ACTIONS"});
    EXPECT_TRUE(allowed.contains("_NET_WM_ACTION_MOVE")) << allowed;
    EXPECT_FALSE(allowed.contains("_NET_WM_ACTION_MAXIMIZE")) << allowed;
    EXPECT_FALSE(allowed.contains("_NET_WM_ACTION_RESIZE")) << allowed;
    const QString motif = RunOnDisplay(x, {"xprop", "-id", alert, "_MOTIF_WM_HINTS"});
    const auto m = QRegularExpression("= (\\w+), (\\w+), (\\w+)").match(motif);
    ASSERT_TRUE(m.hasMatch()) << motif;
    EXPECT_TRUE(m.captured(1).toUInt(nullptr, 0) & 1) << "functions are given";
    EXPECT_EQ(m.captured(2).toUInt(nullptr, 0) & (1 | 8 | 16 | 32), 0u)
        << "neither all nor minimise, maximise or close";
    const QString normal = RunOnDisplay(x, {"xprop", "-id", alert, "WM_NORMAL_HINTS"});
    const auto min = QRegularExpression("minimum size: (\\d+) by (\\d+)").match(normal);
    const auto max = QRegularExpression("maximum size: (\\d+) by (\\d+)").match(normal);
    ASSERT_TRUE(min.hasMatch() && max.hasMatch()) << normal;
    EXPECT_EQ(min.captured(0).mid(8), max.captured(0).mid(8)) << "fixed size";

    // Minimised all the same, it is back on the screen at once.
    RunOnDisplay(x, {"xdotool", "windowminimize", alert});
    QTest::qWait(1000);
    EXPECT_TRUE(Viewable(x, alert));
    EXPECT_TRUE(RunOnDisplay(x, {"xprop", "-id", alert, "WM_STATE"}).contains("Normal"));

    // A window opened and activated after it does not cover it (GNOME's and KDE's window
    // managers keep windows above for XWayland clients alike).
    QProcess cover;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x);
    cover.setProcessEnvironment(env);
    cover.start("xmessage", {"-geometry", "1600x1200+0+0", "-name", "cover", "opened later"});
    ASSERT_TRUE(cover.waitForStarted());
    const auto stop = qScopeGuard([&] {
        cover.kill();
        cover.waitForFinished(2000);
    });
    const QString later = WaitForWindow(x, "^cover$", &cover);
    ASSERT_FALSE(later.isEmpty());
    RunOnDisplay(x, {"xdotool", "windowactivate", "--sync", later});
    QTest::qWait(500);
    // The window manager's stacking, bottom to top.
    QList<qulonglong> stacking;
    const QString list = RunOnDisplay(x, {"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
    for (const QString& id : list.section(u'#', 1).split(u',', Qt::SkipEmptyParts))
        stacking << id.trimmed().toULongLong(nullptr, 16);
    ASSERT_TRUE(stacking.contains(later.toULongLong())) << list;
    EXPECT_GT(stacking.indexOf(alert.toULongLong()), stacking.indexOf(later.toULongLong())) << list;
}

TEST(DesktopEndToEnd, SecondStartBringsTheRunningCopysWindowForward) {
    if (!ToolsPresent(Tools))
        return;
    TXServer server(true);
    const QString x = server.Display();
    ASSERT_FALSE(x.isEmpty());
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    const QStringList onX = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x};
    QProcess* first = program.Start({}, onX);
    ASSERT_TRUE(first->waitForStarted());
    const QString main = WaitForWindow(x, "^Quillet-Morvane软件$", first);
    ASSERT_FALSE(main.isEmpty()) << QString::fromUtf8(first->readAll())
                                 << RunOnDisplay(x, {"xwininfo", "-root", "-tree"});
    // Minimised (asked again until the window manager has taken the new window on).
    ASSERT_TRUE(WaitFor(
        [&] {
            RunOnDisplay(x, {"xdotool", "windowminimize", main});
            return !Viewable(x, main);
        },
        10000));

    QProcess* second = program.Start({}, onX);
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(program.Boxes(), QStringLiteral("提示|桌面Quillet软件已经运行!\n"));
    EXPECT_TRUE(WaitFor([&] { return Viewable(x, main) && ActiveWindow(x) == main; }, 5000))
        << RunOnDisplay(x, {"xwininfo", "-id", main}) << ActiveWindow(x);
    EXPECT_EQ(first->state(), QProcess::Running);
}
