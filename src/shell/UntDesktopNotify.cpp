#include "UntDesktopNotify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QPointer>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString TestBusName = QStringLiteral("quillet-notify");

QString testAddress;

QDBusMessage Call(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(Service, ObjectPath, Interface, method);
    message.setArguments(arguments);
    return message;
}

// The bus that is running, if any: nothing may start one (libdbus would launch a bus of its
// own for an unset address).
QDBusConnection Bus() {
    if (!testAddress.isEmpty())
        return QDBusConnection::connectToBus(testAddress, TestBusName);
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") ||
         !QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus"))))
        return QDBusConnection(QString());
    return QDBusConnection::sessionBus();
}

} // namespace

TNotifyBus* TNotifyBus::Get() {
    static QPointer<TNotifyBus> hub;
    if (!hub && QCoreApplication::instance())
        hub = new TNotifyBus(QCoreApplication::instance());
    return hub;
}

QDBusConnection TNotifyBus::Hooked() {
    QDBusConnection bus = Bus();
    if (bus.isConnected() && hooked_ != bus.name()) {
        hooked_ = bus.name();
        bus.connect(Service, ObjectPath, Interface, QStringLiteral("ActionInvoked"), this,
                    SLOT(ActionInvoked(uint, QString)));
        bus.connect(Service, ObjectPath, Interface, QStringLiteral("NotificationClosed"), this,
                    SLOT(NotificationClosed(uint, uint)));
    }
    return bus;
}

void TNotifyBus::ActionInvoked(uint id, const QString& key) {
    if (TDesktopNotification* n = live.value(id))
        Q_EMIT n->Invoked(key);
}

void TNotifyBus::NotificationClosed(uint id, uint) {
    if (TDesktopNotification* n = live.take(id))
        n->id_ = 0;
}

TDesktopNotification::TDesktopNotification(QObject* parent, const QString& summary,
                                           const QString& body, const QList<TAction>& actions)
    : QObject(parent), summary_(summary), body_(body), actions_(actions) {
    TNotifyBus* hub = TNotifyBus::Get();
    if (!hub)
        return;
    QDBusConnection bus = hub->Hooked();
    if (!bus.isConnected())
        return;
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(Call(QStringLiteral("GetCapabilities"))), hub);
    connect(watcher, &QDBusPendingCallWatcher::finished, hub,
            [watcher, self = QPointer<TDesktopNotification>(this)] {
                watcher->deleteLater();
                const QDBusPendingReply<QStringList> reply = *watcher;
                if (self && !self->withdrawn_ && !reply.isError())
                    self->Send(reply.value());
            });
}

TDesktopNotification::~TDesktopNotification() {
    Withdraw();
}

void TDesktopNotification::Send(const QStringList& capabilities) {
    TNotifyBus* hub = TNotifyBus::Get();
    QDBusConnection bus = hub->Hooked();
    QStringList actions;
    if (capabilities.contains(QLatin1String("actions")))
        for (const TAction& a : actions_)
            actions << a.Key << a.Label;
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)},
                            {QStringLiteral("desktop-entry"), QStringLiteral("quillet")}};
    // A server that keeps missed notifications in its list may let this one leave the
    // screen; any other keeps it on the screen until it is answered.
    const int expire = capabilities.contains(QLatin1String("persistence")) ? -1 : 0;
    const QString body =
        capabilities.contains(QLatin1String("body-markup")) ? body_.toHtmlEscaped() : body_;
    const QDBusMessage notify = Call(QStringLiteral("Notify"),
                                     {QStringLiteral("Quillet"), uint(0), QStringLiteral("quillet"),
                                      summary_, body, actions, hints, expire});
    const QString busName = bus.name();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(notify), hub);
    connect(watcher, &QDBusPendingCallWatcher::finished, hub,
            [watcher, hub, busName, self = QPointer<TDesktopNotification>(this)] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError())
                    return;
                if (!self || self->withdrawn_) {
                    // Answered while the server was busy showing it.
                    QDBusConnection(busName).send(
                        Call(QStringLiteral("CloseNotification"), {reply.value()}));
                    return;
                }
                self->id_ = reply.value();
                hub->live.insert(self->id_, self);
            });
}

void TDesktopNotification::Withdraw() {
    withdrawn_ = true;
    if (!id_)
        return;
    if (TNotifyBus* hub = TNotifyBus::Get()) {
        hub->live.remove(id_);
        QDBusConnection bus = Bus();
        if (bus.isConnected())
            bus.send(Call(QStringLiteral("CloseNotification"), {id_}));
    }
    id_ = 0;
}

void UseNotificationBus(const QString& address) {
    QDBusConnection::disconnectFromBus(TestBusName);
    testAddress = address;
    if (TNotifyBus* hub = TNotifyBus::Get())
        hub->Forget();
}
