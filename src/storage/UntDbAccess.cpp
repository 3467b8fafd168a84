#include "UntDbAccess.h"

#include "UException.h"
#include "UntCipherKey.h"
#include "UntSchema.h"
#include "UntSqlEngine.h"
#include "UntSqlText.h"
#include "common/UntAppDir.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sqlite3.h>

TDbAccess* DbAccess = nullptr;

EEngineError LastEngineError(sqlite3* db) {
    int code = sqlite3_errcode(db) & 0xff;
    // A write that failed for want of space can come back as a plain I/O error.
    if (code == SQLITE_IOERR && sqlite3_system_errno(db) == ENOSPC)
        code = SQLITE_FULL;
    return EEngineError(sqlite3_errmsg(db), code);
}

int EngineCodeOf(const std::exception& e) {
    const auto* engine = dynamic_cast<const EEngineError*>(&e);
    return engine ? engine->Code() : 0;
}

namespace {

struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

Statement Prepare(sqlite3* db, const QString& sql) {
    const QByteArray utf8 = ShortCircuitIIf(sql).toUtf8();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), utf8.size(), &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        throw LastEngineError(db);
    }
    if (!raw)
        throw EEngineError("empty statement");
    return Statement(raw);
}

QVariant ColumnValue(sqlite3_stmt* stmt, int c) {
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, c)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, c));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                              sqlite3_column_bytes(stmt, c)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, c)),
                                   sqlite3_column_bytes(stmt, c)));
    default:
        return QVariant();
    }
}

// A column as the cursor would give it as text, without making the value first.
QString ColumnText(sqlite3_stmt* stmt, int c) {
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_TEXT:
    case SQLITE_BLOB:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                 sqlite3_column_bytes(stmt, c));
    case SQLITE_NULL:
        return QString();
    case SQLITE_INTEGER:
        return QString::number(sqlite3_column_int64(stmt, c));
    default:
        return TCursor::ToString(ColumnValue(stmt, c));
    }
}

void Bind(sqlite3_stmt* stmt, int index, const QVariant& v) {
    int rc = SQLITE_OK;
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        rc = sqlite3_bind_null(stmt, index);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        rc = sqlite3_bind_int64(stmt, index, v.toLongLong());
        break;
    case QMetaType::Double:
        rc = sqlite3_bind_double(stmt, index, v.toDouble());
        break;
    default: {
        const QByteArray utf8 = v.toString().toUtf8();
        rc = sqlite3_bind_text(stmt, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    }
    }
    if (rc != SQLITE_OK)
        throw EEngineError(sqlite3_errstr(rc), rc);
}

void StepToEnd(sqlite3* db, sqlite3_stmt* stmt) {
    if (sqlite3_step(stmt) != SQLITE_DONE)
        throw LastEngineError(db);
}

// A failed system call, with the engine's code for the causes a user can act on.
EEngineError SystemError(int error) {
    int code = 0;
    if (error == ENOSPC)
        code = SQLITE_FULL;
    else if (error == EROFS || error == EACCES || error == EPERM)
        code = SQLITE_READONLY;
    return EEngineError(std::strerror(error), code);
}

