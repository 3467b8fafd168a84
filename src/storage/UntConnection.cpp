#include "UntConnection.h"

#include "UntCipherKey.h"
#include "UntFileLocks.h"
#include "UntSqlEngine.h"
#include "UntSqlText.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sqlite3.h>

EEngineError LastEngineError(sqlite3* db) {
    int code = sqlite3_errcode(db) & 0xff;
    // A write that failed for want of space can come back as a plain I/O error.
    if (code == SQLITE_IOERR && sqlite3_system_errno(db) == ENOSPC)
        code = SQLITE_FULL;
    return EEngineError(sqlite3_errmsg(db), code);
}

int EngineCodeOf(const std::exception& e) {
    const auto* engine = dynamic_cast<const EEngineError*>(&e);
    return engine ? engine->Code() : 0;
}

// ---------------------------------------------------------------- TConnection

TConnection::~TConnection() {
    Close();
}

void TConnection::Open(const QString& path, const QString& key, bool readOnly) {
    // The key derived here first; should the engine refuse it, its own derivation decides,
    // so every failure reads exactly as the engine reports it.
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    triedSalt_.clear();
    try {
        OpenWith(path, key, flags, true);
    } catch (const EEngineError& e) {
        const QByteArray salt = triedSalt_;
        const bool own = key == DatabaseKey && !salt.isEmpty() && e.Code() == SQLITE_NOTADB;
        if (own && KnownNotOwnKey(salt))
            throw;
        try {
            OpenWith(path, key, flags, false);
        } catch (const EEngineError& again) {
            // Only when both attempts read the same file is it known not to take our key.
            if (own && again.Code() == SQLITE_NOTADB && triedSalt_ == salt)
                RememberNotOwnKey(salt);
            throw;
        }
    }
}

void TConnection::Create(const QString& path, const QString& key) {
    if (QFileInfo::exists(path))
        throw EEngineError("the file exists already");
    OpenWith(path, key, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, false);
}

void PrepareEngine() {
    static const bool prepared = [] {
        // A connection is only ever used by one thread at a time (the reader takes turns under
        // its own lock), so the engine's locking on every call is left out, and so is its count
        // of memory in use, which takes a process-wide lock on every allocation. Set before the
        // engine starts.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        UseOwnFileLocks();
        return true;
    }();
    Q_UNUSED(prepared);
}

void TConnection::OpenWith(const QString& path, const QString& key, int flags, bool derived) {
    Close();
    PrepareEngine();
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        const EEngineError error =
            db_ ? LastEngineError(db_) : EEngineError(sqlite3_errstr(rc), rc & 0xff);
        Close();
        throw error;
    }
    path_ = path;
    key_ = key;
    QByteArray salt;
    // The salt of the file the engine has open, whichever attempt: the path may name another
    // file by the next one (a re-key renames its copy over it).
    triedSalt_ = FileSalt();
    try {
        QString keyText = QLatin1Char('\'') + QuoteSql(key) + QLatin1Char('\'');
        if (derived) {
            salt = triedSalt_;
            if (salt.isEmpty())
                throw EEngineError("the file has no salt yet");
            keyText = QLatin1Char('"') +
                      QString::fromLatin1(RawKeyText(CipherKey(key.toUtf8(), salt))) +
                      QLatin1Char('"');
        }
        Exec(QStringLiteral("PRAGMA key = %1; PRAGMA cipher_page_size = %2")
                 .arg(keyText)
                 .arg(DatabasePageSize));
        if (RegisterEngineFunctions(db_) != SQLITE_OK)
            throw LastEngineError(db_);
        sqlite3_busy_timeout(db_, 2000);
        // A wrong key or a file that is not a database fails only at the first read.
        Exec(QStringLiteral("select count(*) from sqlite_master"));
    } catch (...) {
        Close();
        if (!salt.isEmpty())
            ForgetCipherKey(salt); // a key kept from an earlier start may be what failed
        throw;
    }
}

