#include "UntCompactDatabase.h"

#include "UException.h"
#include "UntDbAccess.h"
#include "common/UntAppDir.h"
#include "common/UntPublic.h"

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
    QString path = AskSaveFileName(owner, BackupFilter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".bat")))
        path += QStringLiteral(".bat");
    BackupData(path);
}

bool RestoreCommand(QWidget* owner) {
    if (!AskYesNo(QStringLiteral("你确定要恢复数据吗？你做的操作可能会覆盖最新的数据！")))
        return false;
    const QString path = AskOpenFileName(owner, BackupFilter);
    if (path.isEmpty())
        return false;
    BackupData(AppDir() + SafetyCopyName);
    RestoreData(path);
    WriteErrorLog(QStringLiteral("数据恢复！"));
    return true;
}
