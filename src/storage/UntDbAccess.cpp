#include "UntDbAccess.h"

#include "UException.h"
#include "UntCompactDatabase.h"
#include "UntHolidayStore.h"
#include "UntSchema.h"
#include "UntSqlEngine.h"
#include "UntSqlText.h"
#include "UntStatement.h"
#include "common/UntAppDir.h"
#include "common/UntPrivateFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

TDbAccess* DbAccess = nullptr;

namespace {

// A failed system call, with the engine's code for the causes a user can act on.
EEngineError SystemError(int error) {
    int code = 0;
    if (error == ENOSPC)
        code = SQLITE_FULL;
    else if (error == EROFS || error == EACCES || error == EPERM)
        code = SQLITE_READONLY;
    return EEngineError(std::strerror(error), code);
}

void RemoveWithJournal(const QString& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// A rename is on the disk once its folder is.
void SyncFolderOf(const QString& path) {
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

// Writes what from holds into a new file of key and the same pages, built beside dst and
// renamed into place, so dst is either the old file or the whole new one. The engine reads
// from's pages through its own connection: the file behind it is not opened again.
void CopyThroughEngine(TConnection& from, const QString& dst, const QString& key) {
    const QString building = dst + QStringLiteral(".part");
    RemoveWithJournal(building);
    try {
        TConnection copy;
        copy.Create(building, key);
        sqlite3_backup* backup = sqlite3_backup_init(copy.Handle(), "main", from.Handle(), "main");
        if (!backup)
            throw LastEngineError(copy.Handle());
        const int stepped = sqlite3_backup_step(backup, -1);
        const int finished = sqlite3_backup_finish(backup);
        if (stepped != SQLITE_DONE)
            throw EEngineError(sqlite3_errstr(stepped), stepped & 0xff);
        if (finished != SQLITE_OK)
            throw EEngineError(sqlite3_errstr(finished), finished & 0xff);
        // A copy is one self-contained file, readable without a log beside it.
        copy.Exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        copy.Close();
        if (std::rename(QFile::encodeName(building).constData(),
                        QFile::encodeName(dst).constData()) != 0)
            throw SystemError(errno);
        SyncFolderOf(dst);
    } catch (...) {
        RemoveWithJournal(building);
        throw;
    }
}

// The data file does not open with the key: another key, or no database at all.
class EKeyRefused : public EEngineError {
public:
    using EEngineError::EEngineError;
};

QString What(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

} // namespace

// ---------------------------------------------------------------- TDbAccess

TDbAccess::~TDbAccess() {
    try {
        Disconnect();
    } catch (...) {
    }
}

QString TDbAccess::DatabasePath() {
    return AppDir() + DatabaseFileName;
}

void TDbAccess::Connect() {
    const QString path = DatabasePath();
    lockedWithPassword_ = false;
    KeepPrivate();
    // What a re-key or a restore cut short left beside the file.
    for (const char* left : {".rekey", ".rekey.part", ".restore", ".restore.part"})
        RemoveWithJournal(path + QLatin1String(left));
    try {
        if (!QFileInfo::exists(path))
            CreateDatabase(path, key_);
        OpenData();
    } catch (const EKeyRefused& e) {
        // Unreadable with the program's own key: encrypted with the login password (or
        // damaged). The caller asks for the password; GaveUpUnlocking reports it otherwise.
        if (KeyIsPassword() || QFileInfo(path).size() == 0)
            return CannotOpen(e);
        lockedWithPassword_ = true;
    } catch (const std::exception& e) {
        CannotOpen(e);
    }
}

void TDbAccess::CannotOpen(const std::exception& e) {
    Connection.Close();
    if (dynamic_cast<const ESchemaUpgradeError*>(&e))
        ShowErrorDetail(UpgradeFailedText, What(e), QString());
    else
        ShowErrorDetail(QStringLiteral("数据库连接失败！"),
                        ReadableDbError(EngineCodeOf(e), What(e)), QString());
    QCoreApplication::quit();
}

bool TDbAccess::UnlockWith(const QString& password) {
    if (!lockedWithPassword_ || password.isEmpty())
        return false;
    key_ = password;
    try {
        OpenData();
        lockedWithPassword_ = false;
        return true;
    } catch (const EKeyRefused&) {
        key_ = DatabaseKey;
        return false;
    } catch (const std::exception& e) {
        key_ = DatabaseKey;
        lockedWithPassword_ = false;
        CannotOpen(e);
        return false;
    }
}

void TDbAccess::GaveUpUnlocking() {
    if (!lockedWithPassword_)
        return;
    lockedWithPassword_ = false;
    CannotOpen(EEngineError("file is not a database", SQLITE_NOTADB));
}

void TDbAccess::KeepPrivate() {
    // Files made before the program kept them private are tightened too.
    const QString path = DatabasePath();
    for (const QString& file : {AppDir(), path, path + QStringLiteral("-wal"),
                                path + QStringLiteral("-shm"), AppDir() + SafetyCopyName})
        if (MakePrivate(file))
            WriteErrorLog(QStringLiteral("已改为只有本用户可以读写：") + file);
}

void TDbAccess::Disconnect() {
    Reader.Shut();
    SideWriter.Shut();
    idleCheckpoint_.stop();
    logMover_.Wait();
    movedAtChanges_ = -1; // the next connection counts its changes afresh
    MainCursor.Close();
    SideCursor.Close();
    ScalarCursor.Close();
    Connection.Close();
}

void TDbAccess::EnsureOpen() {
    if (!Connection.IsOpen())
        OpenData();
}

void TDbAccess::OpenCursor(TCursor& cursor, const QString& sql, bool editable) {
    cursor.Close();
    try {
        EnsureOpen();
        cursor.Open(Connection, sql, editable);
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql,
                           EngineCodeOf(e));
    }
}

TRows TDbAccess::ReadTexts(const QString& sql) {
    MainCursor.Close();
    try {
        EnsureOpen();
        const TStatementClock clock;
        Statement stmt = Prepare(Connection.Handle(), sql);
        const TRowView row(stmt.get());
        TRows rows;
        for (;;) {
            const int rc = sqlite3_step(stmt.get());
            if (rc == SQLITE_DONE)
                return rows;
            if (rc != SQLITE_ROW)
                throw EEngineError(sqlite3_errmsg(Connection.Handle()));
            rows << row.Texts();
        }
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql);
    }
}

void TDbAccess::OpenQuery(const QString& sql) {
    OpenCursor(MainCursor, sql, true);
}

void TDbAccess::OpenSideQuery(const QString& sql) {
    OpenCursor(SideCursor, sql, false);
}

int TDbAccess::QueryInteger(const QString& sql) {
    OpenCursor(ScalarCursor, sql, false);
    qint64 value = 0;
    try {
        if (!ScalarCursor.Eof())
            value = ScalarCursor.AsInteger(0);
    } catch (const std::exception& e) {
        ScalarCursor.Close();
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql,
                           EngineCodeOf(e));
    }
    ScalarCursor.Close();
    return static_cast<int>(value);
}

