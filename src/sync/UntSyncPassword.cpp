#include "UntSyncPassword.h"

#include "UntSyncStore.h"
#include "storage/UntDbAccess.h"

#include <QObject>
#include <qt6keychain/keychain.h>

namespace {

const QString KeyringService = QStringLiteral("Quillet");

QString KeyOf(const TSyncSettings& s) {
    return QStringLiteral("sync/") + s.UserName + QLatin1Char('@') + s.ServerUrl;
}

void SaveInFile(TDbAccess& db, TSyncSettings settings, const QString& password) {
    settings.InKeyring = false;
    settings.PassWord = password;
    settings.Save(db);
}

} // namespace

bool KeyringAvailable() {
#if defined(Q_OS_LINUX) || defined(Q_OS_UNIX)
    // Without a session bus there is no keyring to talk to (and asking could start one).
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
#else
    return true;
#endif
}

void StoreSyncPassword(TDbAccess& db, TSyncSettings settings, const QString& password,
                       QObject* context, std::function<void(bool)> done) {
    if (!KeyringAvailable()) {
        SaveInFile(db, settings, password);
        QMetaObject::invokeMethod(
            context, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(KeyringService);
    job->setAutoDelete(true);
    job->setKey(KeyOf(settings));
    job->setTextData(password);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [&db, settings, password, done](QKeychain::Job* j) mutable {
                         if (j->error() != QKeychain::NoError) {
                             SaveInFile(db, settings, password);
                             return done(false);
                         }
                         settings.InKeyring = true;
                         settings.PassWord.clear();
                         settings.Save(db);
                         done(true);
                     });
    job->start();
}

void ReadSyncPassword(const TSyncSettings& settings, QObject* context,
                      std::function<void(bool, const QString&)> done) {
    if (!settings.InKeyring) {
        const QString password = settings.PassWord;
        QMetaObject::invokeMethod(
            context, [done, password] { done(true, password); }, Qt::QueuedConnection);
        return;
    }
    auto* job = new QKeychain::ReadPasswordJob(KeyringService);
    job->setAutoDelete(true);
    job->setKey(KeyOf(settings));
    QObject::connect(job, &QKeychain::Job::finished, context, [done](QKeychain::Job* j) {
        auto* read = static_cast<QKeychain::ReadPasswordJob*>(j);
        done(read->error() == QKeychain::NoError, read->textData());
    });
    job->start();
}
