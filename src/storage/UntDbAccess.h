#pragma once

#include "UntConnection.h"
#include "UntCursor.h"
#include "UntLogMover.h"
#include "UntReadConnection.h"
#include "UntSideWriter.h"
#include "common/UntListRows.h"

#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>

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
    // A file that does not open with the program's own key may be encrypted with the login
    // password: nothing is shown then, the connection stays closed and LockedWithPassword()
    // is true until UnlockWith opens it or GaveUpUnlocking reports it as unreadable.
    void Connect();
    bool LockedWithPassword() const { return lockedWithPassword_; }
    // True when password opens the data file; a wrong one changes nothing.
    bool UnlockWith(const QString& password);
    void GaveUpUnlocking();
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
    // Runs work on Connection in one transaction, for a store whose writes must stay whole;
    // a failure is a failed write like any other (what names the work in the report).
    void Write(const std::function<void(TConnection&)>& work, const QString& what = QString());
    // Writes the data as the connection sees it into a new file that replaces path; the live
    // file is never opened a second time (that would drop this process's locks on it).
    void BackupTo(const QString& path);
    // Reads and checks the chosen file before anything is written; then, when safetyCopy is
    // given, backs the current data up there; then puts the chosen data in place.
    // A backup encrypted with a login password opens with password (the one in use and the
    // program's own are tried first); without it, the failure's code is SQLITE_NOTADB.
    void RestoreFrom(const QString& path, const QString& safetyCopy = QString(),
                     const QString& password = QString());
    // Encrypts the data file with key (the login password, or DatabaseKey for the program's
    // own): a copy under the new key is built beside it and renamed over it, so a crash
    // leaves the old file or the new one.
    void Rekey(const QString& key);
    // The file at path exists and opens neither with the key in use nor the program's own.
    bool RefusesKnownKeys(const QString& path) const;
    static bool RefusesKey(const QString& path, const QString& key);
    // Closes the cursors and the connection (before compaction at exit).
    void Disconnect();
    // Runs fill in one transaction of a writing connection of its own, on the calling thread
    // (any thread: a large import fills it without holding up the interface); rolled back
    // when fill throws. The interface's own writes wait for its commit meanwhile.
    void WriteAside(const std::function<void(TConnection&)>& fill);
    // A WriteAside is running.
    bool WritingAside() const { return aside_ > 0; }
    // Rows written through any writing connection since the program started: unchanged,
    // nothing was written.
    qint64 Changes() const {
        return Connection.TotalChanges() + SideWriter.Changes() + asideChanges_;
    }

    static QString DatabasePath();

    // The data file's passphrase: the program's own key, or the login password when the user
    // chose to encrypt the file with it.
    const QString& Key() const { return key_; }
    bool KeyIsPassword() const { return key_ != DatabaseKey; }

private:
    void OpenData();
    void CannotOpen(const std::exception& e);
    void KeepPrivate();
    // Replaces the data file with staged, a whole file of key.
    void PutInPlace(const QString& staged, const QString& key, const QString& failed);
    void EnsureOpen();
    void LogGrew(int frames);
    void WritingPaused();

    // The log is moved into the file once writing has paused, off the keystroke path.
    QTimer idleCheckpoint_;
    // Moves the log into the file when writing pauses, and while writing that never pauses
    // (a first sync) goes on.
    TLogMover logMover_;
    qint64 movedAtChanges_ = -1; // Connection's changes when the pause's move started
    QString key_ = DatabaseKey;
    bool lockedWithPassword_ = false;
    std::atomic<int> aside_{0};
    std::atomic<qint64> asideChanges_{0};
    void OpenCursor(TCursor& cursor, const QString& sql, bool editable);
};

extern TDbAccess* DbAccess;
// Shown when an older data file could not be brought up to this version (and was kept as it
// was); the program then ends, like after any other failed connection.
inline const QString UpgradeFailedText = QStringLiteral("数据文件升级失败，文件未作改动！");
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
void RestoreData(const QString& path, const QString& safetyCopy = QString(),
                 const QString& password = QString());
