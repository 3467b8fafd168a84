#include "UntApplication.h"

#include "UntCommandLine.h"
#include "common/UntHandler.h"

TQuilletApp::TQuilletApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Lets the desktop match windows, the tray icon and notifications to quillet.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet"));
    QCoreApplication::setApplicationVersion(ProgramVersion());
}

bool TQuilletApp::notify(QObject* receiver, QEvent* event) {
    // The last line only: every handler that can throw is entered through RunHandler itself.
    bool handled = false;
    RunHandler(receiver, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
