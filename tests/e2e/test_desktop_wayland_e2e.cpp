// End to end on the desktops of today: the tray icon offered to a StatusNotifier host over
// D-Bus, and an alert in a Wayland session (weston, headless, with XWayland).
#include "TestSupport.h"

#include "XSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

namespace {

const QString Python = QStringLiteral("/usr/bin/python3"); // where Debian puts its modules

// Why a tool of tools is missing; empty when all are there.
QString Missing(const QStringList& tools) {
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool + " is not installed; run scripts/setup.sh";
    return {};
}

QString FakeTimeMissing() {
    for (const QString& arch : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs))
        if (QFile::exists("/usr/lib/" + arch + "/faketime/libfaketime.so.1"))
            return {};
    return QStringLiteral("libfaketime is not installed; run scripts/setup.sh");
}

void Stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

// A session bus of its own.
class TSessionBus {
public:
    ~TSessionBus() { Stop(daemon_); }
    bool Start() {
        daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        if (!daemon_.waitForReadyRead(5000))
            return false;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return !address_.isEmpty();
    }
    QString Address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

QString ReadText(const QString& path) {
    return QString::fromUtf8(ReadAll(path));
}

// Weston without a screen, with XWayland and with its screenshot protocol.
class TWeston {
public:
    explicit TWeston(const QString& runtimeDir) : runtimeDir_(runtimeDir) {}
    ~TWeston() { Stop(weston_); }
    // Empty when it runs with an X display; otherwise why not.
    QString Start() {
        QDir().mkpath(runtimeDir_);
        QFile::setPermissions(runtimeDir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess help;
        help.start(QStringLiteral("weston"), {QStringLiteral("--help")});
        help.waitForFinished(5000);
        // Weston 10 (Debian 12) has --use-pixman; later ones name the renderer.
        const QString pixman = QString::fromUtf8(help.readAll()).contains("--renderer=")
                                   ? QStringLiteral("--renderer=pixman")
                                   : QStringLiteral("--use-pixman");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir_);
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        weston_.setProcessEnvironment(env);
        weston_.setProcessChannelMode(QProcess::MergedChannels);
        weston_.start(QStringLiteral("weston"),
                      {"--backend=headless-backend.so", pixman, "--xwayland", "--debug",
                       "--socket=" + Socket(), "--width=1280", "--height=1024", "--idle-time=0",
                       "--log=" + Log()});
        // XWayland is started at the first X client; its display is named at once.
        QRegularExpressionMatch m;
        WaitFor(
            [&] {
                m = QRegularExpression("xserver listening on display (:\\d+)")
                        .match(ReadText(Log()));
                return m.hasMatch() || weston_.state() == QProcess::NotRunning;
            },
            10000);
        if (!m.hasMatch())
            return "weston did not start with XWayland: " + ReadText(Log()) +
                   QString::fromUtf8(weston_.readAll());
        display_ = m.captured(1);
        return {};
    }
    QString Socket() const { return QStringLiteral("wayland-quillet"); }
    QString Display() const { return display_; }
    QString Log() const { return runtimeDir_ + "/weston.log"; }
    // What the compositor shows; null when it cannot say.
    QImage Screenshot() const {
        QTemporaryDir dir;
        QProcess shooter;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir_);
        env.insert("WAYLAND_DISPLAY", Socket());
        shooter.setProcessEnvironment(env);
        shooter.setWorkingDirectory(dir.path()); // where it writes its picture
        shooter.start(QStringLiteral("weston-screenshooter"), QStringList());
        shooter.waitForFinished(10000);
        const QStringList pictures = QDir(dir.path()).entryList({"*.png"});
        return pictures.isEmpty() ? QImage() : QImage(dir.filePath(pictures.first()));
    }

private:
    QString runtimeDir_;
    QString display_;
    QProcess weston_;
};

