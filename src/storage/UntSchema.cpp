#include "UntSchema.h"

#include "UntDbAccess.h"

#include <QFile>
#include <sqlite3.h>

namespace {

const char* const TableNames[] = {"Alam", "AlamContext", "NoteType", "NoteBook", "SysSet"};

// Text columns are TEXT (no length limit); yes/no columns are INTEGER defaulting to false;
// dates are ISO text.
const char* const CreateStatements = R"sql(
CREATE TABLE Alam (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    iHour INTEGER,
    iMinute INTEGER,
    iMonWeek INTEGER,
    ReDay INTEGER,
    AlamDate TEXT,
    ReMark TEXT,
    bLook INTEGER NOT NULL DEFAULT 0,
    AheadDays INTEGER DEFAULT 0
);
CREATE TABLE AlamContext (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    ReMark TEXT
);
CREATE TABLE NoteType (
    SelfIndex INTEGER,
    ParentIndex INTEGER,
    TypeName TEXT
);
CREATE TABLE NoteBook (
    TypeID INTEGER,
    ReMark TEXT
);
CREATE INDEX NoteBookTypeID ON NoteBook(TypeID);
CREATE TABLE SysSet (
    bPass INTEGER NOT NULL DEFAULT 0,
    PassWord TEXT DEFAULT ''
);
INSERT INTO SysSet(bPass, PassWord) VALUES (0, '');
)sql";

} // namespace

void CreateDatabase(const QString& path, const QString& key) {
    const QString building = path + QStringLiteral(".new");
    QFile::remove(building);
    {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(building).constData(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        sqlite3_close(raw); // only to create the file; TConnection opens it properly
        if (rc != SQLITE_OK)
            throw EEngineError(sqlite3_errstr(rc));
    }
    try {
        TConnection connection;
        connection.Open(building, key);
        {
            TTransaction tx(connection);
            connection.Exec(QString::fromUtf8(CreateStatements));
            connection.Exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
            tx.Commit();
        }
        connection.Close();
        if (!QFile::rename(building, path))
            throw EEngineError("cannot move the new database into place");
    } catch (...) {
        QFile::remove(building);
        throw;
    }
}

void CheckSchema(TConnection& connection) {
    TCursor tables;
    tables.Open(connection, QStringLiteral("select name from sqlite_master where type='table'"));
    QStringList present;
    for (tables.First(); !tables.Eof(); tables.Next())
        present << tables.AsString(0);
    for (const char* table : TableNames)
        if (!present.contains(QLatin1String(table), Qt::CaseInsensitive))
            throw EEngineError(std::string("no such table: ") + table);
}

void UpgradeSchema(TConnection& connection) {
    try {
        TCursor version;
        version.Open(connection, QStringLiteral("PRAGMA user_version"));
        if (version.Eof() || version.AsInteger(0) >= SchemaVersion)
            return;
        // The version goes first, so that a failing step after it shows that the whole
        // transaction, header included, is rolled back.
        TTransaction tx(connection);
        connection.Exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
        connection.Exec(QStringLiteral("ALTER TABLE Alam ADD COLUMN AheadDays INTEGER DEFAULT 0"));
        tx.Commit();
    } catch (const std::exception& e) {
        throw ESchemaUpgradeError(e.what());
    }
}
