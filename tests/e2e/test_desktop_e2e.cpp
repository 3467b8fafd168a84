// End to end under a real X server with a window manager (Xvfb and openbox): what the
// window manager is told about the program's windows, and what it does with them.
#include "TestSupport.h"

#include "storage/UntSchema.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

// Xvfb on a free display with openbox managing it, for as long as the object lives.
class TX11Session {
public:
    TX11Session() {
        xvfb_.setProcessChannelMode(QProcess::SeparateChannels);
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        if (!xvfb_.waitForReadyRead(10000))
            return;
        display_ = ":" + QString::fromLatin1(xvfb_.readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display_);
        openbox_.setProcessEnvironment(env);
        openbox_.start("openbox", {"--sm-disable"});
        managed_ = WaitFor(
            [&] {
                return X({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
            },
            10000);
    }
    ~TX11Session() {
        for (QProcess* p : {&openbox_, &xvfb_}) {
            p->terminate();
            if (!p->waitForFinished(3000))
                p->kill();
            p->waitForFinished(3000);
        }
    }
    bool Ready() const { return managed_; }
    QString Display() const { return display_; }
    // Runs an X client on this display; its output.
    QString X(const QStringList& command) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display_);
        p.setProcessEnvironment(env);
        p.start(command.first(), command.mid(1));
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // The first visible window with exactly this title, or an empty text.
    QString Window(const QString& title) const {
        return X({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"})
            .section('\n', 0, 0)
            .trimmed();
    }
    QString ActiveWindow() const {
        const QString root = X({"xprop", "-root", "_NET_ACTIVE_WINDOW"});
        const auto m = QRegularExpression("window id # (0x[0-9a-f]+)").match(root);
        return m.hasMatch() ? QString::number(m.captured(1).toULongLong(nullptr, 16)) : QString();
    }
    bool Viewable(const QString& window) const {
        return X({"xwininfo", "-id", window}).contains("Map State: IsViewable");
    }

private:
    QProcess xvfb_;
    QProcess openbox_;
    QString display_;
    bool managed_ = false;
};

bool ToolsPresent() {
    for (const char* tool : {"Xvfb", "openbox", "xprop", "xdotool", "xwininfo", "faketime"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            ADD_FAILURE() << tool << " is not installed (scripts/setup.sh installs it)";
            return false;
        }
    return true;
}

} // namespace

TEST(DesktopEndToEnd, AlertCannotBeMinimisedUnderAWindowManager) {
    if (!ToolsPresent())
        return;
    TX11Session x;
    ASSERT_TRUE(x.Ready());
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    CreateDatabase(program.Data(), DatabaseKey);
    {
        TConnection c;
        c.Open(program.Data(), DatabaseKey);
        c.Exec("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark)  "
               "values(10,0,1,0,'2026-12-07','十点开会') ");
    }
    QProcess* p = program.Start(
        {}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x.Display(), "FAKETIME_DONT_FAKE_MONOTONIC=1"},
        {"faketime", "-f", "@2026-12-07 09:59:55"});
    ASSERT_TRUE(p->waitForStarted());
    QString alert;
    ASSERT_TRUE(WaitFor([&] { return !(alert = x.Window("提醒")).isEmpty(); }, 30000))
        << QString::fromUtf8(p->readAll());
    QTest::qWait(300);

    // What the program asked for, and what the window manager allows. Openbox ignores the
    // Motif minimise and close bits (KWin and xfwm4 follow them), so there the window must
    // come back by itself.
    const QString allowed = x.X({"xprop", "-id", alert, "_NET_WM_ALLOWED_ACTIONS"});
    EXPECT_TRUE(allowed.contains("_NET_WM_ACTION_MOVE")) << allowed;
    EXPECT_FALSE(allowed.contains("_NET_WM_ACTION_MAXIMIZE")) << allowed;
    EXPECT_FALSE(allowed.contains("_NET_WM_ACTION_RESIZE")) << allowed;
    const QString motif = x.X({"xprop", "-id", alert, "_MOTIF_WM_HINTS"});
    const auto m = QRegularExpression("= (\\w+), (\\w+), (\\w+)").match(motif);
    ASSERT_TRUE(m.hasMatch()) << motif;
    EXPECT_TRUE(m.captured(1).toUInt(nullptr, 0) & 1) << "functions are given";
    EXPECT_EQ(m.captured(2).toUInt(nullptr, 0) & (1 | 8 | 16 | 32), 0u)
        << "neither all nor minimise, maximise or close";
    const QString normal = x.X({"xprop", "-id", alert, "WM_NORMAL_HINTS"});
    const auto min = QRegularExpression("minimum size: (\\d+) by (\\d+)").match(normal);
    const auto max = QRegularExpression("maximum size: (\\d+) by (\\d+)").match(normal);
    ASSERT_TRUE(min.hasMatch() && max.hasMatch()) << normal;
    EXPECT_EQ(min.captured(0).mid(8), max.captured(0).mid(8)) << "fixed size";

    // Minimised all the same, it is back on the screen at once.
    x.X({"xdotool", "windowminimize", alert});
    QTest::qWait(1000);
    EXPECT_TRUE(x.Viewable(alert));
    EXPECT_TRUE(x.X({"xprop", "-id", alert, "WM_STATE"}).contains("Normal"));
}

TEST(DesktopEndToEnd, SecondStartBringsTheRunningCopysWindowForward) {
    if (!ToolsPresent())
        return;
    TX11Session x;
    ASSERT_TRUE(x.Ready());
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    const QStringList onX = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x.Display()};
    QProcess* first = program.Start({}, onX);
    ASSERT_TRUE(first->waitForStarted());
    QString main;
    ASSERT_TRUE(WaitFor([&] { return !(main = x.Window("Quillet-Morvane软件")).isEmpty(); }))
        << QString::fromUtf8(first->readAll());
    x.X({"xdotool", "windowminimize", "--sync", main});
    ASSERT_FALSE(x.Viewable(main));

    QProcess* second = program.Start({}, onX);
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(program.Boxes(), QStringLiteral("提示|桌面Quillet软件已经运行!\n"));
    EXPECT_TRUE(WaitFor([&] { return x.Viewable(main) && x.ActiveWindow() == main; }, 5000))
        << x.X({"xwininfo", "-id", main}) << x.ActiveWindow();
    EXPECT_EQ(first->state(), QProcess::Running);
}