qint64 TConnection::TotalChanges() const {
    return db_ ? sqlite3_total_changes(db_) : 0;
}

QByteArray TConnection::FileSalt() const {
    // Read through the engine's own handle of the file: opening the file a second time and
    // closing it would drop the engine's locks on it.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return QByteArray();
    QByteArray salt(16, '\0');
    if (file->pMethods->xRead(file, salt.data(), static_cast<int>(salt.size()), 0) != SQLITE_OK)
        return QByteArray();
    return salt;
}

void TConnection::UseWriteAheadLog() {
    // The notepad commits the whole note on every keystroke. A write-ahead log with syncs
    // only at checkpoints was the fastest measured set-up that still keeps every committed
    // change when the process dies and the file consistent after a power cut; the larger
    // page cache keeps a big note decrypted between keystrokes.
    // Checkpoints happen when writing pauses (and before a backup, a restore, at close), so
    // a keystroke never pays for one.
    Exec(QStringLiteral("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384; "
                        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0"));
}

void TConnection::OnCommit(std::function<void(int)> hook) {
    onCommit_ = std::move(hook);
    sqlite3_wal_hook(
        db_,
        [](void* self, sqlite3*, const char*, int frames) {
            auto* connection = static_cast<TConnection*>(self);
            if (connection->onCommit_)
                connection->onCommit_(frames);
            return SQLITE_OK;
        },
        this);
}

void TConnection::Checkpoint() {
    if (db_ && sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                         nullptr) != SQLITE_OK)
        throw LastEngineError(db_);
}

void TConnection::KeepLogAtClose() {
    int keep = 1;
    if (db_)
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &keep);
}

void TConnection::Close() {
    onCommit_ = nullptr;
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    path_.clear();
    key_.clear();
}

void TConnection::Exec(const QString& sql) {
    if (!db_)
        throw EEngineError("the database connection is closed");
    const TStatementClock clock;
    char* error = nullptr;
    if (sqlite3_exec(db_, ShortCircuitIIf(sql).toUtf8().constData(), nullptr, nullptr, &error) !=
        SQLITE_OK) {
        const EEngineError last = LastEngineError(db_);
        const std::string message = error ? error : last.what();
        sqlite3_free(error);
        throw EEngineError(message, last.Code());
    }
}

QString TConnection::LastError() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
}

// ---------------------------------------------------------------- TTransaction

TTransaction::TTransaction(TConnection& connection, TBegin begin) : connection_(connection) {
    if (begin == IfFree) {
        if (!connection_.IsOpen())
            throw EEngineError("the database connection is closed");
        sqlite3* db = connection_.Handle();
        sqlite3_busy_timeout(db, 0);
        const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_busy_timeout(db, 2000);
        if ((rc & 0xff) == SQLITE_BUSY)
            return;
        if (rc != SQLITE_OK)
            throw LastEngineError(db);
    } else {
        connection_.Exec(begin == Immediate ? QStringLiteral("BEGIN IMMEDIATE")
                                            : QStringLiteral("BEGIN"));
    }
    open_ = true;
}

TTransaction::~TTransaction() {
    if (open_ && connection_.IsOpen())
        sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

TSavepoint::TSavepoint(TConnection& connection) : connection_(connection) {
    connection_.Exec(QStringLiteral("SAVEPOINT keep_whole"));
}

TSavepoint::~TSavepoint() {
    if (open_ && connection_.IsOpen()) {
        sqlite3_exec(connection_.Handle(), "ROLLBACK TO keep_whole", nullptr, nullptr, nullptr);
        sqlite3_exec(connection_.Handle(), "RELEASE keep_whole", nullptr, nullptr, nullptr);
    }
}

void TSavepoint::Release() {
    connection_.Exec(QStringLiteral("RELEASE keep_whole"));
    open_ = false;
}

void TTransaction::Commit() {
    connection_.Exec(QStringLiteral("COMMIT"));
    open_ = false;
}