// How much of the picture (of its bottom-right quarter) is the red of one-off reminders (the
// list's and the alert's text); nothing else on weston's screen is that red.
int RedPixels(const QImage& picture, bool bottomRight = false) {
    int count = 0;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = bottomRight ? image.height() / 2 : 0; y < image.height(); ++y)
        for (int x = bottomRight ? image.width() / 2 : 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            count += qRed(c) > 220 && qGreen(c) < 40 && qBlue(c) < 40;
        }
    return count;
}

} // namespace

// The tray icon of a KDE or GNOME (AppIndicator) desktop: the program registers it with the
// session's StatusNotifierWatcher, offers the tray's own menu, and a click shows the window.
TEST(DesktopWaylandEndToEnd, TrayIconReachesAStatusNotifierHost) {
    const QString missing = Missing({"Xvfb", "openbox", "xdotool", "xwininfo", "dbus-daemon"});
    if (!missing.isEmpty())
        GTEST_SKIP() << missing;
    if (QProcess::execute(Python, {"-c", "import dbus, gi.repository.GLib"}) != 0)
        GTEST_SKIP() << "python3-dbus or python3-gi is not installed; run scripts/setup.sh";
    TXServer server(true);
    const QString x = server.Display();
    ASSERT_FALSE(x.isEmpty());
    TSessionBus bus;
    ASSERT_TRUE(bus.Start());
    QTemporaryDir dir;
    const QString log = dir.filePath("watcher.log");
    QProcess watcher;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.Address());
    watcher.setProcessEnvironment(env);
    watcher.setProcessChannelMode(QProcess::MergedChannels);
    watcher.start(Python, {QStringLiteral(QUILLET_TEST_FOLDER "/status_notifier_watcher.py"), log});
    QDBusConnection client = QDBusConnection::connectToBus(bus.Address(), "sni-test");
    const auto closeClient = qScopeGuard([] { QDBusConnection::disconnectFromBus("sni-test"); });
    ASSERT_TRUE(WaitFor(
        [&] {
            return client.interface()->isServiceRegistered("org.kde.StatusNotifierWatcher") ||
                   watcher.state() == QProcess::NotRunning;
        },
        10000));
    ASSERT_EQ(watcher.state(), QProcess::Running) << QString::fromUtf8(watcher.readAll());

    TProgramRun program(dir.filePath("program"));
    QProcess* p = program.Start(
        {}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x, "DBUS_SESSION_BUS_ADDRESS=" + bus.Address()});
    ASSERT_TRUE(p->waitForStarted());
    EXPECT_TRUE(WaitFor([&] { return ReadText(log).contains("\nend\n"); }, 20000))
        << ReadText(log) << QString::fromUtf8(watcher.readAll()) << QString::fromUtf8(p->readAll());
    const QString described = ReadText(log);
    const auto item =
        QRegularExpression("^item (\\S+) (\\S+)$", QRegularExpression::MultilineOption)
            .match(described);
    ASSERT_TRUE(item.hasMatch()) << described;

    // The entries a user sees, in order, as in the XEmbed tray's menu.
    QStringList entries;
    for (const QString& line : described.split('\n'))
        if (line.startsWith("menu ") && line.endsWith("|True"))
            entries << line.mid(5).section('|', 0, 1);
    EXPECT_EQ(entries.join(','),
              QStringLiteral("新建提醒|,软件主页|,立即同步|,|separator,显示窗口|,关闭|"))
        << described;

    // Minimised, the window leaves the task bar for the tray; the host's click brings it back.
    const QString main = WaitForWindow(x, "^Quillet-Morvane软件$", p);
    ASSERT_FALSE(main.isEmpty()) << QString::fromUtf8(p->readAll());
    ASSERT_TRUE(WaitFor(
        [&] {
            RunOnDisplay(x, {"xdotool", "windowminimize", main});
            return !Viewable(x, main);
        },
        10000));
    QDBusMessage activate = QDBusMessage::createMethodCall(
        item.captured(1), item.captured(2), "org.kde.StatusNotifierItem", "Activate");
    activate << 10 << 10;
    const QDBusMessage reply = client.call(activate);
    EXPECT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage();
    EXPECT_TRUE(WaitFor([&] { return Viewable(x, main); }, 5000));
    EXPECT_EQ(p->state(), QProcess::Running);
    Stop(watcher);
}

