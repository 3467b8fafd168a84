#pragma once

#include "common/UntListRows.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

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
    QString Path() const { return path_; }
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
    std::function<void(int)> onCommit_;
};

// Begins a transaction; rolls it back on destruction unless Commit() ran.
class TTransaction {
public:
    explicit TTransaction(TConnection& connection);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    void Commit();

private:
    TConnection& connection_;
    bool open_ = false;
};

// A query result held as a client-side copy of its rows; the statement is finalised at once.
// The editable kind can append and edit rows of a "select * from Table ..." result and post
// them back with bound values.
class TCursor {
public:
    bool Active() const { return active_; }
    void Close();

    void First() { row_ = 0; }
    void Next();
    bool Eof() const { return row_ >= static_cast<int>(rows_.size()); }
    int RecordCount() const { return static_cast<int>(rows_.size()); }
    int FieldCount() const { return static_cast<int>(names_.size()); }
    QString FieldName(int column) const { return names_.at(column); }
    int FieldIndex(const QString& name) const; // -1 when absent

    QVariant Value(int column) const;
    QVariant Value(const QString& name) const;
    QString AsString(int column) const { return ToString(Value(column)); }
    QString AsString(const QString& name) const { return ToString(Value(name)); }
    qint64 AsInteger(int column) const { return ToInteger(Value(column)); }
    qint64 AsInteger(const QString& name) const { return ToInteger(Value(name)); }
    QDateTime AsDateTime(int column) const { return ToDateTime(Value(column)); }
    QDateTime AsDateTime(const QString& name) const { return ToDateTime(Value(name)); }
    bool AsBoolean(int column) const { return ToBoolean(Value(column)); }
    bool AsBoolean(const QString& name) const { return ToBoolean(Value(name)); }

    // Editing, for an editable cursor over one table.
    void Append();
    void Edit();
    void SetField(const QString& name, const QVariant& value);
    void Post();
    void Cancel();
    // The statement the last Post ran (its values bound, not in the text).
    QString PostSql() const { return postSql_; }

    static QString ToString(const QVariant& v);
    static qint64 ToInteger(const QVariant& v);
    static QDateTime ToDateTime(const QVariant& v);
    static bool ToBoolean(const QVariant& v);

    // Runs a SELECT and keeps its rows; the previous result is dropped first. An editable
    // cursor accepts "select * from Table ..." and can then append and edit rows.
    void Open(TConnection& connection, const QString& sql, bool editable = false);

private:
    enum class Mode { Browse, Append, Edit };

    void CheckRow() const;

    TConnection* connection_ = nullptr;
    bool active_ = false;
    QStringList names_;
    std::vector<std::vector<QVariant>> rows_;
    int row_ = 0;
    // editing
    QString table_;
    std::vector<qint64> rowids_;
    Mode mode_ = Mode::Browse;
    std::vector<QVariant> buffer_;
    std::vector<bool> changed_;
    QString postSql_;
};

// One row of a result while it is being read; valid only inside the call that receives it.
class TRowView {
public:
    explicit TRowView(sqlite3_stmt* statement) : statement_(statement) {}
    qint64 Integer(int column) const;
    QString Text(int column) const;
    // The text's bytes as stored (UTF-8), without a copy.
    QByteArrayView Utf8(int column) const;
    // Every column as text, as TDbAccess::ReadTexts gives it.
    QStringList Texts() const;

private:
    sqlite3_stmt* statement_;
};

// A second connection to the data file, read-only, for reading off the interface thread
// while the interface thread keeps the main connection. It opens with the same key and
// settings, on first use, and only while the data file is open; reads from any one thread
// at a time (others wait).
class TReadConnection {
public:
    TReadConnection() = default;
    TReadConnection(const TReadConnection&) = delete;
    TReadConnection& operator=(const TReadConnection&) = delete;
    ~TReadConnection() { Shut(); }

