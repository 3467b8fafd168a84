#include "UntSideWriter.h"

#include "common/UntBackground.h"

#include <QObject>
#include <sqlite3.h>

// ---------------------------------------------------------------- TSideWriter

TSideWriter::~TSideWriter() {
    Shut();
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
}

void TSideWriter::WaitCommitted() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return !job_ && !running_; });
}

TConnection& TSideWriter::Connection() {
    WaitCommitted();
    if (!connection_.IsOpen()) {
        if (!main_ || !main_->IsOpen())
            throw EEngineError("the database connection is closed");
        connection_.Open(main_->Path(), main_->Key());
        connection_.UseWriteAheadLog();
        // Pages changed by a transaction stay in the cache until its commit, rather than
        // being written out on this thread half way through.
        connection_.Exec(QStringLiteral("PRAGMA cache_spill=OFF"));
        connection_.OnCommit([this](int frames) { frames_ = frames; });
        changesAtOpen_ = changes_;
    }
    return connection_;
}

void TSideWriter::CountChanges() {
    changes_ = changesAtOpen_ + connection_.TotalChanges();
}

void TSideWriter::Begin() {
    Connection().Exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool TSideWriter::InTransaction() {
    WaitCommitted();
    return connection_.IsOpen() && !sqlite3_get_autocommit(connection_.Handle());
}

void TSideWriter::CommitInBackground(std::function<void(const QString&)> done) {
    TConnection& connection = Connection();
    if (!receiver_)
        receiver_ = std::make_unique<QObject>();
    frames_ = -1;
    committing_ = true;
    auto commit = [this, &connection, done = std::move(done)] {
        QString error;
        try {
            connection.Exec(QStringLiteral("COMMIT"));
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
            if (!sqlite3_get_autocommit(connection.Handle()))
                sqlite3_exec(connection.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        // Done before the owner hears of it: a slice it then begins must not wait for this
        // thread, which yields the processor to it, to come back and say so.
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
        }
        wake_.notify_all();
        // The rest runs on the owner's thread; it is dropped with the writer.
        QMetaObject::invokeMethod(
            receiver_.get(),
            [this, done, error] {
                committing_ = false;
                // Closed meanwhile (a restore, the end): the log was dealt with then.
                if (connection_.IsOpen()) {
                    CountChanges();
                    if (frames_ >= 0 && afterCommit_)
                        afterCommit_(frames_);
                }
                done(error);
            },
            Qt::QueuedConnection);
    };
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(commit);
    }
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] {
                YieldToInterface();
                std::unique_lock<std::mutex> lock(mutex_);
                for (;;) {
                    wake_.wait(lock, [this] { return quit_ || job_; });
                    if (quit_)
                        return;
                    const std::function<void()> job = std::move(job_);
                    job_ = nullptr;
                    running_ = true;
                    lock.unlock();
                    job();
                    lock.lock();
                    running_ = false;
                    wake_.notify_all();
                }
            });
        } catch (...) {
            // No thread to be had: commit here.
            const std::function<void()> job = std::move(job_);
            job_ = nullptr;
            job();
            return;
        }
    }
    wake_.notify_all();
}

void TSideWriter::Rollback() {
    // A transaction being committed ends on the writer's thread either way; waiting for it
    // here would hold up the caller (the interface thread, when a pass is abandoned).
    if (!committing_ && InTransaction())
        sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TSideWriter::Shut() {
    WaitCommitted();
    if (connection_.IsOpen())
        CountChanges();
    connection_.Close(); // an open transaction is rolled back
}
