#include "UntSchema.h"

#include "UntConnection.h"
#include "UntCursor.h"

#include <QFile>
#include <algorithm>
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

// Version 2: notice days ahead for the yearly kinds.
const char* const UpgradeTo2 = R"sql(
ALTER TABLE Alam ADD COLUMN AheadDays INTEGER DEFAULT 0;
)sql";

// Version 3: a stable UID on every reminder, preset and group (what other machines know
// them by), the sync settings, what each side last agreed on, and which rows changed since.
// The triggers note every change, whoever makes it (an older release included), with the
// time from the program's clock functions that every release registers.
const char* const UpgradeTo3 = R"sql(
ALTER TABLE Alam ADD COLUMN Uid TEXT;
ALTER TABLE AlamContext ADD COLUMN Uid TEXT;
ALTER TABLE NoteType ADD COLUMN Uid TEXT;
UPDATE Alam SET Uid = lower(hex(randomblob(16)));
UPDATE AlamContext SET Uid = lower(hex(randomblob(16)));
UPDATE NoteType SET Uid = lower(hex(randomblob(16)));
CREATE INDEX AlamUid ON Alam(Uid);
CREATE INDEX NoteTypeUid ON NoteType(Uid);
CREATE INDEX NoteTypeSelfIndex ON NoteType(SelfIndex);
CREATE TABLE SyncSet (
    bEnabled INTEGER NOT NULL DEFAULT 0,
    ServerUrl TEXT NOT NULL DEFAULT '',
    UserName TEXT NOT NULL DEFAULT '',
    PassWord TEXT NOT NULL DEFAULT '',
    bKeyring INTEGER NOT NULL DEFAULT 0,
    iInterval INTEGER NOT NULL DEFAULT 5,
    bPlainHttp INTEGER NOT NULL DEFAULT 0,
    LastSync TEXT NOT NULL DEFAULT ''
);
INSERT INTO SyncSet DEFAULT VALUES;
CREATE TABLE SyncColl (
    Coll INTEGER PRIMARY KEY,
    Server TEXT NOT NULL DEFAULT '',
    Href TEXT NOT NULL DEFAULT '',
    bSyncReport INTEGER NOT NULL DEFAULT 0,
    SyncToken TEXT NOT NULL DEFAULT '',
    CTag TEXT NOT NULL DEFAULT ''
);
CREATE TABLE SyncItem (
    Coll INTEGER NOT NULL,
    Uid TEXT NOT NULL,
    Href TEXT NOT NULL DEFAULT '',
    ETag TEXT NOT NULL DEFAULT '',
    Hash TEXT NOT NULL DEFAULT '',
    Sent TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (Coll, Uid)
);
CREATE INDEX SyncItemHref ON SyncItem(Coll, Href);
CREATE TABLE SyncPending (
    Coll INTEGER NOT NULL,
    Uid TEXT NOT NULL,
    Changed TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (Coll, Uid)
);
INSERT INTO SyncPending(Coll, Uid) SELECT 0, Uid FROM Alam;
INSERT INTO SyncPending(Coll, Uid) SELECT 1, Uid FROM NoteType WHERE SelfIndex <> 0;
INSERT INTO SyncPending(Coll, Uid) VALUES (1, 'quillet-notes-root');
CREATE TRIGGER AlamUidNew AFTER INSERT ON Alam BEGIN
    UPDATE Alam SET Uid = lower(hex(randomblob(16))) WHERE rowid = NEW.rowid AND Uid IS NULL;
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        SELECT 0, Uid, Date() || ' ' || Time() FROM Alam WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER AlamChanged AFTER UPDATE ON Alam BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        VALUES (0, NEW.Uid, Date() || ' ' || Time());
END;
CREATE TRIGGER AlamGone AFTER DELETE ON Alam BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        VALUES (0, OLD.Uid, Date() || ' ' || Time());
END;
CREATE TRIGGER AlamContextUidNew AFTER INSERT ON AlamContext BEGIN
    UPDATE AlamContext SET Uid = lower(hex(randomblob(16)))
        WHERE rowid = NEW.rowid AND Uid IS NULL;
