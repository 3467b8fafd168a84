#include "UntApplication.h"

#include "storage/UException.h"

TQuilletApp::TQuilletApp(int& argc, char** argv) : QApplication(argc, argv) {}

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
