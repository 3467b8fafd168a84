#pragma once

#include <QString>
#include <atomic>
#include <thread>

// Moves a data file's log into the file through a connection of its own, on its own thread,
// without taking the writer's lock: commits go on meanwhile.
class TLogMover {
public:
    TLogMover() = default;
    TLogMover(const TLogMover&) = delete;
    TLogMover& operator=(const TLogMover&) = delete;
    ~TLogMover() { Wait(); }

    // Does nothing while a move is running; false when no thread could be started.
    bool Start(const QString& path, const QString& key);
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
