// The data file among other descriptors, processes and threads: its locks survive any other
// open and close in this process, a restore stops a running read rather than waiting for it,
// and each thread's statements see their own moment.
#include "TestSupport.h"

#include "storage/UntDbAccess.h"
#include "storage/UntFileLocks.h"
#include "storage/UntSqlEngine.h"
#include "storage/UntSqlText.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <atomic>
#include <sqlite3.h>
#include <thread>

namespace {

class LockTest : public DbTest {};

QString Outside(const QString& data, const QString& sql) {
    return Sqlcipher(data, SqlcipherUnlock + sql + QStringLiteral(";\n"));
}

// The first column of the first row of sql on db, as text.
QString SelectText(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    QString text;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return text;
}

} // namespace

TEST_F(LockTest, AnotherDescriptorOfTheFileDropsNoLockAndAnOutsideReaderLeavesTheLogAlone) {
    ExecSql("Insert into AlamContext(ReMark) values('first') ");
    const QString data = DataPath();
    EXPECT_TRUE(OwnFileLocksActive());
    ASSERT_GT(LocksOn(data), 0);
    ASSERT_GT(LocksOn(data + "-shm"), 0);
    // As a file dialog does for a file's type and icon: read a little and close.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile file(data + QLatin1String(suffix));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        file.read(512);
    }
    EXPECT_GT(LocksOn(data), 0);
    EXPECT_GT(LocksOn(data + "-shm"), 0);
    EXPECT_TRUE(FileLockedElsewhere(data));

    // Another program opens and closes the file: it finds it in use.
    EXPECT_EQ(Outside(data, "select ReMark from AlamContext"), "first");
    EXPECT_TRUE(QFile::exists(data + "-wal"));
    ExecSql("Insert into AlamContext(ReMark) values('second') ");
    EXPECT_EQ(Outside(data, "select group_concat(ReMark) from AlamContext"), "first,second");

    // The engine's own last close still releases everything.
    DbAccess->Disconnect();
    EXPECT_EQ(LocksOn(data), 0);
    EXPECT_FALSE(FileLockedElsewhere(data));
    EXPECT_FALSE(QFile::exists(data + "-wal"));
}

TEST_F(LockTest, ARestoreWhileAReadRunsStopsTheReadInsteadOfFailing) {
    ExecSql("Insert into AlamContext(ReMark) values('kept') ");
    const QString backup = dir_->path() + "/b.bat";
    BackupData(backup);
    for (int i = 0; i < 50; ++i)
        ExecSql(FormatSql("Insert into AlamContext(ReMark) values('%s') ", {QString::number(i)}));
    // The read takes its snapshot from the log, which a restore must empty.
    std::atomic<bool> reading{false};
    std::thread reader([&] {
        try {
            DbAccess->Reader.ReadRows("select ReMark from AlamContext", {}, [&](const TRowView&) {
                reading = true;
                QThread::msleep(50);
                return true;
            });
        } catch (...) {
        }
    });
    while (!reading)
        QThread::msleep(1);
    QElapsedTimer took;
    took.start();
    EXPECT_NO_THROW(RestoreData(backup));
    reader.join();
    EXPECT_LT(took.elapsed(), 1000);
    EXPECT_EQ(GetIntValue("select count(*) from AlamContext"), 1);
}

TEST(EngineMoment, EachThreadsStatementsSeeTheirOwnMoment) {
    const TPinnedClock clock(At("2026-12-07 10:15:20"));
    std::atomic<bool> done{false};
    int othersSeen = 0;
    std::thread other([&] {
        sqlite3* db = nullptr;
        sqlite3_open(":memory:", &db);
        RegisterEngineFunctions(db);
        for (int i = 0; i < 3000; ++i)
            if (SelectText(db, "select Date() || ' ' || Time()") != "2026-12-07 10:15:20")
                ++othersSeen;
        sqlite3_close(db);
        done = true;
    });
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    RegisterEngineFunctions(db);
    int ownMissed = 0;
    while (!done) {
        const TEngineMoment lateTick(At("2026-12-07 09:59:00"));
        if (SelectText(db, "select Date() || ' ' || Time()") != "2026-12-07 09:59:00")
            ++ownMissed;
    }
    other.join();
    sqlite3_close(db);
    EXPECT_EQ(othersSeen, 0);
    EXPECT_EQ(ownMissed, 0);
}
