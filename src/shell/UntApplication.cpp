#include "UntApplication.h"

#include "common/UntHandler.h"

TQuilletApp::TQuilletApp(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQuilletApp::notify(QObject* receiver, QEvent* event) {
    // The last line only: every handler that can throw is entered through RunHandler itself.
    bool handled = false;
    RunHandler(receiver, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
