#include "UntCursor.h"

#include "UntConnection.h"
#include "UntSqlEngine.h"
#include "UntStatement.h"

#include <QRegularExpression>
#include <sqlite3.h>

namespace {

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

} // namespace

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
