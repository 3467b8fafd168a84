#pragma once

#include "UntConnection.h"

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

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
