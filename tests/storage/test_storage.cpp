#include "TestSupport.h"

#include "shell/UntApplication.h"
#include "storage/UException.h"
#include "storage/UntCipherKey.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <openssl/evp.h>
#include <sqlite3.h>

namespace {

int Count(const QString& table) {
    return GetIntValue("select count(*) from " + table);
}

QString ExpectDbError(const std::function<void()>& f, QString* sqlText = nullptr) {
    try {
        f();
    } catch (const EDBException& e) {
        if (sqlText)
            *sqlText = e.SqlText;
        return e.UserMessage;
    }
    return QStringLiteral("<no EDBException>");
}

} // namespace

class StorageTest : public DbTest {};

TEST_F(StorageTest, FailedBatchRollsBackEveryStatementAndIsReportedWithWholeText) {
    const QString batch = QStringLiteral("insert into AlamContext(ReMark) values('A')@#@"
                                         "insert into NoSuchTable values(1)");
    QString sql;
    EXPECT_EQ(ExpectDbError([&] { ExecSql(batch); }, &sql), QStringLiteral("数据库操作失败！"));
    EXPECT_EQ(sql, batch);
    EXPECT_EQ(Count("AlamContext"), 0);

    // Through the reporter: the box headline and the log entry ending with the batch.
    TPinnedClock clock(At("2026-12-07 10:00:00"));
    RunHandler(nullptr, [&] { ExecSql(batch); });
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库操作失败！\r\n详细信息：")));
    EXPECT_EQ(boxes_->Boxes().back().caption, QStringLiteral("错误"));
    const QString log = QString::fromUtf8(ReadAll(ErrorLogPath(QDate(2026, 12, 7))));
    EXPECT_TRUE(log.endsWith(batch + QStringLiteral("\r\n"))) << log.toStdString();
}

TEST_F(StorageTest, SeparatorAtEndOrAloneRunsOnlyWhatIsThere) {
    ExecSql(QStringLiteral("insert into AlamContext(ReMark) values('A')@#@"));
    ExecSql(QStringLiteral("insert into AlamContext(ReMark) values('B')@#@  \r\n"));
    EXPECT_EQ(Count("AlamContext"), 2);
    EXPECT_NO_THROW(ExecSql(QStringLiteral("@#@")));
    EXPECT_EQ(Count("AlamContext"), 2);
    EXPECT_EQ(SplitBatch(QStringLiteral("A@#@")), QStringList({"A", ""}));
    EXPECT_EQ(SplitBatch(QStringLiteral("@#@")), QStringList({"", ""}));
    EXPECT_EQ(SplitBatch(QStringLiteral("a '@#@' b@#@c")), QStringList({"a '@#@' b", "c"}));
    EXPECT_EQ(SplitBatch(QStringLiteral("a 'x''@#@''y' b")), QStringList({"a 'x''@#@''y' b"}));
}

TEST_F(StorageTest, TwoStatementBatchCommitsTogether) {
    ExecSql(
        QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a')"
                       "@#@insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'b')"));
    EXPECT_EQ(Count("NoteType"), 2);
}

TEST_F(StorageTest, GetIntValueAndFailedQueries) {
    EXPECT_EQ(GetIntValue(QStringLiteral("select ID from Alam where ID=12345")), 0);
    EXPECT_EQ(GetIntValue(QStringLiteral("select NULL")), 0);
    EXPECT_EQ(GetIntValue(QStringLiteral("select 42")), 42);
    EXPECT_EQ(ExpectDbError([] { GetIntValue(QStringLiteral("select nope from Alam")); }),
              QStringLiteral("数据库查询错误，请检查！"));

    DbAccess->OpenQuery(QStringLiteral("select * from SysSet"));
    ASSERT_TRUE(DbAccess->MainCursor.Active());
    QString sql;
    EXPECT_EQ(
        ExpectDbError([] { DbAccess->OpenQuery(QStringLiteral("select * from Nope")); }, &sql),
        QStringLiteral("数据库查询错误，请检查！"));
    EXPECT_EQ(sql, QStringLiteral("select * from Nope"));
    EXPECT_FALSE(DbAccess->MainCursor.Active());
    EXPECT_EQ(DbAccess->MainCursor.RecordCount(), 0);

    // The side cursor is independent of the main one.
    DbAccess->OpenQuery(QStringLiteral("select 1 as a"));
    DbAccess->OpenSideQuery(QStringLiteral("select 2 as b"));
    EXPECT_EQ(DbAccess->MainCursor.AsInteger("A"), 1);
    EXPECT_EQ(DbAccess->SideCursor.AsInteger("b"), 2);
}