void TDbAccess::PostMainCursor() {
    try {
        MainCursor.Post();
    } catch (const std::exception& e) {
        MainCursor.Cancel();
        throw EDBException(What(e), QStringLiteral("数据库操作失败！"), MainCursor.PostSql(),
                           EngineCodeOf(e));
    }
}

void TDbAccess::ExecuteBatch(const QString& text) {
    try {
        TTransaction transaction(Connection);
        for (const QString& piece : SplitBatch(text))
            if (!IsBlank(piece))
                Connection.Exec(piece);
        transaction.Commit();
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库操作失败！"), text, EngineCodeOf(e));
    }
}

void TDbAccess::Write(const std::function<void(TConnection&)>& work, const QString& what) {
    try {
        TTransaction transaction(Connection);
        work(Connection);
        transaction.Commit();
    } catch (const EEngineError& e) {
        throw EDBException(What(e), QStringLiteral("数据库操作失败！"), what, EngineCodeOf(e));
    }
}

TDbAccess::TDbAccess() {
    SideWriter.main_ = &Connection;
    SideWriter.afterCommit_ = [this](int frames) { LogGrew(frames); };
    idleCheckpoint_.setSingleShot(true);
    QObject::connect(&idleCheckpoint_, &QTimer::timeout, [this] { WritingPaused(); });
}

