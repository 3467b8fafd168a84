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

QByteArray ChoosePlatform(const QByteArray& chosen, const QByteArray& display,
                          const QByteArray& waylandDisplay, const QByteArray& sessionType) {
    if (!chosen.isEmpty())
        return chosen;
    if (waylandDisplay.isEmpty() && sessionType != "wayland")
        return {};
    // A native Wayland client can neither place nor raise its windows, so an alert would
    // lose its corner and its place on top; through XWayland it keeps both. Without XWayland
    // the choice is said rather than left to the plugins installed.
    return display.isEmpty() ? QByteArray("wayland") : QByteArray("xcb");
}

void PreferXWayland() {
    const QByteArray platform =
        ChoosePlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"),
                       qgetenv("XDG_SESSION_TYPE"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

bool TQuilletApp::notify(QObject* receiver, QEvent* event) {
    // The last line only: every handler that can throw is entered through RunHandler itself.
    bool handled = false;
    RunHandler(receiver, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
