#pragma once

#include <QString>
#include <functional>
#include <stdexcept>
#include <string>

struct sqlite3;

// The engine's own failure. Code is the engine's primary result code (SQLITE_FULL,
// SQLITE_BUSY, ...) when one is known, so the user can be told what went wrong; 0 otherwise.
class EEngineError : public std::runtime_error {
public:
    explicit EEngineError(const std::string& what, int code = 0)
        : std::runtime_error(what), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};
// The engine's last error on db as an EEngineError.
EEngineError LastEngineError(sqlite3* db);
// The result code an exception carries (see EEngineError), 0 for any other.
int EngineCodeOf(const std::exception& e);

// Sets the engine up for the process (its locks among them) before the first file opens;
// every connection calls it.
void PrepareEngine();

// One SQLite connection (SQLCipher), owned for its whole life.
class TConnection {
public:
    TConnection() = default;
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Opens an existing file with the key, registers the engine functions and reads the
    // schema to prove the key; throws EEngineError with the engine's text on failure and
    // leaves the connection closed. readOnly opens without any chance of writing.
    void Open(const QString& path, const QString& key, bool readOnly = false);
    // Makes a new, empty file at path with the key and the program's page settings.
    void Create(const QString& path, const QString& key);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    // The journal and cache set-up of the program's own data file: a write-ahead log that is
    // moved into the file only by Checkpoint(), so no commit waits for one.
    void UseWriteAheadLog();
    // Called after each commit with the number of frames in the log.
    void OnCommit(std::function<void(int logFrames)> hook);
    // Moves everything committed from the log into the file; a no-op without a log.
    void Checkpoint();
    // Closing leaves the log and its index where they are, even as the file's last user: for a
    // second process beside a running program, which must never remove that program's log.
    void KeepLogAtClose();
    QString Path() const { return path_; }
    // The passphrase it was opened with: other connections of the same file use it too.
    const QString& Key() const { return key_; }
    sqlite3* Handle() const { return db_; }
    // Rows written through this connection since it opened: unchanged, nothing was written.
    qint64 TotalChanges() const;

    // Runs one or more statements, discarding results; throws EEngineError.
    void Exec(const QString& sql);
    // The text of the engine's last error on this connection.
    QString LastError() const;

private:
    // derived: with the key computed here from the file's salt (a file without one fails).
    void OpenWith(const QString& path, const QString& key, int flags, bool derived);
    // The first 16 bytes of the open file, the salt of its key; empty when it has none.
    QByteArray FileSalt() const;

    sqlite3* db_ = nullptr;
    QString path_;
    QString key_;
    QByteArray triedSalt_; // of the file the last open read it from
    std::function<void(int)> onCommit_;
};

// Begins a transaction; rolls it back on destruction unless Commit() ran. An immediate one
// holds the writer's lock from its start; IfFree takes it only when no other connection holds
// it now (no wait) and otherwise begins nothing: Open() says which.
class TTransaction {
public:
    enum TBegin { Deferred, Immediate, IfFree };
    explicit TTransaction(TConnection& connection, TBegin begin = Deferred);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    bool Open() const { return open_; }
    void Commit();

private:
    TConnection& connection_;
    bool open_ = false;
};

// A savepoint: its work is undone on destruction unless Release() ran. Nests inside a
// transaction or another savepoint, and outside any acts as a deferred transaction, so a
// store can keep its several writes whole whoever calls it.
class TSavepoint {
public:
    explicit TSavepoint(TConnection& connection);
    ~TSavepoint();
    TSavepoint(const TSavepoint&) = delete;
    TSavepoint& operator=(const TSavepoint&) = delete;
    void Release();

private:
    TConnection& connection_;
    bool open_ = true;
};

inline const QString DatabaseKey = QStringLiteral("40718293561072");
inline const QString DatabaseFileName = QStringLiteral("bookkeep.dat");
// Every file of the program is encrypted in pages of this size (part of its format: the
// sqlcipher tool needs "PRAGMA cipher_page_size = 16384" after the key). Large pages keep a
// keystroke that rewrites a big note to a few pages, each encrypted on its own.
constexpr int DatabasePageSize = 16384;