void TDbAccess::WritingPaused() {
    if (logMover_.Running()) {
        idleCheckpoint_.start(MoverPollMs);
        return;
    }
    if (movedAtChanges_ != Changes()) {
        // The pages go into the file on the mover's thread: its sync may wait for the disk as
        // long as it likes without holding the interface.
        movedAtChanges_ = Changes();
        if (logMover_.Start(Connection.Path(), Connection.Key())) {
            idleCheckpoint_.start(MoverPollMs);
            return;
        }
        movedAtChanges_ = -1;
    } else if (!logMover_.MovedAll()) {
        return; // a read still needed some pages; the next pause moves them
    }
    // Nothing is left to copy or sync, so emptying the log costs this thread only the cut of
    // the file; a long one is not cut here (that alone takes over 10 ms) but reused from its
    // start by the next commit, and removed at close. Emptying waits for a read in progress.
    if (QFileInfo(Connection.Path() + QStringLiteral("-wal")).size() > ShortLogBytes)
        return;
    if (Reader.Reading() || SideWriter.Committing()) {
        idleCheckpoint_.start(MoverPollMs);
        return;
    }
    try {
        Connection.Checkpoint();
    } catch (...) {
        // Tried again after the next write; the log keeps every commit meanwhile.
    }
}

void TDbAccess::WriteAside(const std::function<void(TConnection&)>& fill) {
    struct TAside {
        std::atomic<int>& count;
        explicit TAside(std::atomic<int>& c) : count(c) { ++count; }
        ~TAside() { --count; }
    } aside(aside_);
    try {
        TConnection connection;
        connection.Open(DatabasePath(), key_);
        connection.UseWriteAheadLog();
        {
            // Immediate: what fill reads (the next free number) stays true until its commit.
            TTransaction transaction(connection, TTransaction::Immediate);
            fill(connection);
            transaction.Commit();
        }
        asideChanges_ += connection.TotalChanges();
    } catch (const EEngineError& e) {
        throw EDBException(What(e), QStringLiteral("数据库操作失败！"), QString(), EngineCodeOf(e));
    }
    // The log is moved into the file at the interface's next pause, as after its own writes.
    QMetaObject::invokeMethod(
        &idleCheckpoint_, [this] { idleCheckpoint_.start(IdleCheckpointMs); },
        Qt::QueuedConnection);
}

void TDbAccess::LogGrew(int frames) {
    if (frames < MaxLogFrames) {
        idleCheckpoint_.start(IdleCheckpointMs);
        return;
    }
    // Inside the commit hook: no exceptions may leave, and a failure is retried next time.
    if (!logMover_.Start(Connection.Path(), Connection.Key()))
        sqlite3_wal_checkpoint_v2(Connection.Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                  nullptr);
}

void TDbAccess::OpenData() {
    try {
        Connection.Open(DatabasePath(), key_);
    } catch (const EEngineError& e) {
        if (e.Code() == SQLITE_NOTADB)
            throw EKeyRefused(e.what(), e.Code());
        throw;
    }
    try {
        // Only a file that is ours is tuned: switching the journal writes its header.
        CheckSchema(Connection);
        UpgradeSchema(Connection);
        Connection.UseWriteAheadLog();
        Connection.OnCommit([this](int frames) { LogGrew(frames); });
        LoadImportedHolidays(Connection);
    } catch (...) {
        Connection.Close();
        throw;
    }
    Reader.Allow(Connection.Path(), key_);
}

void TDbAccess::BackupTo(const QString& path) {
    try {
        EnsureOpen();
        CopyThroughEngine(Connection, path, key_);
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库备份失败！"), QString(), EngineCodeOf(e));
    }
}

