#include "UntSyncCommand.h"

#include "UntInstanceLock.h"
#include "UntLoginPrompt.h"
#include "common/UntAppDir.h"
#include "common/UntPublic.h"
#include "settings/UntConfig.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "sync/UntSyncEngine.h"
#include "sync/UntSyncPassword.h"
#include "sync/UntSyncStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QUrl>
#include <cstdio>

namespace {

int Fail(const QString& text, int code = 1) {
    std::fputs(("quillet: " + text + "\n").toLocal8Bit().constData(), stderr);
    return code;
}

} // namespace

int RunSyncCommand(int& argc, char** argv, bool setup, const QString& url, const QString& user) {
    if (setup) {
        const QUrl address(url, QUrl::StrictMode);
        if (!address.isValid() || (address.scheme() != QLatin1String("https") &&
                                   address.scheme() != QLatin1String("http")))
            return Fail(QStringLiteral("服务器地址无效：") + url, 2);
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    // No window here: what would be a box is a line on standard error.
    SetMessageBoxHook([](BoxKind, const QString&, const QString& text) {
        std::fputs(("quillet: " + text + "\n").toLocal8Bit().constData(), stderr);
        return 0;
    });
    TCardException reporter;
    CardException = &reporter;
    SetAppDir(ResolveAppDir());
    TConfig config;
    ConfigData = &config;
    struct TClear {
        ~TClear() {
            ConfigData = nullptr;
            CardException = nullptr;
        }
    } clear;

    TInstanceLock lock(QStringLiteral("Brindlet"));
    if (lock.HeldByOther())
        return Fail(
            QStringLiteral("Quillet正在运行，请关闭它后再同步，或在程序中同步。未做任何更改。"));

    TDbAccess db;
    DbAccess = &db;
    struct TDisconnect {
        ~TDisconnect() { DbAccess = nullptr; }
    } disconnect;
    db.Connect();
    if (!TerminalUnlock())
        return Fail(QString::fromUtf8(WrongLoginText));
    if (!db.Connection.IsOpen())
        return Fail(QStringLiteral("无法打开数据文件。"));

    try {
        config.Load();
        // As for the other command-line actions: the login password is the first line.
        if (!TerminalLoginOk(config))
            return Fail(QString::fromUtf8(WrongLoginText));

        TSyncSettings settings;
        settings.Load(db);
        if (setup) {
            const QString password = ReadPasswordLine("同步密码: ");
            settings.ServerUrl = url;
            settings.UserName = user;
            settings.Enabled = true;
            // Plain HTTP only to this machine: there is no one here to warn.
            settings.PlainHttp = false;
            bool stored = false;
            // Setting up from a terminal is the user's own choice: told, not asked.
            const auto inFile = [&db] {
                std::fputs((PasswordInFileNotice(db).section(u'。', 0, 1) +
                            QStringLiteral("。已保存在数据文件中。\n"))
                               .toLocal8Bit()
                               .constData(),
                           stderr);
                return true;
            };
            StoreSyncPassword(db, settings, password, &app, inFile, [&](bool) {
                stored = true;
                app.quit();
            });
            if (!stored)
                app.exec();
            return 0;
        }
        if (!settings.Enabled || settings.ServerUrl.isEmpty())
            return Fail(QStringLiteral("还没有设置同步（quillet --sync-setup 地址 用户名）"));

        TSyncEngine engine(db);
        bool ok = false;
        QString message;
        QObject::connect(&engine, &TSyncEngine::Finished, &app,
                         [&](bool passOk, const QString& text) {
                             ok = passOk;
                             message = text;
                             app.quit();
                         });
        ReadSyncPassword(settings, &app, [&](bool read, const QString& pw) {
            if (read)
                engine.SetPassword(pw);
            engine.SyncNow();
        });
        app.exec();
        if (!ok)
            return Fail(message.isEmpty() ? engine.StateText() : message);
        return 0;
    } catch (const std::exception& e) {
        return Fail(QString::fromLocal8Bit(e.what()));
    }
}
