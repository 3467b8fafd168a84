#include "UntAppDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString appDir;

QString WithSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace

QString AppDir() {
    return appDir;
}

void SetAppDir(const QString& dir) {
    appDir = WithSlash(dir);
}

bool IsInstalledCopy() {
    return QFileInfo::exists(QCoreApplication::applicationDirPath() +
                             QStringLiteral("/../share/applications/quillet.desktop"));
}

QString ResolveAppDir() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    // An installed copy keeps its data per user even where it could write beside itself
    // (root and /usr/bin): nothing may appear in a folder the package owns.
    if (!IsInstalledCopy() && QFileInfo(exeDir).isWritable())
        return WithSlash(exeDir);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(data);
    return WithSlash(data);
}