void TDbAccess::RestoreFrom(const QString& path, const QString& safetyCopy,
                            const QString& password) {
    const QString failed = QStringLiteral("数据库恢复失败！");
    const QString data = DatabasePath();
    // The chosen file is read through the engine (read-only) and staged beside the data: it
    // must open with a key and hold our tables before anything is written, the safety copy
    // included, so choosing the safety copy itself undoes the last restore. The restored data
    // keeps the backup's key: its settings hold the login password it was made with.
    const QString staged = data + QStringLiteral(".restore");
    QString key;
    try {
        RemoveWithJournal(staged);
        TConnection source;
        for (const QString& candidate : {password, key_, DatabaseKey}) {
            if (candidate.isEmpty())
                continue;
            try {
                source.Open(path, candidate, true);
                key = candidate;
                break;
            } catch (const std::exception& e) {
                if (EngineCodeOf(e) != SQLITE_NOTADB || candidate == DatabaseKey)
                    throw;
            }
        }
        CheckSchema(source);
        CopyThroughEngine(source, staged, key);
    } catch (const std::exception& e) {
        RemoveWithJournal(staged);
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
    if (!safetyCopy.isEmpty()) {
        try {
            BackupTo(safetyCopy);
        } catch (...) {
            RemoveWithJournal(staged);
            throw;
        }
    }
    PutInPlace(staged, key, failed);
}

bool TDbAccess::RefusesKey(const QString& path, const QString& key) {
    try {
        TConnection connection;
        connection.Open(path, key, true);
        return false;
    } catch (const std::exception& e) {
        return EngineCodeOf(e) == SQLITE_NOTADB;
    }
}

bool TDbAccess::RefusesKnownKeys(const QString& path) const {
    return RefusesKey(path, key_) && (!KeyIsPassword() || RefusesKey(path, DatabaseKey));
}

void TDbAccess::Rekey(const QString& key) {
    const QString failed = QStringLiteral("数据文件加密失败！");
    const QString staged = DatabasePath() + QStringLiteral(".rekey");
    try {
        RemoveWithJournal(staged);
        EnsureOpen();
        // Every commit of the other writer is in the copy.
        SideWriter.Shut();
        CopyThroughEngine(Connection, staged, key);
    } catch (const std::exception& e) {
        RemoveWithJournal(staged);
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
    PutInPlace(staged, key, failed);
}

void TDbAccess::PutInPlace(const QString& staged, const QString& key, const QString& failed) {
    const QString data = DatabasePath();
    const bool wasOpen = Connection.IsOpen();
    try {
        // Switched to the log here, while it is still aside: opened in place in the other
        // mode, the switch would leave a journal that a kill makes hot, and a look at the
        // file with the old key would play it back with that key.
        {
            TConnection copy;
            copy.Open(staged, key);
            copy.UseWriteAheadLog();
        }
        if (QFile::exists(staged + QStringLiteral("-wal")))
            throw EEngineError("the new file's log could not be emptied");
        // A read still running (a search, the list read ahead) would hold the log's emptying
        // for the engine's whole wait, and then fail it.
        Reader.Shut();
        SideWriter.Shut();
        logMover_.Wait();
        Connection.Checkpoint();
        Disconnect();
        // A log left behind would be replayed into the restored file.
        if (QFile::exists(data + QStringLiteral("-wal")))
            throw EEngineError("the data file's log could not be emptied");
        QFile::remove(data + QStringLiteral("-shm"));
        if (std::rename(QFile::encodeName(staged).constData(),
                        QFile::encodeName(data).constData()) != 0)
            throw SystemError(errno);
        SyncFolderOf(data);
        key_ = key;
    } catch (const std::exception& e) {
        RemoveWithJournal(staged);
        if (wasOpen && !Connection.IsOpen()) {
            try {
                OpenData(); // the data file is untouched: carry on with it
            } catch (...) {
            }
        }
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
    try {
        OpenData();
    } catch (const std::exception& e) {
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
}

// ---------------------------------------------------------------- forwarding routines

void ExecSql(const QString& text) {
    DbAccess->ExecuteBatch(text);
}

int GetIntValue(const QString& sql) {
    return DbAccess->QueryInteger(sql);
}

TRows ReadRows(const QString& sql) {
    return DbAccess->ReadTexts(sql);
}

void BackupData(const QString& path) {
    DbAccess->BackupTo(path);
}

void RestoreData(const QString& path, const QString& safetyCopy, const QString& password) {
    DbAccess->RestoreFrom(path, safetyCopy, password);
}
