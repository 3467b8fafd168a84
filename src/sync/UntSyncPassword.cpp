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

// Without the user's yes the password is kept for this run only.
void SaveInFile(TDbAccess& db, TSyncSettings settings, const QString& password,
                const std::function<bool()>& inFile) {
    settings.InKeyring = false;
    settings.PassWord = inFile() ? password : QString();
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

QString PasswordInFileNotice(const TDbAccess& db) {
    const QString head = QStringLiteral("没有可用的系统密钥环来保存同步密码。");
    if (db.KeyIsPassword())
        return head + QStringLiteral("它可以保存在用登录密码加密的数据文件中。要保存吗？"
                                     "（不保存，则每次启动后同步前都要重新输入。）");
    return head +
           QStringLiteral("如果保存在数据文件中，它没有加密：能读取这个文件的人都能看到"
                          "同步密码。（在“软件设置”中选择“用登录密码加密数据文件”可以"
                          "保护它。）仍要保存吗？（不保存，则每次启动后同步前都要重新输入。）");
}

void StoreSyncPassword(TDbAccess& db, TSyncSettings settings, const QString& password,
                       QObject* context, std::function<bool()> inFile,
                       std::function<void(bool)> done) {
    if (!KeyringAvailable()) {
        SaveInFile(db, settings, password, inFile);
        QMetaObject::invokeMethod(
            context, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(KeyringService);
    job->setAutoDelete(true);
    job->setKey(KeyOf(settings));
    job->setTextData(password);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [&db, settings, password, inFile, done](QKeychain::Job* j) mutable {
                         if (j->error() != QKeychain::NoError) {
                             SaveInFile(db, settings, password, inFile);
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
