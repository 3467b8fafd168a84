#include "Startup.h"

#include "Main.h"
#include "UntApplication.h"
#include "UntCommandLine.h"
#include "UntEndSignals.h"
#include "UntInstanceChannel.h"
#include "UntInstanceLock.h"
#include "UntLoginPrompt.h"
#include "common/UntAppDir.h"
#include "common/UntLunar.h"
#include "common/UntPublic.h"
#include "notepad/UntNote.h"
#include "notepad/UntNoteFolder.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamContext.h"
#include "reminders/UntAlamIcs.h"
#include "settings/Pass.h"
#include "settings/UntConfig.h"
#include "storage/UException.h"
#include "storage/UntCipherKey.h"
#include "storage/UntDbAccess.h"
#include "storage/UntFileLocks.h"
#include "storage/UntHolidayStore.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QStandardPaths>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#ifdef QUILLET_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

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

void PrintLine(std::FILE* stream, const QString& text) {
    std::fputs((text.trimmed() + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
}

// The one-line reason of a failure.
QString ReasonOf(const std::exception& e) {
    if (const auto* db = dynamic_cast<const EDBException*>(&e))
        return db->UserMessage + QStringLiteral(" ") + db->Message();
    return QString::fromUtf8(e.what());
}

QString RunRequest(const TExchangeRequest& request) {
    if (request.Option == QLatin1String("export-ics"))
        return ExportIcs(request.Path).Text;
    if (request.Option == QLatin1String("import-ics"))
        return ImportIcs(request.Path).Text();
    if (request.Option == QLatin1String("export-notes"))
        return ExportNotes(request.Path).Text;
    if (request.Option == QLatin1String("import-holidays"))
        return ImportHolidays(request.Path);
    return ImportNotes(request.Path, 0).Text;
}

} // namespace

int RunExchange(int& argc, char** argv, const TExchangeRequest& request) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    const QString program = QStringLiteral("quillet: ");
    // Nothing may open a window here: whatever the data layer would show goes to the terminal.
    SetMessageBoxHook([program](BoxKind, const QString&, const QString& text) {
        PrintLine(stderr, program + QString(text).replace(QStringLiteral("\r\n"), " "));
        return static_cast<int>(BoxNo);
    });

    TSingleObjects objects;
    // Importing writes: not while a running copy may write too. Exporting reads a snapshot
    // through the engine, which the running copy's locks on the data file allow; only while
    // those locks can be seen is it sure that this process leaves that copy's log alone.
    std::unique_ptr<TInstanceLock> lock =
        std::make_unique<TInstanceLock>(QStringLiteral("Brindlet"));
    const bool windowRunning = lock->HeldByOther();
    if (windowRunning && request.Imports()) {
        PrintLine(stderr, program + QStringLiteral("Quillet正在运行，请关闭它后再导入，"
                                                   "或在程序中导入。未做任何更改。"));
        return 1;
    }
    if (windowRunning && !FileLockedElsewhere(TDbAccess::DatabasePath())) {
        PrintLine(stderr, program + QStringLiteral("Quillet正在运行，但无法确认它对数据文件的锁定，"
                                                   "请关闭它后再导出。未做任何更改。"));
        return 1;
    }
    if (!request.Imports())
        lock.reset(); // an export does not keep the program from starting meanwhile

    auto db = std::make_unique<TDbAccess>();
    DbAccess = db.get();
    int exitCode = 1;
    try {
        DbAccess->Connect();
        // A wrong password leaves the file closed, and nothing below runs.
        if (!TerminalUnlock())
            PrintLine(stderr, program + QString::fromUtf8(WrongLoginText));
        if (windowRunning && DbAccess->Connection.IsOpen())
            DbAccess->Connection.KeepLogAtClose();
        if (DbAccess->Connection.IsOpen()) {
            ConfigData->Load();
            if (!TerminalLoginOk(*ConfigData)) {
                PrintLine(stderr, program + QString::fromUtf8(WrongLoginText));
            } else {
                PrintLine(stdout, RunRequest(request));
                exitCode = 0;
            }
        }
    } catch (const std::exception& e) {
        PrintLine(stderr, program + ReasonOf(e));
    }
    try {
        DbAccess = nullptr;
        db.reset();
    } catch (...) {
    }
    return exitCode;
}

int RunQuillet(int& argc, char** argv, void (*installTestHooks)()) {
    // The font configuration (4 ms of files read) and the lunar calendar (for today's line)
    // are loaded on the other core meanwhile.
    std::thread calendar;
    try {
        calendar = std::thread([] {
#ifdef QUILLET_HAVE_FONTCONFIG
            FcInit();
#endif
            PrepareLunarCalendar();
        });
    } catch (const std::system_error&) {
        // No thread to spare: the table is worked out when it is first needed.
    }
    const auto joinCalendar = qScopeGuard([&calendar] {
        if (calendar.joinable())
            calendar.join();
    });
    PreferXWayland();
    TQuilletApp app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    // Alerts and dialogs must not end the program; only the main window does.
    QApplication::setQuitOnLastWindowClosed(false);

    TSingleObjects objects;
    if (installTestHooks)
        installTestHooks();

    const QString instanceName = QStringLiteral("Brindlet");
    TInstanceLock lock(instanceName);
    if (lock.HeldByOther()) {
        // The running window comes forward once the box is answered: raised before, it could
        // cover the box it was raised for.
        ShowInfo(QStringLiteral("桌面Quillet软件已经运行!"));
        TInstanceChannel::Send(instanceName, {TInstanceMessageType::Activate, {}});
        return 0;
    }
    TInstanceChannel channel(instanceName);
    channel.Listen();

    SetCipherKeyStore(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                      QStringLiteral("/cipher-keys"));
    auto db = std::make_unique<TDbAccess>();
    DbAccess = db.get();
    DbAccess->Connect();
    if (DbAccess->LockedWithPassword() && !UnlockDataFile())
        DbAccess->GaveUpUnlocking();
    // A long reminder list is read on the other core while the window is made.
    const auto dropList = qScopeGuard([] { AlamData->DropPrefetch(); });
    if (DbAccess->Connection.IsOpen())
        AlamData->PrefetchList(0, true);

    std::unique_ptr<TFormMain> mainWindow;
    if (DbAccess->Connection.IsOpen()) {
        QCoreApplication::setApplicationName(AppTitle);
        mainWindow = std::make_unique<TFormMain>();
        QObject::connect(&channel, &TInstanceChannel::Received, mainWindow.get(),
                         [main = mainWindow.get()](const TInstanceMessage& message) {
                             if (message.Type == TInstanceMessageType::Activate)
                                 main->NShowFormClick();
                         });
        const TEndSignals endSignals([main = mainWindow.get()] { main->EndWithoutAsking(); });
        mainWindow->show();
        QApplication::exec();
    }

    AlamData->DropPrefetch();
    try {
        DbAccess = nullptr;
        db.reset();
    } catch (...) {
    }
    mainWindow.reset();
    return 0;
}