END;
CREATE TRIGGER NoteTypeUidNew AFTER INSERT ON NoteType BEGIN
    UPDATE NoteType SET Uid = lower(hex(randomblob(16))) WHERE rowid = NEW.rowid AND Uid IS NULL;
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        SELECT 1, Uid, Date() || ' ' || Time() FROM NoteType WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER NoteTypeChanged AFTER UPDATE ON NoteType BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        VALUES (1, NEW.Uid, Date() || ' ' || Time());
END;
CREATE TRIGGER NoteTypeGone AFTER DELETE ON NoteType BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        VALUES (1, OLD.Uid, Date() || ' ' || Time());
END;
CREATE TRIGGER NoteBookNew AFTER INSERT ON NoteBook BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        SELECT 1, u, Date() || ' ' || Time() FROM (SELECT CASE WHEN NEW.TypeID = 0
            THEN 'quillet-notes-root' ELSE (SELECT Uid FROM NoteType
            WHERE SelfIndex = NEW.TypeID LIMIT 1) END AS u) WHERE u IS NOT NULL;
END;
CREATE TRIGGER NoteBookChanged AFTER UPDATE ON NoteBook BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        SELECT 1, u, Date() || ' ' || Time() FROM (SELECT CASE WHEN NEW.TypeID = 0
            THEN 'quillet-notes-root' ELSE (SELECT Uid FROM NoteType
            WHERE SelfIndex = NEW.TypeID LIMIT 1) END AS u) WHERE u IS NOT NULL;
END;
CREATE TRIGGER NoteBookGone AFTER DELETE ON NoteBook BEGIN
    INSERT OR REPLACE INTO SyncPending(Coll, Uid, Changed)
        SELECT 1, u, Date() || ' ' || Time() FROM (SELECT CASE WHEN OLD.TypeID = 0
            THEN 'quillet-notes-root' ELSE (SELECT Uid FROM NoteType
            WHERE SelfIndex = OLD.TypeID LIMIT 1) END AS u) WHERE u IS NOT NULL;
END;
)sql";

// Version 4: a group's index is its own, and the sync keeps the server's copy of an object
// that holds what this program does not show, to write its changes into that copy. Two groups could
// once take the same index (one added in the tree while a sync pass added another) and then shared
// one note: the later row of each such pair gets a new index and a note of its own, the next of
// that index's notes when there were several, else a copy of the one both showed, so no text is
// lost.
const char* const UpgradeTo4 = R"sql(
CREATE TEMP TABLE Regroup AS
    SELECT t.rowid AS r, t.SelfIndex AS old,
        (SELECT count(*) FROM NoteType o WHERE o.SelfIndex = t.SelfIndex AND o.rowid < t.rowid)
            AS k,
        0 AS new
    FROM NoteType t
    WHERE t.SelfIndex <> 0 AND EXISTS (SELECT 1 FROM NoteType o
        WHERE o.SelfIndex = t.SelfIndex AND o.rowid < t.rowid);
UPDATE Regroup SET new = (SELECT max(SelfIndex) FROM NoteType) +
    (SELECT count(*) FROM Regroup g WHERE g.r <= Regroup.r);
UPDATE NoteBook SET TypeID = (SELECT g.new FROM Regroup g WHERE g.old = NoteBook.TypeID AND
        g.k = (SELECT count(*) FROM NoteBook c WHERE c.TypeID = g.old AND c.rowid < NoteBook.rowid))
    WHERE EXISTS (SELECT 1 FROM Regroup g WHERE g.old = NoteBook.TypeID AND
        g.k = (SELECT count(*) FROM NoteBook c WHERE c.TypeID = g.old AND c.rowid < NoteBook.rowid));
INSERT INTO NoteBook(TypeID, ReMark)
    SELECT g.new, (SELECT b.ReMark FROM NoteBook b WHERE b.TypeID = g.old ORDER BY b.rowid LIMIT 1)
    FROM Regroup g
    WHERE NOT EXISTS (SELECT 1 FROM NoteBook b WHERE b.TypeID = g.new)
        AND EXISTS (SELECT 1 FROM NoteBook b WHERE b.TypeID = g.old);
UPDATE NoteType SET SelfIndex = (SELECT g.new FROM Regroup g WHERE g.r = NoteType.rowid)
    WHERE rowid IN (SELECT r FROM Regroup);
