#include "UntCompactDatabase.h"

#include "UException.h"
#include "UntDbAccess.h"
#include "common/UntAppDir.h"
#include "common/UntClock.h"
#include "common/UntHandler.h"
#include "common/UntPublic.h"

#include <QWidget>
#include <exception>

namespace {
const QString BackupFilter = QStringLiteral("数据文件 (*.bat)");
}

bool CompactDatabase(const QString& path, const QString& password) {
    try {
        TConnection connection;
        connection.Open(path, password);
        connection.Exec(QStringLiteral("VACUUM"));
        return true;
    } catch (...) {
        return false;
    }
}

void BackupCommand(QWidget* owner) {
    QString path = AskSaveFileName(owner, BackupFilter, QStringLiteral("数据备份"),
                                   QStringLiteral("Quillet备份 %1.bat")
                                       .arg(Clock::Today().toString(QStringLiteral("yyyy-MM-dd"))));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive))
        path += QStringLiteral(".bat");
    BackupData(path);
}

void RestoreCommand(QWidget* owner, const std::function<void()>& reloadViews,
                    const std::function<QString(const QString&)>& askPassword) {
    if (!AskYesNo(QStringLiteral("你确定要恢复数据吗？你做的操作可能会覆盖最新的数据！")))
        return;
    const QString path = AskOpenFileName(owner, BackupFilter, QStringLiteral("数据恢复"));
    if (path.isEmpty())
        return;
    // The chosen file is read and checked before the safety copy is written, so choosing
    // the safety copy undoes the last restore.
    // Made while the data file was encrypted with another login password: that one opens it.
    // Given up, the restore goes on to say why the file cannot be restored.
    QString password;
    if (DbAccess->RefusesKnownKeys(path))
        password = askPassword(path);
    std::exception_ptr failed;
    try {
        RestoreData(path, AppDir() + SafetyCopyName, password);
    } catch (...) {
        failed = std::current_exception();
    }
    if (failed) {
        RunHandler(owner, reloadViews);
        std::rethrow_exception(failed);
    }
    reloadViews();
    WriteErrorLog(QStringLiteral("数据恢复！"));
}
