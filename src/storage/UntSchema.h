#pragma once

#include <QString>
#include <stdexcept>

class TConnection;

// The schema version this program writes into a new database (PRAGMA user_version).
constexpr int SchemaVersion = 2;

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

// Brings an open database of an older schema version up to SchemaVersion in one transaction
// (version 2 adds Alam.AheadDays). Throws ESchemaUpgradeError, with everything rolled back.
void UpgradeSchema(TConnection& connection);
