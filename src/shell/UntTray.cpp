#include "UntTray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {
int trayOverride = -1;
}

bool TrayAvailable() {
    return trayOverride >= 0 ? trayOverride == 1 : QSystemTrayIcon::isSystemTrayAvailable();
}

void OverrideTrayAvailable(int available) {
    trayOverride = available;
}

void HideTaskbarButton(QWidget* window) {
    // Without a tray nothing could bring a hidden window back.
    if (TrayAvailable())
        window->hide();
}

bool TrayIsStatusNotifier() {
    // Qt registers the icon with this watcher whenever it runs on the session bus.
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quillet-%1.png").arg(size), QSize(size, size));
    return icon;
}