    // Runs one SELECT with its values bound to ?1, ?2, ... and hands each row to onRow as it
    // is read; onRow returns false to stop. Returns true when the rows ran out, false when
    // the read was stopped: by onRow, by *cancel becoming true, or by Shut. Throws
    // EDBException when the statement fails.
    bool ReadRows(const QString& sql, const QVariantList& values,
                  const std::function<bool(const TRowView&)>& onRow,
                  const std::atomic<bool>* cancel = nullptr);
    // A read is running.
    bool Reading() const { return reading_; }
    // How often the connection was opened: PRAGMA data_version counts afresh each time.
    quint64 Openings() const { return openings_; }
    // The data file at path is open: reads may begin.
    void Allow(const QString& path);
    // Stops a running read and closes, freeing the page cache; the next read opens again.
    void Release();
    // Stops a running read and closes; reads fail until Allow. The data file may then be
    // closed, replaced or compacted.
    void Shut();

private:
    static int Progress(void* self);

    std::mutex use_;
    TConnection connection_;
    QString path_;
    bool allowed_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{false};
    std::atomic<quint64> openings_{0};
    std::atomic<const std::atomic<bool>*> cancel_{nullptr};
};

// Moves a data file's log into the file through a connection of its own, on its own thread,
// without taking the writer's lock: commits go on meanwhile.
class TLogMover {
public:
    TLogMover() = default;
    TLogMover(const TLogMover&) = delete;
    TLogMover& operator=(const TLogMover&) = delete;
    ~TLogMover() { Wait(); }

    // Does nothing while a move is running; false when no thread could be started.
    bool Start(const QString& path);
    bool Running() const { return running_; }
    // The last move left nothing in the log that was not in the file.
    bool MovedAll() const { return movedAll_; }
    // Returns once no move is running (before the file is closed, replaced or compacted).
    void Wait();

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> movedAll_{false};
};

// A second writing connection to the data file, for long runs of small transactions (a first
// sync) that must not hold up the interface: a transaction is filled on the interface thread,
// where nothing waits for the disk while the pages stay in the connection's cache, and its
// commit, which writes the log, runs on a thread of its own. Used from the interface thread
// only; every use waits for a commit still running, so nothing else touches the connection
// meanwhile.
class TSideWriter {
public:
    TSideWriter() = default;
    TSideWriter(const TSideWriter&) = delete;
    TSideWriter& operator=(const TSideWriter&) = delete;
    ~TSideWriter();

    // The connection, opened on first use on the open data file; throws EEngineError when the
    // data file is not open.
    TConnection& Connection();
    // BEGIN IMMEDIATE: the transaction holds the writer's lock from its start, so the other
    // connection's commits cannot make its reads stale.
    void Begin();
    // Hands the commit to the writer's thread; done(error) follows on this thread (error
    // empty on success). A commit that fails is rolled back.
    void CommitInBackground(std::function<void(const QString& error)> done);
    // Rolls back an open transaction, if any.
    void Rollback();
    bool InTransaction();
    // From CommitInBackground until its done runs.
    bool Committing() const { return committing_; }
    // Rows written through this connection (committed or not) since the program started.
    qint64 Changes() const { return changes_; }
    // Waits for a running commit and closes; the next use opens again.
    void Shut();

private:
    friend class TDbAccess;
    void WaitCommitted();
    void CountChanges(); // while the connection is open

    TConnection connection_;
    const TConnection* main_ = nullptr;              // the owner's: its file, when open
    std::function<void(int logFrames)> afterCommit_; // set by the owner: the log grew
    std::unique_ptr<QObject> receiver_;              // the end of a commit is posted to it
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_; // the commit handed over, until the thread takes it
    bool running_ = false;      // the thread runs one
    bool quit_ = false;
    bool committing_ = false;
    qint64 changes_ = 0;
    qint64 changesAtOpen_ = 0;
    std::atomic<int> frames_{-1};
};