void RemoveWithJournal(const QString& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// Writes what from holds into a new file of the same key and pages, built beside dst and
// renamed into place, so dst is either the old file or the whole new one. The engine reads
// from's pages through its own connection: the file behind it is not opened again.
void CopyThroughEngine(TConnection& from, const QString& dst) {
    const QString building = dst + QStringLiteral(".part");
    RemoveWithJournal(building);
    try {
        TConnection copy;
        copy.Create(building, DatabaseKey);
        sqlite3_backup* backup = sqlite3_backup_init(copy.Handle(), "main", from.Handle(), "main");
        if (!backup)
            throw LastEngineError(copy.Handle());
        const int stepped = sqlite3_backup_step(backup, -1);
        const int finished = sqlite3_backup_finish(backup);
        if (stepped != SQLITE_DONE)
            throw EEngineError(sqlite3_errstr(stepped), stepped & 0xff);
        if (finished != SQLITE_OK)
            throw EEngineError(sqlite3_errstr(finished), finished & 0xff);
        // A copy is one self-contained file, readable without a log beside it.
        copy.Exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        copy.Close();
        if (std::rename(QFile::encodeName(building).constData(),
                        QFile::encodeName(dst).constData()) != 0)
            throw SystemError(errno);
    } catch (...) {
        RemoveWithJournal(building);
        throw;
    }
}

QString What(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

} // namespace

// ---------------------------------------------------------------- TConnection

TConnection::~TConnection() {
    Close();
}

void TConnection::Open(const QString& path, const QString& key, bool readOnly) {
    // The key derived here first; should the engine refuse it, its own derivation decides,
    // so every failure reads exactly as the engine reports it.
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    try {
        OpenWith(path, key, flags, true);
    } catch (const EEngineError&) {
        OpenWith(path, key, flags, false);
    }
}

void TConnection::Create(const QString& path, const QString& key) {
    if (QFileInfo::exists(path))
        throw EEngineError("the file exists already");
    OpenWith(path, key, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, false);
}

void TConnection::OpenWith(const QString& path, const QString& key, int flags, bool derived) {
    Close();
    // A connection is only ever used by one thread at a time (the reader takes turns under its
    // own lock), so the engine's locking on every call is left out, and so is its count of
    // memory in use, which takes a process-wide lock on every allocation.
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    Q_UNUSED(configured);
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        const EEngineError error =
            db_ ? LastEngineError(db_) : EEngineError(sqlite3_errstr(rc), rc & 0xff);
        Close();
        throw error;
    }
    path_ = path;
    QByteArray salt;
    try {
        QString keyText = QLatin1Char('\'') + QuoteSql(key) + QLatin1Char('\'');
        if (derived) {
            salt = FileSalt();
            if (salt.isEmpty())
                throw EEngineError("the file has no salt yet");
            keyText = QLatin1Char('"') +
                      QString::fromLatin1(RawKeyText(CipherKey(key.toUtf8(), salt))) +
                      QLatin1Char('"');
        }
        Exec(QStringLiteral("PRAGMA key = %1; PRAGMA cipher_page_size = %2")
                 .arg(keyText)
                 .arg(DatabasePageSize));
        if (RegisterEngineFunctions(db_) != SQLITE_OK)
            throw LastEngineError(db_);
        sqlite3_busy_timeout(db_, 2000);
        // A wrong key or a file that is not a database fails only at the first read.
        Exec(QStringLiteral("select count(*) from sqlite_master"));
    } catch (...) {
        Close();
        if (!salt.isEmpty())
            ForgetCipherKey(salt); // a key kept from an earlier start may be what failed
        throw;
    }
}

qint64 TConnection::TotalChanges() const {
    return db_ ? sqlite3_total_changes(db_) : 0;
}

QByteArray TConnection::FileSalt() const {
    // Read through the engine's own handle of the file: opening the file a second time and
    // closing it would drop the engine's locks on it.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return QByteArray();
    QByteArray salt(16, '\0');
    if (file->pMethods->xRead(file, salt.data(), static_cast<int>(salt.size()), 0) != SQLITE_OK)
        return QByteArray();
    return salt;
}

void TConnection::UseWriteAheadLog() {
    // The notepad commits the whole note on every keystroke. A write-ahead log with syncs
    // only at checkpoints was the fastest measured set-up that still keeps every committed
    // change when the process dies and the file consistent after a power cut; the larger
    // page cache keeps a big note decrypted between keystrokes.
    // Checkpoints happen when writing pauses (and before a backup, a restore, at close), so
    // a keystroke never pays for one.
    Exec(QStringLiteral("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384; "
                        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0"));
}

void TConnection::OnCommit(std::function<void(int)> hook) {
    onCommit_ = std::move(hook);
    sqlite3_wal_hook(
        db_,
        [](void* self, sqlite3*, const char*, int frames) {
            auto* connection = static_cast<TConnection*>(self);
            if (connection->onCommit_)
                connection->onCommit_(frames);
            return SQLITE_OK;
        },
        this);
}

void TConnection::Checkpoint() {
    if (db_ && sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                         nullptr) != SQLITE_OK)
        throw LastEngineError(db_);
}

void TConnection::Close() {
    onCommit_ = nullptr;
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    path_.clear();
}

void TConnection::Exec(const QString& sql) {
    if (!db_)
        throw EEngineError("the database connection is closed");
    const TStatementClock clock;
    char* error = nullptr;
    if (sqlite3_exec(db_, ShortCircuitIIf(sql).toUtf8().constData(), nullptr, nullptr, &error) !=
        SQLITE_OK) {
        const EEngineError last = LastEngineError(db_);
        const std::string message = error ? error : last.what();
        sqlite3_free(error);
        throw EEngineError(message, last.Code());
    }
}

QString TConnection::LastError() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
}

