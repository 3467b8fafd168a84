#include "UntStatement.h"

#include "UntConnection.h"
#include "UntSqlEngine.h"

#include <sqlite3.h>

void StatementDeleter::operator()(sqlite3_stmt* s) const {
    sqlite3_finalize(s);
}

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
