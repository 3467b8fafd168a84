#include "UntLogMover.h"

#include "UntConnection.h"
#include "common/UntBackground.h"

#include <sqlite3.h>

// ---------------------------------------------------------------- TLogMover

bool TLogMover::Start(const QString& path, const QString& key) {
    if (running_)
        return true;
    Wait();
    running_ = true;
    movedAll_ = false;
    try {
        thread_ = std::thread([this, path, key] {
            YieldToInterface();
            try {
                TConnection mover;
                mover.Open(path, key);
                // Passive: never waits for the writer, so a keystroke's commit is not held up.
                int inLog = 0;
                int moved = 0;
                movedAll_ =
                    sqlite3_wal_checkpoint_v2(mover.Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                              &inLog, &moved) == SQLITE_OK &&
                    moved == inLog;
            } catch (...) {
                // The log keeps every commit; the next long log or pause tries again.
            }
            running_ = false;
        });
    } catch (...) {
        running_ = false;
        return false;
    }
    return true;
}

void TLogMover::Wait() {
    if (thread_.joinable())
        thread_.join();
}