TEST_F(StorageTest, TextsRoundTripUnchanged) {
    const QString texts[] = {
        QStringLiteral("It's a 'quote'"),
        QStringLiteral("a@#@b'@#@'c"),
        QStringLiteral("中文提醒内容"),
        QString::fromUtf8("emoji \xF0\x9F\x98\x80 end"),
        QStringLiteral("line1\r\nline2\r\n"),
        QString(100000, QChar(u'长')),
        QStringLiteral("'); delete from Alam; --"),
    };
    for (const QString& text : texts) {
        ExecSql(FormatSql(QStringLiteral("Insert into AlamContext(ReMark) values('%s') "), {text}));
        DbAccess->OpenQuery(QStringLiteral("select ReMark from AlamContext order by ID desc"));
        EXPECT_EQ(DbAccess->MainCursor.AsString(0), text);
        EXPECT_EQ(DbAccess->MainCursor.AsString("remark"), text);
    }
    EXPECT_EQ(Count("AlamContext"), int(std::size(texts)));
}

TEST_F(StorageTest, CursorReadsNullsAsEmptyZeroFalseAndDatesAsDateTimes) {
    ExecSql(
        QStringLiteral("insert into Alam(iHour,AlamDate,bLook) values(NULL,'2026-12-06','-1')"));
    DbAccess->OpenQuery(QStringLiteral("select * from Alam"));
    TCursor& c = DbAccess->MainCursor;
    ASSERT_EQ(c.RecordCount(), 1);
    EXPECT_EQ(c.AsString("iHour"), QString());
    EXPECT_EQ(c.AsInteger("iMinute"), 0);
    EXPECT_EQ(c.AsString("ReMark"), QString());
    EXPECT_TRUE(c.AsBoolean("bLook"));
    EXPECT_EQ(c.AsInteger("bLook"), -1);
    EXPECT_EQ(c.AsDateTime("AlamDate"), QDateTime(QDate(2026, 12, 6), QTime(0, 0)));
    c.Next();
    EXPECT_TRUE(c.Eof());
    EXPECT_THROW(c.AsString(0), EEngineError);

    ExecSql(QStringLiteral("insert into Alam(iHour) values(7)"));
    DbAccess->OpenQuery(QStringLiteral("select bLook from Alam where iHour=7"));
    EXPECT_FALSE(DbAccess->MainCursor.AsBoolean(0)); // a new row is not seen
}

TEST_F(StorageTest, MainCursorAppendsAndEditsRowsWithBoundValues) {
    const QString text = QStringLiteral("note with ' and @#@");
    DbAccess->OpenQuery(QStringLiteral("select * from NoteBook where 1<> 1 "));
    TCursor& c = DbAccess->MainCursor;
    EXPECT_EQ(c.RecordCount(), 0);
    c.Append();
    c.SetField(QStringLiteral("TypeID"), 3);
    c.SetField(QStringLiteral("ReMark"), text);
    c.Post();
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(TypeID) from NoteBook where TypeID= 3 ")),
              1);

    DbAccess->OpenQuery(QStringLiteral("select * from NoteBook where TypeId=3"));
    ASSERT_EQ(c.RecordCount(), 1);
    EXPECT_EQ(c.AsString("ReMark"), text);
    c.Edit();
    c.SetField(QStringLiteral("ReMark"), QString());
    c.Post();
    DbAccess->OpenQuery(QStringLiteral("select * from NoteBook where TypeID=3 "));
    EXPECT_EQ(c.RecordCount(), 1);
    EXPECT_EQ(c.AsString("ReMark"), QString());

    // A result that is not one table's rows cannot be edited.
    DbAccess->OpenQuery(QStringLiteral("select count(*) from NoteBook"));
    EXPECT_THROW(c.Append(), EEngineError);
}

