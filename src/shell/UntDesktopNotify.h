#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

// One desktop notification (org.freedesktop.Notifications on the session bus), shown for as
// long as this object lives. Everything is asynchronous: without a session bus or a
// notification service nothing is shown, nothing waits and nothing is reported.
class QDBusConnection;

class TDesktopNotification : public QObject {
    Q_OBJECT
public:
    struct TAction {
        QString Key;
        QString Label;
    };

    // Actions are offered only where the server supports them; the key "default" is a click
    // on the notification itself.
    TDesktopNotification(QObject* parent, const QString& summary, const QString& body,
                         const QList<TAction>& actions);
    ~TDesktopNotification() override;

    // Takes the notification off the desktop; a later action is no longer reported.
    void Withdraw();
    // The server's ID once it has answered, else 0.
    uint Id() const { return id_; }

Q_SIGNALS:
    void Invoked(const QString& key);

private:
    friend class TNotifyBus;
    void Send(const QStringList& capabilities);

    QString summary_;
    QString body_;
    QList<TAction> actions_;
    uint id_ = 0;
    bool withdrawn_ = false;
};

// Hears the notification server's signals and hands each to its notification.
class TNotifyBus : public QObject {
    Q_OBJECT
public:
    static TNotifyBus* Get();
    // The bus, with the server's signals heard on it; not connected when there is none.
    QDBusConnection Hooked();
    void Forget() { hooked_.clear(); }

    QHash<uint, QPointer<TDesktopNotification>> live;

private Q_SLOTS:
    void ActionInvoked(uint id, const QString& key);
    void NotificationClosed(uint id, uint reason);

private:
    using QObject::QObject;
    QString hooked_;
};

// Tests: the bus notifications go to from now on (a private bus's address).
void UseNotificationBus(const QString& address);
