#include "UntApplication.h"

#include "UntCommandLine.h"
#include "storage/UException.h"

TQuilletApp::TQuilletApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Lets the desktop match windows, the tray icon and notifications to quillet.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet"));
    QCoreApplication::setApplicationVersion(ProgramVersion());
}

bool TQuilletApp::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    ReportEscaped(receiver, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void ReportEscaped(QObject* sender, const std::function<void()>& f) {
    try {
        f();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        if (CardException)
            CardException->ReportException(sender, e);
    } catch (...) {
        if (CardException)
            CardException->ReportException(sender, std::runtime_error("unknown error"));
    }
}