TEST_F(StorageTest, MissingFileGetsTheInitialDatabase) {
    DbAccess->OpenQuery(QStringLiteral("select * from SysSet"));
    TCursor& c = DbAccess->MainCursor;
    ASSERT_EQ(c.RecordCount(), 1);
    EXPECT_FALSE(c.AsBoolean("bPass"));
    EXPECT_EQ(c.AsString("PassWord"), QString());
    for (const char* table : {"Alam", "AlamContext", "NoteType", "NoteBook", "SysSet"})
        EXPECT_NO_THROW(Count(QString::fromLatin1(table))) << table;
    EXPECT_EQ(GetIntValue(QStringLiteral("PRAGMA user_version")), SchemaVersion);
    // Autonumber keys are assigned on insert.
    ExecSql(QStringLiteral("Insert into AlamContext(ReMark) values('x') "));
    ExecSql(QStringLiteral("Insert into AlamContext(ReMark) values('y') "));
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(distinct ID) from AlamContext")), 2);
    EXPECT_FALSE(QFile::exists(DataPath() + ".new"));
}

TEST_F(StorageTest, FileWithAnotherKeyIsReportedAndKeptByteForByte) {
    DbAccess->Disconnect();
    QFile::remove(DataPath());
    {
        TConnection other;
        sqlite3* raw = nullptr;
        sqlite3_open(QFile::encodeName(DataPath()).constData(), &raw);
        sqlite3_exec(raw, "PRAGMA key='another'; create table t(x); insert into t values(1);",
                     nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    const QByteArray before = ReadAll(DataPath());
    ASSERT_FALSE(before.isEmpty());
    boxes_->Clear();
    // It may be encrypted with a login password: that is asked for first, and a wrong one
    // changes nothing.
    DbAccess->Connect();
    EXPECT_TRUE(DbAccess->LockedWithPassword());
    EXPECT_FALSE(DbAccess->UnlockWith(QStringLiteral("wrong")));
    EXPECT_EQ(boxes_->Count(), 0);
    DbAccess->GaveUpUnlocking();
    EXPECT_FALSE(DbAccess->Connection.IsOpen());
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].caption, QStringLiteral("错误"));
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库连接失败！\r\n详细信息：")));
    // A short explanation first, the engine's own text in brackets.
    EXPECT_TRUE(boxes_->LastText().contains(
        QStringLiteral("详细信息：文件不是本软件的数据文件，或密码不同（file is")))
        << boxes_->LastText().toStdString();
    EXPECT_TRUE(boxes_->LastText().endsWith(QStringLiteral("not a database）")));
    EXPECT_EQ(ReadAll(DataPath()), before);
    EXPECT_TRUE(QDir(dir_->path()).entryList({"Log*"}).isEmpty());
}

