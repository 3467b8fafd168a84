#pragma once

#include <QString>
#include <QVariant>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

// Statements as the storage units run them: prepared from the program's text (IIf made
// short-circuit), finalised when the handle goes.
struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// Throws EEngineError with the engine's text.
Statement Prepare(sqlite3* db, const QString& sql);
QVariant ColumnValue(sqlite3_stmt* stmt, int c);
void Bind(sqlite3_stmt* stmt, int index, const QVariant& v);
void StepToEnd(sqlite3* db, sqlite3_stmt* stmt);
