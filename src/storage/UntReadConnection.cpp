#include "UntReadConnection.h"

#include "UException.h"
#include "UntStatement.h"

#include <sqlite3.h>

// ---------------------------------------------------------------- TReadConnection

void TReadConnection::Allow(const QString& path, const QString& key) {
    const std::lock_guard<std::mutex> lock(use_);
    path_ = path;
    key_ = key;
    allowed_ = true;
}

void TReadConnection::Release() {
    stop_ = true;
    const std::lock_guard<std::mutex> lock(use_);
    connection_.Close();
    stop_ = false;
}

void TReadConnection::Shut() {
    stop_ = true;
    const std::lock_guard<std::mutex> lock(use_);
    connection_.Close();
    allowed_ = false;
    stop_ = false;
}

int TReadConnection::Progress(void* self) {
    auto* reader = static_cast<TReadConnection*>(self);
    const std::atomic<bool>* cancel = reader->cancel_;
    return reader->stop_ || (cancel && *cancel) ? 1 : 0;
}

bool TReadConnection::ReadRows(const QString& sql, const QVariantList& values,
                               const std::function<bool(const TRowView&)>& onRow,
                               const std::atomic<bool>* cancel) {
    const std::lock_guard<std::mutex> lock(use_);
    struct Busy {
        std::atomic<bool>& flag;
        explicit Busy(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(reading_);
    auto stopped = [&] { return stop_ || (cancel && *cancel); };
    if (stopped())
        return false;
    try {
        if (!allowed_)
            throw EEngineError("the database connection is closed");
        if (!connection_.IsOpen()) {
            connection_.Open(path_, key_, true);
            // Its own page cache, large enough to keep a search's pages decrypted until the
            // data changes.
            connection_.Exec(QStringLiteral("PRAGMA cache_size=-65536; PRAGMA query_only=1"));
            sqlite3_progress_handler(connection_.Handle(), 2000, &TReadConnection::Progress, this);
            ++openings_;
        }
        sqlite3* db = connection_.Handle();
        Statement stmt = Prepare(db, sql);
        for (int i = 0; i < values.size(); ++i)
            Bind(stmt.get(), i + 1, values.at(i));
        cancel_ = cancel;
        const TRowView row(stmt.get());
        for (;;) {
            const int rc = sqlite3_step(stmt.get());
            if (rc == SQLITE_DONE)
                break;
            if (rc == SQLITE_INTERRUPT && stopped()) {
                cancel_ = nullptr;
                return false;
            }
            if (rc != SQLITE_ROW)
                throw EEngineError(sqlite3_errmsg(db));
            if (!onRow(row) || stopped()) {
                cancel_ = nullptr;
                return false;
            }
        }
        cancel_ = nullptr;
        return true;
    } catch (const EDBException&) {
        cancel_ = nullptr;
        throw;
    } catch (const std::exception& e) {
        cancel_ = nullptr;
        throw EDBException(QString::fromUtf8(e.what()), QStringLiteral("数据库查询错误，请检查！"),
                           sql);
    }
}
