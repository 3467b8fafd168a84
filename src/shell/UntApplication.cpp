#include "UntApplication.h"

#include "UntCommandLine.h"
#include "common/UntHandler.h"

#include <QLibraryInfo>
#include <QTranslator>

TQuilletApp::TQuilletApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Lets the desktop match windows, the tray icon and notifications to quillet.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet"));
    QCoreApplication::setApplicationVersion(ProgramVersion());
    // The whole interface is Chinese, so Qt's own texts (box buttons, file dialogs, edit
    // menus) are too, whatever the system's language.
    auto* standardTexts = new QTranslator(this);
    if (standardTexts->load(QStringLiteral("qtbase_zh_CN"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(standardTexts);
}

void PreferXWayland() {
    // A native Wayland client can neither place nor raise its windows, so an alert would
    // lose its corner and its place on top; through XWayland it keeps both.
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

bool TQuilletApp::notify(QObject* receiver, QEvent* event) {
    // The last line only: every handler that can throw is entered through RunHandler itself.
    bool handled = false;
    RunHandler(receiver, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