TEST_F(StorageTest, EmptyOrForeignDatabaseFileIsNotTakenOver) {
    DbAccess->Disconnect();
    QFile f(DataPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();
    DbAccess->Connect();
    EXPECT_FALSE(DbAccess->Connection.IsOpen());
    EXPECT_EQ(QFileInfo(DataPath()).size(), 0);
}

TEST_F(StorageTest, DatabaseWithOurKeyButOtherTablesIsReportedAndKept) {
    DbAccess->Disconnect();
    QFile::remove(DataPath());
    {
        sqlite3* raw = nullptr;
        sqlite3_open(QFile::encodeName(DataPath()).constData(), &raw);
        sqlite3_exec(raw,
                     "PRAGMA key='40718293561072'; PRAGMA cipher_page_size = 16384; "
                     "create table t(x); insert into t values(1);",
                     nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    const QByteArray before = ReadAll(DataPath());
    boxes_->Clear();
    DbAccess->Connect();
    EXPECT_FALSE(DbAccess->Connection.IsOpen());
    EXPECT_TRUE(boxes_->LastText().contains(QStringLiteral("no such table: Alam")));
    EXPECT_EQ(ReadAll(DataPath()), before);
}

TEST_F(StorageTest, QueriesReopenAClosedConnectionButBatchesDoNot) {
    DbAccess->Connection.Close();
    EXPECT_EQ(ExpectDbError([] { ExecSql(QStringLiteral("delete from Alam")); }),
              QStringLiteral("数据库操作失败！"));
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(*) from SysSet")), 1);
    EXPECT_TRUE(DbAccess->Connection.IsOpen());
}

TEST(SqlText, QuotingAndFormatting) {
    EXPECT_EQ(QuoteSql(QStringLiteral("a'b''c")), QStringLiteral("a''b''''c"));
    EXPECT_EQ(FormatSql(QStringLiteral("update t set a='%s' where ID=%s  "), {"x'y", "5"}),
              QStringLiteral("update t set a='x''y' where ID=5  "));
    EXPECT_EQ(FormatSql(QStringLiteral("%s%s"), {"%s", "b"}), QStringLiteral("%sb"));
    EXPECT_EQ(TrimBlank(QStringLiteral(" \t\r\n a b \r\n")), QStringLiteral("a b"));
    EXPECT_TRUE(IsBlank(QStringLiteral(" \r\n\t")));
}

TEST(SqlCipher, LinkedLibraryIsSqlCipher) {
    // SQLCipher 3.4 is built on SQLite 3.15.2; the system SQLite of this platform is newer.
    EXPECT_STREQ(sqlite3_libversion(), "3.15.2");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA cipher_version", -1, &stmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_FALSE(
        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))).isEmpty());
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST_F(StorageTest, DatabaseFileIsEncrypted) {
    DbAccess->Disconnect();
    const QByteArray bytes = ReadAll(DataPath());
    EXPECT_FALSE(bytes.startsWith("SQLite format 3"));
    EXPECT_FALSE(bytes.contains("CREATE TABLE"));
}