DROP TABLE Regroup;
CREATE UNIQUE INDEX NoteTypeOwnIndex ON NoteType(SelfIndex) WHERE SelfIndex <> 0;
CREATE TABLE SyncCopy (
    Coll INTEGER NOT NULL,
    Uid TEXT NOT NULL,
    Data TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (Coll, Uid)
);
)sql";

// Version 5: every earlier version of each note and a recycle bin, kept in this file only
// (neither syncs nor exports carry them). A version is stored whole when it is its group's
// newest (Base 0), else packed against the next newer one (Base, its ID); Since is when its
// text had last changed before it was taken, empty when that is not known. A bin entry holds
// the deleted rows as JSON; Uids names the groups in it, whose versions it keeps.
const char* const UpgradeTo5 = R"sql(
CREATE TABLE NoteVersion (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    GroupUid TEXT NOT NULL,
    Taken TEXT NOT NULL,
    Since TEXT NOT NULL DEFAULT '',
    Chars INTEGER NOT NULL DEFAULT 0,
    Base INTEGER NOT NULL DEFAULT 0,
    Data BLOB NOT NULL
);
CREATE INDEX NoteVersionGroup ON NoteVersion(GroupUid, ID);
CREATE TABLE RecycleBin (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    Kind INTEGER NOT NULL,
    Deleted TEXT NOT NULL,
    Caption TEXT NOT NULL DEFAULT '',
    Place TEXT NOT NULL DEFAULT '',
    Uids TEXT NOT NULL DEFAULT '',
    Data TEXT NOT NULL DEFAULT ''
);
)sql";

// Version 6: China's official workdays. A reminder of kind 6 falls due on them; a daily or
// weekly one may skip official holidays; the schedules of years imported from a holiday
// calendar (each year's days in the shipped file's line form) replace the shipped ones.
const char* const UpgradeTo6 = R"sql(
ALTER TABLE Alam ADD COLUMN SkipHolidays INTEGER NOT NULL DEFAULT 0;
CREATE TABLE HolidayYear (
    Year INTEGER PRIMARY KEY,
    Days TEXT NOT NULL DEFAULT '',
    Imported TEXT NOT NULL DEFAULT ''
);
ALTER TABLE SysSet ADD COLUMN bNotify INTEGER NOT NULL DEFAULT 1;
)sql";

struct TUpgradeStep {
    int to;
    const char* statements;
};
const TUpgradeStep UpgradeSteps[] = {
    {2, UpgradeTo2}, {3, UpgradeTo3}, {4, UpgradeTo4}, {5, UpgradeTo5}, {6, UpgradeTo6}};

int UserVersion(TConnection& connection) {
    TCursor version;
    version.Open(connection, QStringLiteral("PRAGMA user_version"));
    return version.Eof() ? 0 : static_cast<int>(version.AsInteger(0));
}

// Runs the steps from version `from` up; the caller holds the transaction.
void RunUpgradeSteps(TConnection& connection, int from) {
    for (const TUpgradeStep& step : UpgradeSteps)
        if (step.to > from)
            connection.Exec(QString::fromUtf8(step.statements));
    connection.Exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
}

} // namespace

void CreateDatabase(const QString& path, const QString& key) {
    const QString building = path + QStringLiteral(".new");
    QFile::remove(building);
    {
        PrepareEngine();
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(building).constData(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        sqlite3_close(raw); // only to create the file; TConnection opens it properly
        if (rc != SQLITE_OK)
            throw EEngineError(sqlite3_errstr(rc), rc & 0xff);
    }
    try {
        TConnection connection;
        connection.Open(building, key);
        {
            TTransaction tx(connection);
            connection.Exec(QString::fromUtf8(CreateStatements));
            RunUpgradeSteps(connection, 2);
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
            throw EEngineError(std::string("no such table: ") + table, SQLITE_NOTADB);
}

void UpgradeSchema(TConnection& connection) {
    try {
        const int from = UserVersion(connection);
        if (from >= SchemaVersion)
            return;
        TTransaction tx(connection);
        RunUpgradeSteps(connection, std::max(from, 1));
        tx.Commit();
    } catch (const std::exception& e) {
        throw ESchemaUpgradeError(e.what());
    }
}
