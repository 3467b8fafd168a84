#pragma once

#include <QString>
#include <QStringList>
#include <initializer_list>

// The one quoting routine: a value placed into a statement text gets its single quotes
// doubled, so it is stored unchanged and can never change the statement around it.
QString QuoteSql(const QString& value);

// Fills each "%s" of pattern, in order, with the next value passed through QuoteSql.
// Numbers are passed as their decimal text (see SqlNum).
QString FormatSql(const QString& pattern, std::initializer_list<QString> values);

inline QString SqlNum(qint64 n) {
    return QString::number(n);
}

// The batch separator between statements handed to ExecSql.
inline const QString BatchSeparator = QStringLiteral("@#@");

// Splits a batch at every separator outside quoted literals; the last piece is kept even
// when empty.
QStringList SplitBatch(const QString& batch);

// Trims blanks and control characters at both ends.
QString TrimBlank(const QString& text);
inline bool IsBlank(const QString& text) {
    return TrimBlank(text).isEmpty();
}
