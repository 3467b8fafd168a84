#include "TestSupport.h"

#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QFile>

namespace {

// A data file as the first release wrote it, with a few rows.
QString MakeVersion1(const QString& dir, const QString& extra = QString()) {
    const QString path = dir + "/v1.dat";
    Sqlcipher(path, SqlcipherUnlock + R"(
CREATE TABLE Alam (ID INTEGER PRIMARY KEY AUTOINCREMENT, iHour INTEGER, iMinute INTEGER,
  iMonWeek INTEGER, ReDay INTEGER, AlamDate TEXT, ReMark TEXT, bLook INTEGER NOT NULL DEFAULT 0);
CREATE TABLE AlamContext (ID INTEGER PRIMARY KEY AUTOINCREMENT, ReMark TEXT);
CREATE TABLE NoteType (SelfIndex INTEGER, ParentIndex INTEGER, TypeName TEXT);
CREATE TABLE NoteBook (TypeID INTEGER, ReMark TEXT);
CREATE TABLE SysSet (bPass INTEGER NOT NULL DEFAULT 0, PassWord TEXT DEFAULT '');
INSERT INTO SysSet VALUES (0, '');
INSERT INTO Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) VALUES (8,0,1,1,'2026-12-01','a');
INSERT INTO Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) VALUES (9,0,135,2,'2026-12-01','b');
INSERT INTO AlamContext(ReMark) VALUES ('p');
INSERT INTO NoteType VALUES (1,0,'g1');
INSERT INTO NoteType VALUES (2,1,'g2');
INSERT INTO NoteBook VALUES (2,'n');
)" + extra + "PRAGMA user_version = 1;\n");
    return path;
}

TEST(SyncSchema, UpgradeGivesEveryRowAUidAndMarksItForTheFirstSyncTriggersNoteChanges) {
    QTemporaryDir dir;
    const QString path = MakeVersion1(dir.path());
    TConnection c;
    c.Open(path, DatabaseKey);
    UpgradeSchema(c);
    TCursor q;
    q.Open(c, "PRAGMA user_version");
    EXPECT_EQ(q.AsInteger(0), SchemaVersion);
    q.Open(c, "select (select count(distinct Uid) from Alam), (select count(distinct Uid) from "
              "NoteType), (select count(*) from AlamContext where Uid is not null), "
              "(select count(*) from SyncPending), (select count(*) from Alam where ReMark='b' "
              "and iMonWeek=135 and AheadDays=0)");
    EXPECT_EQ(q.AsInteger(0), 2);
    EXPECT_EQ(q.AsInteger(1), 2);
    EXPECT_EQ(q.AsInteger(2), 1);
    EXPECT_EQ(q.AsInteger(3), 5); // two reminders, two groups and the root
    EXPECT_EQ(q.AsInteger(4), 1);

    // Every later change is noted, however it is made: a new row gets its UID at once.
    TPinnedClock clock(At("2026-12-07 10:15:20"));
    c.Exec("delete from SyncPending");
    c.Exec("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) values "
           "(1,2,1,0,'2026-12-08','new')");
    c.Exec("update NoteBook set ReMark='changed' where TypeID=2");
    c.Exec("delete from NoteType where SelfIndex=1");
    q.Open(c, "select p.Changed, a.Uid is not null from SyncPending p join Alam a on "
              "a.Uid=p.Uid where a.ReMark='new'");
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.AsString(0), "2026-12-07 10:15:20");
    q.Open(c, "select count(*) from SyncPending where Coll=1");
    EXPECT_EQ(q.AsInteger(0), 2);
}

TEST(SyncSchema, FailedUpgradeLeavesTheFileByteForByte) {
    QTemporaryDir dir;
    // A table of that name already there makes the upgrade fail half-way.
    const QString path = MakeVersion1(dir.path(), "CREATE TABLE SyncColl (x);\n");
    const QByteArray before = ReadAll(path);
    TConnection c;
    c.Open(path, DatabaseKey);
    EXPECT_THROW(UpgradeSchema(c), ESchemaUpgradeError);
    c.Close();
    EXPECT_EQ(ReadAll(path), before);
}

} // namespace
