#pragma once

#include <QString>
#include <stdexcept>

class TConnection;

// The schema version this program writes into a new database (PRAGMA user_version).
constexpr int SchemaVersion = 6;

// Creates the initial database at path: the five tables and one SysSet row. Built beside the
// target and renamed into place, so a failure never leaves a half-made file. Throws
// EEngineError.
void CreateDatabase(const QString& path, const QString& key);

// Throws EEngineError unless the open database holds the program's five tables.
void CheckSchema(TConnection& connection);

// The upgrade of an older file failed; the file was left exactly as it was.
class ESchemaUpgradeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Brings an open database of an older schema version up to SchemaVersion in place, in one
// transaction (version 2 adds Alam.AheadDays, version 3 the UIDs and the sync's tables,
// version 4 makes each group's index its own).
// Throws ESchemaUpgradeError, with everything rolled back. A newer file is left alone.
void UpgradeSchema(TConnection& connection);

// The UID of the notes' root group, which has no row of its own.
inline const QString RootGroupUid = QStringLiteral("quillet-notes-root");