class TDbAccess {
public:
    TDbAccess();
    ~TDbAccess();
    TDbAccess(const TDbAccess&) = delete;
    TDbAccess& operator=(const TDbAccess&) = delete;

    TConnection Connection;
    TCursor MainCursor;     // OpenQuery; editable
    TCursor SideCursor;     // OpenSideQuery, the due check's cursor
    TCursor ScalarCursor;   // QueryInteger only
    TReadConnection Reader; // reads off the interface thread (the search across notes)
    TSideWriter SideWriter; // writes whose commits must not hold up the interface (sync)

    // Opens AppDir + "bookkeep.dat", creating the initial database when the file does not
    // exist. On failure shows "数据库连接失败！" with the engine's text, asks the application to
    // end and returns with the connection closed; an existing file is never modified.
    void Connect();
    void OpenQuery(const QString& sql);
    void OpenSideQuery(const QString& sql);
    int QueryInteger(const QString& sql);
    // The rows of a SELECT as texts, read straight from the engine (a listing of thousands of
    // rows would otherwise copy every value through a cursor first); the main cursor is left
    // closed, as after a list filled from it.
    TRows ReadTexts(const QString& sql);
    // Posts MainCursor's appended or edited row; a failure is a failed write like any other.
    void PostMainCursor();
    void ExecuteBatch(const QString& text);
    // Writes the data as the connection sees it into a new file that replaces path; the live
    // file is never opened a second time (that would drop this process's locks on it).
    void BackupTo(const QString& path);
    // Reads and checks the chosen file before anything is written; then, when safetyCopy is
    // given, backs the current data up there; then puts the chosen data in place.
    void RestoreFrom(const QString& path, const QString& safetyCopy = QString());
    // Closes the cursors and the connection (before compaction at exit).
    void Disconnect();
    // Rows written through either writing connection since the program started: unchanged,
    // nothing was written.
    qint64 Changes() const { return Connection.TotalChanges() + SideWriter.Changes(); }

    static QString DatabasePath();

private:
    void OpenData();
    void EnsureOpen();
    void LogGrew(int frames);
    void WritingPaused();

    // The log is moved into the file once writing has paused, off the keystroke path.
    QTimer idleCheckpoint_;
    // Moves the log into the file when writing pauses, and while writing that never pauses
    // (a first sync) goes on.
    TLogMover logMover_;
    qint64 movedAtChanges_ = -1; // Connection's changes when the pause's move started
    void OpenCursor(TCursor& cursor, const QString& sql, bool editable);
};

extern TDbAccess* DbAccess;

inline const QString DatabaseKey = QStringLiteral("40718293561072");
inline const QString DatabaseFileName = QStringLiteral("bookkeep.dat");
// Shown when an older data file could not be brought up to this version (and was kept as it
// was); the program then ends, like after any other failed connection.
inline const QString UpgradeFailedText = QStringLiteral("数据文件升级失败，文件未作改动！");
// Every file of the program is encrypted in pages of this size (part of its format: the
// sqlcipher tool needs "PRAGMA cipher_page_size = 16384" after the key). Large pages keep a
// keystroke that rewrites a big note to a few pages, each encrypted on its own.
constexpr int DatabasePageSize = 16384;
// A log this long (64 MB of pages) is moved into the file even while writing goes on;
// normally the pauses in typing empty it long before.
constexpr int MaxLogFrames = 4096;
// How long writing must pause before the log is moved into the file.
constexpr int IdleCheckpointMs = 2000;
// How often a pause looks whether the move it started has finished.
constexpr int MoverPollMs = 50;
// A log file up to this size is cut back to nothing once moved into the file.
constexpr qint64 ShortLogBytes = 4 << 20;

void ExecSql(const QString& text);
int GetIntValue(const QString& sql);
// The rows of a SELECT on the main cursor, as texts (NULL is the empty text).
TRows ReadRows(const QString& sql);
void BackupData(const QString& path);
void RestoreData(const QString& path, const QString& safetyCopy = QString());
