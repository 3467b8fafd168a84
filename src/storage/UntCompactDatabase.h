#pragma once

#include <QString>
#include <functional>

// Compacts the database file in place with one atomic VACUUM, keeping its key. Runs after
// the connection is closed for good; true when the compaction went through. A failure
// leaves the file as it was.
bool CompactDatabase(const QString& path, const QString& password);

class QWidget;

// "数据备份": asks where to and copies the data there (".bat" added when missing).
void BackupCommand(QWidget* owner);
// "数据恢复": asks first, then for the backup; reads and checks it, keeps a safety copy of the
// data now in use in AppDir and replaces the data with it. reloadViews runs once the file may
// have changed, after a failure too (which it then rethrows). askPassword(path) asks for the
// login password a backup no key of ours opens was made with (empty: given up).
void RestoreCommand(QWidget* owner, const std::function<void()>& reloadViews,
                    const std::function<QString(const QString&)>& askPassword);

// The name of the safety copy in AppDir.
inline const QString SafetyCopyName = QStringLiteral("tmpData.bat");
