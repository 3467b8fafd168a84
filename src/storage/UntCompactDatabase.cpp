#include "UntCompactDatabase.h"

#include "UntDbAccess.h"

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
