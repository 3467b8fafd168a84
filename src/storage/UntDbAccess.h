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
void RestoreData(const QString& path, const QString& safetyCopy = QString());
