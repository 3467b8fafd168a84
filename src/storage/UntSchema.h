#pragma once

#include <QString>

class TConnection;

// The schema version this program writes into a new database (PRAGMA user_version).
constexpr int SchemaVersion = 3;

// Creates the initial database at path: the five tables and one SysSet row. Built beside the
// target and renamed into place, so a failure never leaves a half-made file. Throws
// EEngineError.
void CreateDatabase(const QString& path, const QString& key);

// Throws EEngineError unless the open database holds the program's five tables.
void CheckSchema(TConnection& connection);

// Brings an older file up to SchemaVersion in place, in one transaction: on failure the file
// is left exactly as it was and EEngineError says why. A newer file is left alone.
void UpgradeSchema(TConnection& connection);

// The UID of the notes' root group, which has no row of its own.
inline const QString RootGroupUid = QStringLiteral("quillet-notes-root");
