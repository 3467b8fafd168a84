#include "Startup.h"

#include "Main.h"
#include "UntApplication.h"
#include "UntInstanceLock.h"
#include "common/UntAppDir.h"
#include "common/UntPublic.h"
#include "notepad/UntNote.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamContext.h"
#include "settings/UntConfig.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"

#include <memory>

namespace {

// Makes a single object and publishes it through its global; the global is cleared again
// when the object goes. Declared in creation order, so they are freed in reverse.
template <typename T> class TSingle {
public:
    explicit TSingle(T*& global) : global_(global), object_(std::make_unique<T>()) {
        global_ = object_.get();
    }
    ~TSingle() { global_ = nullptr; }
    TSingle(const TSingle&) = delete;
    TSingle& operator=(const TSingle&) = delete;

private:
    T*& global_;
    std::unique_ptr<T> object_;
};

struct TSingleObjects {
    TSingle<TCardException> reporter{CardException};
    bool appDir = (SetAppDir(ResolveAppDir()), true);
    TSingle<TNote> note{NoteData};
    TSingle<TConfig> config{ConfigData};
    TSingle<TAlamContext> alamContext{AlamContextData};
    TSingle<TAlam> alam{AlamData};
};

} // namespace

int RunQuillet(int& argc, char** argv, void (*installTestHooks)()) {
    TQuilletApp app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    // Alerts and dialogs must not end the program; only the main window does.
    QApplication::setQuitOnLastWindowClosed(false);

    TSingleObjects objects;
    if (installTestHooks)
        installTestHooks();

    TInstanceLock lock(QStringLiteral("Brindlet"));
    if (lock.HeldByOther()) {
        ShowInfo(QStringLiteral("桌面Quillet软件已经运行!"));
        return 0;
    }

    auto db = std::make_unique<TDbAccess>();
    DbAccess = db.get();
    DbAccess->Connect();

    std::unique_ptr<TFormMain> mainWindow;
    if (DbAccess->Connection.IsOpen()) {
        QCoreApplication::setApplicationName(AppTitle);
        mainWindow = std::make_unique<TFormMain>();
        mainWindow->show();
        QApplication::exec();
    }

    try {
        DbAccess = nullptr;
        db.reset();
    } catch (...) {
    }
    mainWindow.reset();
    return 0;
}
