#pragma once

#include <QString>

// One instance per session: an exclusive lock on a file named after the lock, released by
// the system when the holder ends in any way. When the lock file cannot be made the program
// runs unguarded.
class TInstanceLock {
public:
    explicit TInstanceLock(const QString& name);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    bool HeldByOther() const { return heldByOther_; }
    static QString LockPath(const QString& name);

private:
    int fd_ = -1;
    bool heldByOther_ = false;
};
