#pragma once

#include <QString>

// Compacts the database file in place with one atomic VACUUM, keeping its key. Runs after
// the connection is closed for good; true when the compaction went through. A failure
// leaves the file as it was.
bool CompactDatabase(const QString& path, const QString& password);

class QWidget;

// "数据备份": asks where to and copies the data there (".bat" added when missing).
void BackupCommand(QWidget* owner);
// "数据恢复": asks first, then for the backup, keeps a safety copy of the data now in use in
// AppDir and replaces the data with the backup. True when the data was replaced.
bool RestoreCommand(QWidget* owner);

// The name of the safety copy in AppDir.
inline const QString SafetyCopyName = QStringLiteral("tmpData.bat");
