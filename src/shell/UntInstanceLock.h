#pragma once

#include <QString>

// One instance per session: an exclusive lock on a file named after the lock, released by
// the system when the holder ends in any way. The file is in XDG_RUNTIME_DIR, else in a
// folder only this user can reach (see Folder). When the lock file cannot be made the program
// runs unguarded.
class TInstanceLock {
public:
    explicit TInstanceLock(const QString& name);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    bool HeldByOther() const { return heldByOther_; }
    // The folder of the lock and the socket beside it: XDG_RUNTIME_DIR; without it
    // "quillet-<uid>" in the temporary folder, else in the user's cache, as a real folder of
    // this user's with mode 0700. Empty when there is none to be had.
    static QString Folder();
    // The lock file's path; empty when there is no folder for it.
    static QString LockPath(const QString& name);

private:
    int fd_ = -1;
    bool heldByOther_ = false;
};
