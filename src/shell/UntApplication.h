#pragma once

#include <QApplication>

// The application object.
class TQuilletApp : public QApplication {
    Q_OBJECT
public:
    TQuilletApp(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The platform plugin for the environment's values: the user's QT_QPA_PLATFORM; under a
// Wayland session "xcb" (XWayland) when an X display is there, else "wayland"; elsewhere
// empty, left to Qt.
QByteArray ChoosePlatform(const QByteArray& chosen, const QByteArray& display,
                          const QByteArray& waylandDisplay, const QByteArray& sessionType);
// Sets QT_QPA_PLATFORM to that choice. Call before the application object exists.
void PreferXWayland();

// The application title: taskbar caption and the name of the run-at-login entry.
inline const QString AppTitle = QStringLiteral("Quillet软件-Morvane软件");
