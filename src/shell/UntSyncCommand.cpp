#include "UntSyncCommand.h"

#include "UntInstanceLock.h"
#include "common/UntAppDir.h"
#include "common/UntPublic.h"
#include "settings/UntConfig.h"
#include "settings/UntPassHash.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "sync/UntSyncEngine.h"
#include "sync/UntSyncPassword.h"
#include "sync/UntSyncStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QUrl>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

int Fail(const QString& text, int code = 1) {
    std::fputs(("quillet: " + text + "\n").toLocal8Bit().constData(), stderr);
    return code;
}

// The login password typed on the terminal without echo; nothing without a terminal.
bool AskLoginOnTerminal(QString* typed) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    const char prompt[] = "Quillet password: ";
    (void)!::write(fd, prompt, sizeof prompt - 1);
    termios old{};
    const bool isTerm = ::tcgetattr(fd, &old) == 0;
    if (isTerm) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    if (isTerm)
        ::tcsetattr(fd, TCSAFLUSH, &old);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    *typed = QString::fromLocal8Bit(line.c_str());
    return isTerm;
}

} // namespace

int RunSyncCommand(int& argc, char** argv, bool setup, const QString& url, const QString& user) {
    QString password;
    if (setup) {
        std::string line;
        std::getline(std::cin, line);
        password = QString::fromLocal8Bit(line.c_str());
        if (!password.isEmpty() && password.endsWith('\r'))
            password.chop(1);
        const QUrl address(url, QUrl::StrictMode);
        if (!address.isValid() || (address.scheme() != QLatin1String("https") &&
                                   address.scheme() != QLatin1String("http")))
            return Fail(QStringLiteral("not a server address: ") + url, 2);
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
        return Fail(QStringLiteral("Quillet is running; close it first. Nothing was changed."));

    TDbAccess db;
    DbAccess = &db;
    struct TDisconnect {
        ~TDisconnect() { DbAccess = nullptr; }
    } disconnect;
    db.Connect();
    if (!db.Connection.IsOpen())
        return Fail(QStringLiteral("the data file cannot be opened"));

    try {
        config.Load();
        if (config.bPass) {
            QString typed;
            if (!AskLoginOnTerminal(&typed))
                return Fail(QStringLiteral("a login password is set: run this on a terminal"));
            if (!VerifyPassword(typed, config.PassWord))
                return Fail(QStringLiteral("wrong password. Nothing was changed."));
        }

        TSyncSettings settings;
        settings.Load(db);
        if (setup) {
            settings.ServerUrl = url;
            settings.UserName = user;
            settings.Enabled = true;
            // Plain HTTP only to this machine: there is no one here to warn.
            settings.PlainHttp = false;
            bool stored = false;
            StoreSyncPassword(db, settings, password, &app, [&](bool) {
                stored = true;
                app.quit();
            });
            if (!stored)
                app.exec();
            return 0;
        }
        if (!settings.Enabled || settings.ServerUrl.isEmpty())
            return Fail(QStringLiteral("sync is not set up (quillet --sync-setup URL USER)"));

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