// The key the connection derives itself is the engine's: the same PBKDF2, and the engine
// opens the file with it as a raw key.
TEST_F(StorageTest, KeyDerivedHereIsTheEnginesOwn) {
    const QByteArray salt = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    for (const QByteArray& passphrase : {DatabaseKey.toUtf8(), QByteArray(100, 'k')}) {
        QByteArray expected(32, '\0');
        ASSERT_EQ(PKCS5_PBKDF2_HMAC_SHA1(passphrase.constData(), int(passphrase.size()),
                                         reinterpret_cast<const unsigned char*>(salt.constData()),
                                         int(salt.size()), 64000, int(expected.size()),
                                         reinterpret_cast<unsigned char*>(expected.data())),
                  1);
        EXPECT_EQ(CipherKey(passphrase, salt).toHex(), expected.toHex());
    }

    DbAccess->Disconnect();
    const QByteArray key =
        RawKeyText(CipherKey(DatabaseKey.toUtf8(), ReadAll(DataPath()).left(16)));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(DataPath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    const QByteArray sql = "PRAGMA key = \"" + key +
                           "\"; PRAGMA cipher_page_size = " + QByteArray::number(DatabasePageSize) +
                           "; select count(*) from SysSet";
    EXPECT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST_F(StorageTest, AKeptKeySparesTheNextStartTheRoundsAndAWrongOneIsWorkedOutAgain) {
    const QString store = DataPath() + ".keys";
    SetCipherKeyStore(store);
    const auto noStore = qScopeGuard([] { SetCipherKeyStore(QString()); });
    DbAccess->Disconnect();
    const QByteArray salt = ReadAll(DataPath()).left(16);
    const auto kept = [&] {
        for (const QByteArray& line : ReadAll(store).split('\n'))
            if (line.startsWith(salt.toHex() + ' '))
                return line;
        return QByteArray();
    };
    ForgetCipherKey(salt); // a new start: nothing in memory
    DbAccess->Connect();
    const QByteArray right = kept();
    ASSERT_EQ(right.split(' ').value(2).size(), 64) << right.toStdString();

    DbAccess->Disconnect();
    ForgetCipherKey(salt);
    QFile wrong(store);
    ASSERT_TRUE(wrong.open(QIODevice::WriteOnly));
    wrong.write(right.left(right.lastIndexOf(' ') + 1) + QByteArray(64, '7') + '\n');
    wrong.close();
    DbAccess->Connect();
    EXPECT_EQ(ReadRows("select count(*) from SysSet").size(), 1);
    DbAccess->Disconnect();
    DbAccess->Connect();
    EXPECT_EQ(kept(), right);
}

TEST_F(StorageTest, CommitsStayInTheLogUntilWritingPauses) {
    const QString log = DataPath() + "-wal";
    ExecSql(FormatSql("Insert into AlamContext(ReMark) values('%s') ", {QString(50000, 'x')}));
    ASSERT_GT(QFileInfo(log).size(), 0);
    const qint64 grown = QFileInfo(log).size();
    ExecSql("Insert into AlamContext(ReMark) values('y') ");
    EXPECT_GT(QFileInfo(log).size(), grown); // no checkpoint on the way
    // Once writing pauses the log is moved into the file and emptied.
    EXPECT_TRUE(WaitFor([&] { return QFileInfo(log).size() == 0; }, IdleCheckpointMs + 1500));
    DbAccess->Disconnect();
    EXPECT_FALSE(QFile::exists(log));
    TConnection reader;
    reader.Open(DataPath(), DatabaseKey, true);
    TCursor c;
    c.Open(reader, "select count(*) from AlamContext");
    EXPECT_EQ(c.AsInteger(0), 2);
}

TEST_F(StorageTest, ALongLogIsMovedAtAPauseAndThenReusedRatherThanCut) {
    const QString log = DataPath() + "-wal";
    const QString note = QString(1 << 20, QChar(u'x'));
    ExecSql(FormatSql("Insert into AlamContext(ReMark) values('%s') ", {note}));
    for (int i = 0; i < 5; ++i)
        ExecSql(FormatSql("Update AlamContext set ReMark='%s' ", {note + QString::number(i)}));
    const qint64 longLog = QFileInfo(log).size();
    ASSERT_GT(longLog, ShortLogBytes);
    QTest::qWait(IdleCheckpointMs + 1000);
    // The file alone now holds the last commit.
    const QString copy = QDir(dir_->path()).filePath("copy.dat");
    ASSERT_TRUE(QFile::copy(DataPath(), copy));
    {
        TConnection reader;
        reader.Open(copy, DatabaseKey, true);
        TCursor c;
        c.Open(reader, "select ReMark from AlamContext where length(ReMark) > 1000");
        EXPECT_EQ(c.AsString(0), note + "4");
    }
    EXPECT_EQ(QFileInfo(log).size(), longLog);
    ExecSql(FormatSql("Update AlamContext set ReMark='%s' ", {note + "5"}));
    EXPECT_EQ(QFileInfo(log).size(), longLog); // written from its start again
}

TEST_F(StorageTest, ALogGrownWhileWritingNeverPausesIsMovedIntoTheFileAnyway) {
    // No event is processed here, so the pause timer cannot empty the log: only the move
    // started by the log's length can bring the pages into the file.
    const QString note = QString(1 << 20, QChar(u'x'));
    ExecSql(FormatSql("Insert into AlamContext(ReMark) values('%s') ", {note}));
    const qint64 before = QFileInfo(DataPath()).size();
    for (int i = 0; i < MaxLogFrames / 64 + 8; ++i)
        ExecSql(FormatSql("Update AlamContext set ReMark='%s' ", {note + QString::number(i)}));
    QElapsedTimer waited;
    waited.start();
    while (QFileInfo(DataPath()).size() < before + (1 << 20) && waited.elapsed() < 5000)
        QThread::msleep(10);
    EXPECT_GT(QFileInfo(DataPath()).size(), before + (1 << 20));
    // Closing while a move may still run leaves every commit in a sound file.
    ExecSql(FormatSql("Update AlamContext set ReMark='%s' ", {note + "last"}));
    DbAccess->Disconnect();
    TConnection reader;
    reader.Open(DataPath(), DatabaseKey, true);
    TCursor c;
    c.Open(reader, "select ReMark from AlamContext where length(ReMark) > 1000");
    EXPECT_EQ(c.AsString(0), note + "last");
    c.Open(reader, "PRAGMA integrity_check");
    EXPECT_EQ(c.AsString(0), "ok");
}

// Groups that once shared an index (and so one note) each get an index and a note of their
// own when the file is upgraded; no text is lost.
TEST_F(StorageTest, TheUpgradeGivesGroupsThatSharedAnIndexOneEachAndKeepsEveryNote) {
    ExecSql("drop index NoteTypeOwnIndex @#@ drop table SyncCopy @#@ drop table NoteVersion @#@ "
            "drop table RecycleBin @#@ drop table HolidayYear @#@ "
            "drop trigger AlamUidNew @#@ drop trigger AlamChanged @#@ drop trigger AlamGone @#@ "
            "drop table Alam @#@ create table Alam (ID INTEGER PRIMARY KEY AUTOINCREMENT, iHour "
            "INTEGER, iMinute INTEGER, iMonWeek INTEGER, ReDay INTEGER, AlamDate TEXT, ReMark "
            "TEXT, bLook INTEGER NOT NULL DEFAULT 0, AheadDays INTEGER DEFAULT 0, Uid TEXT) @#@ "
            "drop table SysSet @#@ create table SysSet (bPass INTEGER NOT NULL DEFAULT 0, "
            "PassWord TEXT DEFAULT '') @#@ insert into SysSet(bPass,PassWord) values (0,'') @#@ "
            "PRAGMA user_version = 3 @#@ "
            "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a') @#@ "
            "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'b') @#@ "
            "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'c') @#@ "
            "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'x') @#@ "
            "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'y') @#@ "
            "insert into NoteBook(TypeID,ReMark) values (1,'na') @#@ "
            "insert into NoteBook(TypeID,ReMark) values (1,'nb') @#@ "
            "insert into NoteBook(TypeID,ReMark) values (2,'nx')");
    Reconnect();
    EXPECT_EQ(GetIntValue("PRAGMA user_version"), SchemaVersion);
    EXPECT_EQ(ReadRows("select t.TypeName, b.ReMark from NoteType t join NoteBook b on "
                       "b.TypeID=t.SelfIndex order by t.TypeName"),
              TRows({{"a", "na"}, {"b", "nb"}, {"c", "na"}, {"x", "nx"}, {"y", "nx"}}));
    EXPECT_EQ(GetIntValue("select count(distinct SelfIndex) from NoteType"), 5);
    EXPECT_THROW(ExecSql("update NoteType set SelfIndex=1 where TypeName='y'"), EDBException);
}

namespace {

// Run as a child of the test (QUILLET_REKEY_CHILD = the data folder): re-keys that data file
// with "新的钥匙", so that the test can kill a real process in the middle of it.
class TRekeyChild : public ::testing::Environment {
public:
    void SetUp() override {
        const QString dir = qEnvironmentVariable("QUILLET_REKEY_CHILD");
        if (dir.isEmpty())
            return;
        SetAppDir(dir);
        TDbAccess db;
        DbAccess = &db;
        db.Connect();
        db.Rekey(QStringLiteral("新的钥匙"));
        std::_Exit(0);
    }
};
const auto* const RekeyChild = ::testing::AddGlobalTestEnvironment(new TRekeyChild);

bool Contains(const QString& path, const QByteArray& text) {
    return ReadAll(path).contains(text);
}

} // namespace

// Encrypted with a password, the file, its log, its backups and the key cache tell nothing
// to someone with the program's key; a wrong password changes nothing; the right one opens it.
TEST_F(StorageTest, AFileEncryptedWithThePasswordKeepsItsNotesFromAnyoneWithoutIt) {
    const QString keys = dir_->path() + "/cache/cipher-keys";
    SetCipherKeyStore(keys);
    TDbAccess* const fixture = DbAccess;
    fixture->Disconnect();
    const auto restore = qScopeGuard([fixture] {
        SetCipherKeyStore(QString());
        DbAccess = fixture;
        fixture->Connect();
    });
    const QByteArray secret = QStringLiteral("银行卡密码在抽屉里").toUtf8();
    const QString backup = dir_->path() + "/backup.bat";
    QByteArray cached;
    {
        TDbAccess db; // one run of the program
        DbAccess = &db;
        db.Connect(); // the program's own key goes into the cache
        cached = ReadAll(keys);
        db.Rekey(QStringLiteral("我的密码"));
        ExecSql(FormatSql("insert into NoteBook(TypeID,ReMark) values (0,'%s')",
                          {QString::fromUtf8(secret)}));
        BackupData(backup);
        for (const QString& file : {DataPath(), DataPath() + "-wal", backup})
            EXPECT_FALSE(Contains(file, secret)) << file.toStdString();
        for (const QString& file : {DataPath(), backup})
            EXPECT_TRUE(Sqlcipher(file, SqlcipherUnlock + "select count(*) from NoteBook;\n")
                            .contains("not a database"))
                << file.toStdString();
        EXPECT_EQ(QFileInfo(DataPath()).permissions() & 0077, 0);
        EXPECT_EQ(QFileInfo(backup).permissions() & 0077, 0);
    }
    const QByteArray before = ReadAll(DataPath());
    TDbAccess db; // the next run
    DbAccess = &db;
    db.Connect();
    ASSERT_TRUE(db.LockedWithPassword());
    EXPECT_FALSE(db.UnlockWith(QStringLiteral("我的密")));
    EXPECT_EQ(ReadAll(DataPath()), before);
    EXPECT_FALSE(QFile::exists(DataPath() + "-wal"));
    ASSERT_TRUE(db.UnlockWith(QStringLiteral("我的密码")));
    EXPECT_EQ(GetIntValue(FormatSql("select count(*) from NoteBook where ReMark='%s'",
                                    {QString::fromUtf8(secret)})),
              1);
    // Only the note that the program's key does not open this file joined the cache.
    for (const QByteArray& line : ReadAll(keys).split('\n'))
        EXPECT_TRUE(line.isEmpty() || cached.contains(line) || line.endsWith(" -")) << line.data();
    EXPECT_EQ(boxes_->Count(), 0);

    // The program's key back: the sqlcipher tool reads the file again.
    db.Rekey(DatabaseKey);
    db.Disconnect();
    EXPECT_TRUE(Sqlcipher(DataPath(), SqlcipherUnlock + "select count(*) from NoteBook;\n")
                    .startsWith("1"));
}

// A re-key killed at any point leaves the old file or the new one, whole.
TEST_F(StorageTest, AReKeyKilledAnywhereLeavesTheOldFileOrTheNewOne) {
    const QString note(400000, QChar(u'记')); // a 1.2 MB note, many times over
    for (int i = 0; i < 8; ++i)
        ExecSql(FormatSql("insert into NoteBook(TypeID,ReMark) values (%s,'%s')",
                          {SqlNum(i + 1), note}));
    DbAccess->Disconnect();
    const QByteArray original = ReadAll(DataPath());
    int olds = 0, news = 0;
    // Every 15 ms over the child's run (about 150 ms here); the last one is left to finish.
    std::vector<int> delays;
    for (int delay = 0; delay <= 300; delay += 15)
        delays.push_back(delay);
    delays.push_back(-1);
    for (int delay : delays) {
        // The old file as it was, without the log the last run's new file may have left.
        for (const char* end : {"", "-wal", "-shm"})
            QFile::remove(DataPath() + QLatin1String(end));
        QFile copy(DataPath());
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly) && copy.write(original) == original.size());
        copy.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUILLET_REKEY_CHILD", dir_->path());
        child.setProcessEnvironment(env);
        // Any one test: the environment does the work before it and ends the process.
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=StorageTest.DatabaseFileIsEncrypted"});
        ASSERT_TRUE(child.waitForStarted());
        if (delay >= 0) {
            QThread::msleep(static_cast<unsigned long>(delay));
            child.kill();
        }
        child.waitForFinished();
        const bool old = !TDbAccess::RefusesKey(DataPath(), DatabaseKey);
        const QString key = old ? DatabaseKey : QStringLiteral("新的钥匙");
        (old ? olds : news) += 1;
        TConnection c;
        ASSERT_NO_THROW(c.Open(DataPath(), key)) << delay;
        TCursor n;
        n.Open(c, "select count(*), sum(length(ReMark)) from NoteBook");
        EXPECT_EQ(n.AsInteger(0), 8) << delay;
        EXPECT_EQ(n.AsInteger(1), 8 * 400000) << delay;
    }
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
    DbAccess->Connect();
}
