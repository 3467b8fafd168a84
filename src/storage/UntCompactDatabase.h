#pragma once

#include <QString>

// Compacts the database file in place with one atomic VACUUM, keeping its key. Runs after
// the connection is closed for good; true when the compaction went through. A failure
// leaves the file as it was.
bool CompactDatabase(const QString& path, const QString& password);
