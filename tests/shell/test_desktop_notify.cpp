#include "TestSupport.h"

#include "settings/UntConfig.h"
#include "shell/Main.h"
#include "shell/ShowAlam.h"
#include "shell/UntApplication.h"
#include "shell/UntDesktopNotify.h"
#include "storage/UntDbAccess.h"
#include "ui_ShowAlam.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString Notifications = QStringLiteral("org.freedesktop.Notifications");

// A private session bus with python3-dbusmock's notification server on it, which logs every
// call it receives.
class TNotifyServer {
public:
    ~TNotifyServer() {
        UseNotificationBus(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-test"));
        for (QProcess* p : {&mock_, &bus_}) {
            p->kill();
            p->waitForFinished();
        }
    }
    // Empty when it runs; otherwise why not.
    QString Start() {
        const QString python = QStringLiteral("/usr/bin/python3"); // where Debian puts dbusmock
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return QStringLiteral("no dbus-daemon");
        if (QProcess::execute(python, {QStringLiteral("-c"), QStringLiteral("import dbusmock")}))
            return QStringLiteral("python3-dbusmock is not installed");
        bus_.start(daemon, {"--session", "--nofork", "--print-address"});
        if (!bus_.waitForReadyRead(5000))
            return QStringLiteral("dbus-daemon did not start");
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        mock_.setProcessEnvironment(env);
        mock_.start(python, {"-m", "dbusmock", "--template", "notification_daemon", "-l",
                             dir_.filePath("calls.log"), "-p",
                             R"({"capabilities": "body actions persistence"})"});
        QDBusConnection client = Client();
        if (!QTest::qWaitFor([&] { return client.interface()->isServiceRegistered(Notifications); },
                             10000))
            return QStringLiteral("the notification server did not start");
        return {};
    }
    QString Address() const { return address_; }
    QDBusConnection Client() const {
        return QDBusConnection::connectToBus(address_, QStringLiteral("notify-test"));
    }
    QString Log() const {
        QFile log(dir_.filePath("calls.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
    // The server reports a click on one of the notification's actions.
    void Invoke(uint id, const QString& key) {
        QDBusMessage emit =
            QDBusMessage::createMethodCall(Notifications, "/org/freedesktop/Notifications",
                                           "org.freedesktop.DBus.Mock", "EmitSignal");
        emit << Notifications << QStringLiteral("ActionInvoked") << QStringLiteral("us")
             << QVariantList{id, key};
        const QDBusMessage reply = Client().call(emit);
        ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }

private:
    QTemporaryDir dir_;
    QProcess bus_, mock_;
    QString address_;
};

class NotifyTest : public MainWindowTest {
protected:
    void SetUp() override {
        clock_ = std::make_unique<TPinnedClock>(At("2026-12-07 09:59:50"));
        MainWindowTest::SetUp();
        Child<QTimer>(Main(), "tmr1")->stop(); // ticks are driven by the test
    }
    void TearDown() override {
        for (TFormShowAlam* a : OpenAlerts())
            a->Dismiss();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MainWindowTest::TearDown();
        clock_.reset();
    }
    TFormShowAlam* DueAlert(const QString& text, int minute) {
        ExecSql(QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                               "values(10,%1,1,0,'2026-12-07','%2')")
                    .arg(minute)
                    .arg(text));
        clock_->Set(At(QStringLiteral("2026-12-07 10:%1:00").arg(minute, 2, 10, QLatin1Char('0'))));
        RunHandler(nullptr, [&] { Main()->tmr1Timer(); });
        return OpenAlerts().isEmpty() ? nullptr : OpenAlerts().last();
    }
    // The server's ID for the alert's notification, once it has one.
    static uint NotifiedId(TFormShowAlam* alert) {
        const auto id = [alert] { return alert->Notification() ? alert->Notification()->Id() : 0; };
        return QTest::qWaitFor([&] { return id() != 0; }, 5000) ? id() : 0;
    }
    std::unique_ptr<TPinnedClock> clock_;
};

} // namespace

TEST_F(NotifyTest, EveryAlertIsANotificationWhose看到了MarksTheReminderSeen) {
    TNotifyServer server;
    if (const QString why = server.Start(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    UseNotificationBus(server.Address());

    TFormShowAlam* alert = DueAlert(QStringLiteral("交电费 <今天> & 明天"), 0);
    ASSERT_TRUE(alert);
    const uint id = NotifiedId(alert);
    ASSERT_NE(id, 0u);
    // Summary, body (escaped only where markup is read) and the actions the server offers.
    EXPECT_TRUE(server.Log().contains(
        QStringLiteral(R"("提醒" "交电费 <今天> & 明天" ["default", "", "seen", "看到了", )"
                       R"("snooze", "再次提醒…"])")))
        << server.Log().toStdString();

    const QString alamId = alert->AlamID;
    server.Invoke(id, QStringLiteral("seen"));
    EXPECT_TRUE(QTest::qWaitFor([] { return OpenAlerts().isEmpty(); }, 5000));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(GetIntValue("select bLook from Alam where ID=" + alamId), 1);
    // Answered, the notification leaves the desktop.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return server.Log().contains(QStringLiteral("CloseNotification %1").arg(id)); },
        5000));
}

TEST_F(NotifyTest, 再次提醒OpensTheSnoozeMenuAndTheSettingTurnsNotificationsOff) {
    TNotifyServer server;
    if (const QString why = server.Start(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    UseNotificationBus(server.Address());

    TFormShowAlam* alert = DueAlert(QStringLiteral("开会"), 0);
    ASSERT_TRUE(alert);
    const uint id = NotifiedId(alert);
    ASSERT_NE(id, 0u);
    server.Invoke(id, QStringLiteral("snooze"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return alert->pm1()->isVisible(); }, 5000));
    alert->pm1()->hide();
    EXPECT_EQ(OpenAlerts().size(), 1); // the alert waits for its own answer

    ConfigData->bNotify = false;
    TFormShowAlam* quiet = DueAlert(QStringLiteral("不通知"), 1);
    ASSERT_TRUE(quiet);
    EXPECT_EQ(quiet->Notification(), nullptr);
    QTest::qWait(300);
    EXPECT_EQ(server.Log().count(QStringLiteral(" Notify ")), 1);
    ConfigData->bNotify = true;
}

TEST_F(NotifyTest, TheSettingIsKeptInTheDataFileAndOnByDefault) {
    ConfigData->Load();
    EXPECT_TRUE(ConfigData->bNotify);
    ConfigData->bNotify = false;
    ConfigData->Save();
    EXPECT_EQ(GetIntValue("select bNotify from SysSet"), 0);
    ConfigData->bNotify = true;
    ConfigData->Load();
    EXPECT_FALSE(ConfigData->bNotify);
}

TEST(PlatformChoice, AWaylandSessionRunsThroughXWaylandWheneverItIsThere) {
    // GNOME and KDE on Wayland: both displays.
    EXPECT_EQ(ChoosePlatform("", ":0", "wayland-0", "wayland"), "xcb");
    EXPECT_EQ(ChoosePlatform("", ":1", "wayland-1", ""), "xcb");
    EXPECT_EQ(ChoosePlatform("", ":1", "", "wayland"), "xcb");
    // No XWayland: native, said explicitly.
    EXPECT_EQ(ChoosePlatform("", "", "wayland-0", "wayland"), "wayland");
    // The user's choice stands; an X session is left to Qt.
    EXPECT_EQ(ChoosePlatform("wayland", ":0", "wayland-0", "wayland"), "wayland");
    EXPECT_EQ(ChoosePlatform("", ":0", "", "x11"), "");
}