// In a Wayland session the program runs through XWayland and asks for its corner there.
// Weston's own X window manager takes a window's place from the moment it was created (later
// moves of an unmapped window are dropped), ignores "above" and rewrites _NET_WM_STATE on
// mapping; so what is checked is what any XWayland desktop is given, and that the alert shows.
TEST(DesktopWaylandEndToEnd, AlertUnderWestonRunsThroughXWaylandAndAsksForTheCorner) {
    QString missing =
        Missing({"weston", "Xwayland", "weston-screenshooter", "xdotool", "xprop", "xwininfo"});
    if (missing.isEmpty())
        missing = FakeTimeMissing();
    if (!missing.isEmpty())
        GTEST_SKIP() << missing;
    QTemporaryDir dir;
    TWeston weston(dir.path() + "/run"); // the program's own runtime folder
    const QString why = weston.Start();
    if (!why.isEmpty())
        GTEST_SKIP() << why;
    const QString x = weston.Display();

    TProgramRun program(dir.path());
    program.CreateDataWithReminders({"10:00 十点开会"});
    // QT_QPA_PLATFORM empty is as if unset: the program chooses.
    QProcess* p =
        program.Start({}, QStringList{"QT_QPA_PLATFORM=", "XDG_SESSION_TYPE=wayland",
                                      "WAYLAND_DISPLAY=" + weston.Socket(), "DISPLAY=" + x} +
                              FakeTimeAt("2026-12-07 09:59:50"));
    ASSERT_TRUE(p->waitForStarted());
    // The main window is an X window: the program chose XWayland. Its list shows the reminder
    // in red before the alert does.
    ASSERT_FALSE(WaitForWindow(x, "^Quillet-Morvane软件$", p).isEmpty())
        << QString::fromUtf8(p->readAll()) << ReadText(weston.Log());
    int before = 0;
    ASSERT_TRUE(WaitFor([&] { return (before = RedPixels(weston.Screenshot())) > 0; }, 8000))
        << "weston-screenshooter took no picture, or the list shows no reminder";
    ASSERT_TRUE(program.Boxes().isEmpty()) << "the alert came before the first picture";
    EXPECT_EQ(RedPixels(weston.Screenshot(), true), 0) << "red in the corner before the alert";

    const QString alert = WaitForWindow(x, "^提醒$", p);
    ASSERT_FALSE(alert.isEmpty()) << QString::fromUtf8(p->readAll());
    const QString hints = RunOnDisplay(x, {"xprop", "-id", alert, "WM_NORMAL_HINTS"});
    const auto at = QRegularExpression("specified location: (\\d+), (\\d+)").match(hints);
    ASSERT_TRUE(at.hasMatch()) << hints;
    const QString root = RunOnDisplay(x, {"xwininfo", "-root"});
    const int width = QRegularExpression("Width: (\\d+)").match(root).captured(1).toInt();
    const int height = QRegularExpression("Height: (\\d+)").match(root).captured(1).toInt();
    ASSERT_GT(width, 0) << root;
    EXPECT_GE(at.captured(1).toInt(), width / 2) << hints;
    EXPECT_GE(at.captured(2).toInt(), height / 2) << hints;
    EXPECT_LE(at.captured(1).toInt() + 292, width) << hints;
    EXPECT_LE(at.captured(2).toInt() + 198, height) << hints;
    // On the screen, in its bottom-right quarter, where nothing was red before.
    EXPECT_TRUE(WaitFor([&] { return RedPixels(weston.Screenshot(), true) > 0; }, 8000));
    EXPECT_EQ(p->state(), QProcess::Running);
}