// ---------------------------------------------------------------- TTransaction

TTransaction::TTransaction(TConnection& connection) : connection_(connection) {
    connection_.Exec(QStringLiteral("BEGIN"));
    open_ = true;
}

TTransaction::~TTransaction() {
    if (open_ && connection_.IsOpen())
        sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TTransaction::Commit() {
    connection_.Exec(QStringLiteral("COMMIT"));
    open_ = false;
}

// ---------------------------------------------------------------- TCursor

void TCursor::Close() {
    active_ = false;
    names_.clear();
    rows_.clear();
    rowids_.clear();
    table_.clear();
    row_ = 0;
    mode_ = Mode::Browse;
    buffer_.clear();
    changed_.clear();
}

void TCursor::Open(TConnection& connection, const QString& sql, bool editable) {
    Close();
    connection_ = &connection;
    if (!connection.IsOpen())
        throw EEngineError("the database connection is closed");
    QString run = sql;
    if (editable) {
        static const QRegularExpression single(
            QStringLiteral("^\\s*select\\s+\\*\\s+from\\s+([A-Za-z_][A-Za-z0-9_]*)\\b(.*)$"),
            QRegularExpression::CaseInsensitiveOption |
                QRegularExpression::DotMatchesEverythingOption);
        const auto m = single.match(sql);
        if (m.hasMatch()) {
            table_ = m.captured(1);
            run = QStringLiteral("select rowid, * from ") + table_ + m.captured(2);
        }
    }
    const TStatementClock clock;
    Statement stmt = Prepare(connection.Handle(), run);
    const int skip = table_.isEmpty() ? 0 : 1;
    const int columns = sqlite3_column_count(stmt.get());
    for (int c = skip; c < columns; ++c)
        names_ << QString::fromUtf8(sqlite3_column_name(stmt.get(), c));
    for (;;) {
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW) {
            const EEngineError error = LastEngineError(connection.Handle());
            Close();
            throw error;
        }
        std::vector<QVariant> values;
        values.reserve(columns - skip);
        for (int c = skip; c < columns; ++c)
            values.push_back(ColumnValue(stmt.get(), c));
        rows_.push_back(std::move(values));
        if (skip)
            rowids_.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    active_ = true;
}

void TCursor::Next() {
    if (!Eof())
        ++row_;
}

int TCursor::FieldIndex(const QString& name) const {
    for (int i = 0; i < names_.size(); ++i)
        if (names_.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TCursor::CheckRow() const {
    if (!active_)
        throw EEngineError("the cursor is closed");
    if (mode_ == Mode::Browse && Eof())
        throw EEngineError("either BOF or EOF is true: there is no current row");
}

QVariant TCursor::Value(int column) const {
    CheckRow();
    if (column < 0 || column >= FieldCount())
        throw EEngineError("column index out of range");
    return mode_ == Mode::Browse ? rows_[row_][column] : buffer_[column];
}

QVariant TCursor::Value(const QString& name) const {
    const int column = FieldIndex(name);
    if (column < 0)
        throw EEngineError(("no such column: " + name).toStdString());
    return Value(column);
}

void TCursor::Append() {
    if (!active_ || table_.isEmpty())
        throw EEngineError("the cursor cannot be edited");
    mode_ = Mode::Append;
    buffer_.assign(names_.size(), QVariant());
    changed_.assign(names_.size(), false);
}

void TCursor::Edit() {
    if (!active_ || table_.isEmpty())
        throw EEngineError("the cursor cannot be edited");
    CheckRow();
    mode_ = Mode::Edit;
    buffer_ = rows_[row_];
    changed_.assign(names_.size(), false);
}

void TCursor::SetField(const QString& name, const QVariant& value) {
    if (mode_ == Mode::Browse)
        throw EEngineError("the cursor is not in edit or append mode");
    const int column = FieldIndex(name);
    if (column < 0)
        throw EEngineError(("no such column: " + name).toStdString());
    buffer_[column] = value;
    changed_[column] = true;
}

void TCursor::Cancel() {
    mode_ = Mode::Browse;
    buffer_.clear();
    changed_.clear();
}

void TCursor::Post() {
    if (mode_ == Mode::Browse)
        throw EEngineError("the cursor is not in edit or append mode");
    sqlite3* db = connection_->Handle();
    if (!db)
        throw EEngineError("the database connection is closed");
    QStringList columns;
    std::vector<QVariant> values;
    for (int c = 0; c < FieldCount(); ++c) {
        if (changed_[c]) {
            columns << names_.at(c);
            values.push_back(buffer_[c]);
        }
    }
    QString sql;
    if (mode_ == Mode::Append) {
        sql = columns.isEmpty()
                  ? QStringLiteral("insert into %1 default values").arg(table_)
                  : QStringLiteral("insert into %1(%2) values(%3)")
                        .arg(table_, columns.join(QLatin1Char(',')),
                             QStringList(columns.size(), QStringLiteral("?")).join(u','));
    } else {
        if (columns.isEmpty())
            return Cancel();
        sql = QStringLiteral("update %1 set %2=? where rowid=?")
                  .arg(table_, columns.join(QStringLiteral("=?,")));
    }
    Statement stmt = Prepare(db, sql);
    int index = 1;
    for (const QVariant& v : values)
        Bind(stmt.get(), index++, v);
    if (mode_ == Mode::Edit)
        sqlite3_bind_int64(stmt.get(), index, rowids_[row_]);
    postSql_ = sql;
    StepToEnd(db, stmt.get());
    if (mode_ == Mode::Append) {
        rows_.push_back(buffer_);
        rowids_.push_back(sqlite3_last_insert_rowid(db));
        row_ = RecordCount() - 1;
    } else {
        rows_[row_] = buffer_;
    }
    Cancel();
}

QString TCursor::ToString(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return QString();
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

qint64 TCursor::ToInteger(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        return ok ? n : static_cast<qint64>(v.toString().trimmed().toDouble());
    }
    return v.toLongLong();
}

QDateTime TCursor::ToDateTime(const QVariant& v) {
    const QString text = ToString(v).trimmed();
    if (text.isEmpty())
        return QDateTime();
    QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (!dt.isValid())
        dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime(QDate::fromString(text.left(10), Qt::ISODate), QTime(0, 0));
    return dt;
}

bool TCursor::ToBoolean(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return false;
    if (v.typeId() == QMetaType::QString) {
        const QString t = v.toString().trimmed();
        bool ok = false;
        const double n = t.toDouble(&ok);
        return ok ? n != 0.0 : t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    return v.toDouble() != 0.0;
}

// ---------------------------------------------------------------- TRowView

qint64 TRowView::Integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

QString TRowView::Text(int column) const {
    const QByteArrayView bytes = Utf8(column);
    return QString::fromUtf8(bytes.data(), bytes.size());
}

QStringList TRowView::Texts() const {
    const int columns = sqlite3_column_count(statement_);
    QStringList texts;
    texts.reserve(columns);
    for (int c = 0; c < columns; ++c)
        texts << ColumnText(statement_, c);
    return texts;
}

QByteArrayView TRowView::Utf8(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return QByteArrayView(text, text ? sqlite3_column_bytes(statement_, column) : 0);
}

// ---------------------------------------------------------------- TReadConnection

void TReadConnection::Allow(const QString& path) {
    const std::lock_guard<std::mutex> lock(use_);
    path_ = path;
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
            connection_.Open(path_, DatabaseKey, true);
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
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql);
    }
}

// ---------------------------------------------------------------- TLogMover

bool TLogMover::Start(const QString& path) {
    if (running_)
        return true;
    Wait();
    running_ = true;
    movedAll_ = false;
    try {
        thread_ = std::thread([this, path] {
            try {
                TConnection mover;
                mover.Open(path, DatabaseKey);
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
        connection_.Open(main_->Path(), DatabaseKey);
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
    if (InTransaction())
        sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TSideWriter::Shut() {
    WaitCommitted();
    if (connection_.IsOpen())
        CountChanges();
    connection_.Close(); // an open transaction is rolled back
}

// ---------------------------------------------------------------- TDbAccess

TDbAccess::~TDbAccess() {
    try {
        Disconnect();
    } catch (...) {
    }
}

QString TDbAccess::DatabasePath() {
    return AppDir() + DatabaseFileName;
}

void TDbAccess::Connect() {
    const QString path = DatabasePath();
    try {
        if (!QFileInfo::exists(path))
            CreateDatabase(path, DatabaseKey);
        OpenData();
    } catch (const ESchemaUpgradeError& e) {
        Connection.Close();
        ShowErrorDetail(UpgradeFailedText, What(e), QString());
        QCoreApplication::quit();
    } catch (const std::exception& e) {
        Connection.Close();
        ShowErrorDetail(QStringLiteral("数据库连接失败！"),
                        ReadableDbError(EngineCodeOf(e), What(e)), QString());
        QCoreApplication::quit();
    }
}

void TDbAccess::Disconnect() {
    Reader.Shut();
    SideWriter.Shut();
    idleCheckpoint_.stop();
    logMover_.Wait();
    movedAtChanges_ = -1; // the next connection counts its changes afresh
    MainCursor.Close();
    SideCursor.Close();
    ScalarCursor.Close();
    Connection.Close();
}

void TDbAccess::EnsureOpen() {
    if (!Connection.IsOpen())
        OpenData();
}

void TDbAccess::OpenCursor(TCursor& cursor, const QString& sql, bool editable) {
    cursor.Close();
    try {
        EnsureOpen();
        cursor.Open(Connection, sql, editable);
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql,
                           EngineCodeOf(e));
    }
}

TRows TDbAccess::ReadTexts(const QString& sql) {
    MainCursor.Close();
    try {
        EnsureOpen();
        const TStatementClock clock;
        Statement stmt = Prepare(Connection.Handle(), sql);
        const TRowView row(stmt.get());
        TRows rows;
        for (;;) {
            const int rc = sqlite3_step(stmt.get());
            if (rc == SQLITE_DONE)
                return rows;
            if (rc != SQLITE_ROW)
                throw EEngineError(sqlite3_errmsg(Connection.Handle()));
            rows << row.Texts();
        }
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql);
    }
}

void TDbAccess::OpenQuery(const QString& sql) {
    OpenCursor(MainCursor, sql, true);
}

void TDbAccess::OpenSideQuery(const QString& sql) {
    OpenCursor(SideCursor, sql, false);
}

int TDbAccess::QueryInteger(const QString& sql) {
    OpenCursor(ScalarCursor, sql, false);
    qint64 value = 0;
    try {
        if (!ScalarCursor.Eof())
            value = ScalarCursor.AsInteger(0);
    } catch (const std::exception& e) {
        ScalarCursor.Close();
        throw EDBException(What(e), QStringLiteral("数据库查询错误，请检查！"), sql,
                           EngineCodeOf(e));
    }
    ScalarCursor.Close();
    return static_cast<int>(value);
}

void TDbAccess::PostMainCursor() {
    try {
        MainCursor.Post();
    } catch (const std::exception& e) {
        MainCursor.Cancel();
        throw EDBException(What(e), QStringLiteral("数据库操作失败！"), MainCursor.PostSql(),
                           EngineCodeOf(e));
    }
}

void TDbAccess::ExecuteBatch(const QString& text) {
    try {
        TTransaction transaction(Connection);
        for (const QString& piece : SplitBatch(text))
            if (!IsBlank(piece))
                Connection.Exec(piece);
        transaction.Commit();
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库操作失败！"), text, EngineCodeOf(e));
    }
}

TDbAccess::TDbAccess() {
    SideWriter.main_ = &Connection;
    SideWriter.afterCommit_ = [this](int frames) { LogGrew(frames); };
    idleCheckpoint_.setSingleShot(true);
    QObject::connect(&idleCheckpoint_, &QTimer::timeout, [this] { WritingPaused(); });
}

void TDbAccess::WritingPaused() {
    if (logMover_.Running()) {
        idleCheckpoint_.start(MoverPollMs);
        return;
    }
    if (movedAtChanges_ != Changes()) {
        // The pages go into the file on the mover's thread: its sync may wait for the disk as
        // long as it likes without holding the interface.
        movedAtChanges_ = Changes();
        if (logMover_.Start(Connection.Path())) {
            idleCheckpoint_.start(MoverPollMs);
            return;
        }
        movedAtChanges_ = -1;
    } else if (!logMover_.MovedAll()) {
        return; // a read still needed some pages; the next pause moves them
    }
    // Nothing is left to copy or sync, so emptying the log costs this thread only the cut of
    // the file; a long one is not cut here (that alone takes over 10 ms) but reused from its
    // start by the next commit, and removed at close. Emptying waits for a read in progress.
    if (QFileInfo(Connection.Path() + QStringLiteral("-wal")).size() > ShortLogBytes)
        return;
    if (Reader.Reading() || SideWriter.Committing()) {
        idleCheckpoint_.start(MoverPollMs);
        return;
    }
    try {
        Connection.Checkpoint();
    } catch (...) {
        // Tried again after the next write; the log keeps every commit meanwhile.
    }
}

void TDbAccess::LogGrew(int frames) {
    if (frames < MaxLogFrames) {
        idleCheckpoint_.start(IdleCheckpointMs);
        return;
    }
    // Inside the commit hook: no exceptions may leave, and a failure is retried next time.
    if (!logMover_.Start(Connection.Path()))
        sqlite3_wal_checkpoint_v2(Connection.Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                  nullptr);
}

void TDbAccess::OpenData() {
    Connection.Open(DatabasePath(), DatabaseKey);
    try {
        // Only a file that is ours is tuned: switching the journal writes its header.
        CheckSchema(Connection);
        UpgradeSchema(Connection);
        Connection.UseWriteAheadLog();
        Connection.OnCommit([this](int frames) { LogGrew(frames); });
    } catch (...) {
        Connection.Close();
        throw;
    }
    Reader.Allow(Connection.Path());
}

void TDbAccess::BackupTo(const QString& path) {
    try {
        EnsureOpen();
        CopyThroughEngine(Connection, path);
    } catch (const std::exception& e) {
        throw EDBException(What(e), QStringLiteral("数据库备份失败！"), QString(), EngineCodeOf(e));
    }
}

void TDbAccess::RestoreFrom(const QString& path, const QString& safetyCopy) {
    const QString failed = QStringLiteral("数据库恢复失败！");
    const QString data = DatabasePath();
    // The chosen file is read through the engine (read-only) and staged beside the data: it
    // must open with our key and hold our tables before anything is written, the safety copy
    // included, so choosing the safety copy itself undoes the last restore.
    const QString staged = data + QStringLiteral(".restore");
    try {
        RemoveWithJournal(staged);
        TConnection source;
        source.Open(path, DatabaseKey, true);
        CheckSchema(source);
        CopyThroughEngine(source, staged);
    } catch (const std::exception& e) {
        RemoveWithJournal(staged);
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
    if (!safetyCopy.isEmpty()) {
        try {
            BackupTo(safetyCopy);
        } catch (...) {
            RemoveWithJournal(staged);
            throw;
        }
    }
    const bool wasOpen = Connection.IsOpen();
    try {
        logMover_.Wait();
        Connection.Checkpoint();
        Disconnect();
        // A log left behind would be replayed into the restored file.
        if (QFile::exists(data + QStringLiteral("-wal")))
            throw EEngineError("the data file's log could not be emptied");
        QFile::remove(data + QStringLiteral("-shm"));
        if (std::rename(QFile::encodeName(staged).constData(),
                        QFile::encodeName(data).constData()) != 0)
            throw SystemError(errno);
    } catch (const std::exception& e) {
        RemoveWithJournal(staged);
        if (wasOpen && !Connection.IsOpen()) {
            try {
                OpenData(); // the data file is untouched: carry on with it
            } catch (...) {
            }
        }
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
    try {
        OpenData();
    } catch (const std::exception& e) {
        throw EDBException(What(e), failed, QString(), EngineCodeOf(e));
    }
}

// ---------------------------------------------------------------- forwarding routines

void ExecSql(const QString& text) {
    DbAccess->ExecuteBatch(text);
}

int GetIntValue(const QString& sql) {
    return DbAccess->QueryInteger(sql);
}

TRows ReadRows(const QString& sql) {
    return DbAccess->ReadTexts(sql);
}

void BackupData(const QString& path) {
    DbAccess->BackupTo(path);
}

void RestoreData(const QString& path, const QString& safetyCopy) {
    DbAccess->RestoreFrom(path, safetyCopy);
}
