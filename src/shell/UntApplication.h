#pragma once

#include <QApplication>

// The application object.
class TQuilletApp : public QApplication {
    Q_OBJECT
public:
    TQuilletApp(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Under a Wayland session with XWayland, runs the program as an X11 client (unless the
// user chose a platform). Call before the application object exists.
void PreferXWayland();

// The application title: taskbar caption and the name of the run-at-login entry.
inline const QString AppTitle = QStringLiteral("Quillet软件-Morvane软件");
