#include "UntRecycleBin.h"

#include "UntConnection.h"
#include "UntCursor.h"
#include "UntSqlText.h"

#include <QJsonDocument>
#include <sqlite3.h>

namespace RecycleBin {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString Literal(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Double: {
        const double d = value.toDouble();
        const qint64 n = qint64(d);
        return double(n) == d ? SqlNum(n) : QString::number(d, 'g', 17);
    }
    default:
        return FormatSql(QStringLiteral("'%s'"), {value.toVariant().toString()});
    }
}

} // namespace

QJsonArray Rows(TConnection& connection, const QString& select) {
    QJsonArray rows;
    TCursor c;
    c.Open(connection, select);
    for (c.First(); !c.Eof(); c.Next()) {
        QJsonObject row;
        for (int i = 0; i < c.FieldCount(); ++i)
            row.insert(c.FieldName(i), QJsonValue::fromVariant(c.Value(i)));
        rows.append(row);
    }
    return rows;
}

QString InsertStatement(TConnection& connection, const QString& table, const QJsonObject& row,
                        const QStringList& skip) {
    // The names come from the engine's own list of the table's columns, never from the row.
    QStringList columns;
    QStringList values;
    TCursor c;
    c.Open(connection, FormatSql(QStringLiteral("PRAGMA table_info('%s')"), {table}));
    for (c.First(); !c.Eof(); c.Next()) {
        const QString name = c.AsString(QStringLiteral("name"));
        if (skip.contains(name, Qt::CaseInsensitive) || !row.contains(name))
            continue;
        columns << name;
        values << Literal(row.value(name));
    }
    if (columns.isEmpty())
        throw EEngineError("nothing to put back into " + table.toStdString());
    return QStringLiteral("insert into %1(%2) values (%3)")
        .arg(table, columns.join(u','), values.join(u','));
}

void Put(TConnection& connection, TKind kind, const QDateTime& deleted, const QString& caption,
         const QString& place, const QStringList& uids, const QJsonObject& data) {
    const QString uidList = uids.isEmpty() ? QString() : u' ' + uids.join(u' ') + u' ';
    connection.Exec(FormatSql(
        QStringLiteral("insert into RecycleBin(Kind,Deleted,Caption,Place,Uids,Data) values "
                       "(%s,'%s','%s','%s','%s','%s')"),
        {SqlNum(kind), deleted.toString(TimeFormat), caption, place, uidList,
         QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact))}));
}

QList<TEntry> List(TConnection& connection) {
    QList<TEntry> entries;
    TCursor c;
    c.Open(connection, QStringLiteral("select ID,Kind,Deleted,Caption,Place from RecycleBin "
                                      "order by Deleted desc, ID desc"));
    for (c.First(); !c.Eof(); c.Next())
        entries.append({c.AsInteger(0), int(c.AsInteger(1)),
                        QDateTime::fromString(c.AsString(2), TimeFormat), c.AsString(3),
                        c.AsString(4)});
    return entries;
}

QJsonObject Data(TConnection& connection, qint64 id, int* kind) {
    TCursor c;
    c.Open(connection,
           FormatSql(QStringLiteral("select Kind,Data from RecycleBin where ID=%s"), {SqlNum(id)}));
    if (c.Eof())
        return {};
    if (kind)
        *kind = int(c.AsInteger(0));
    return QJsonDocument::fromJson(c.AsString(1).toUtf8()).object();
}

void Remove(TConnection& connection, qint64 id) {
    connection.Exec(FormatSql(QStringLiteral("delete from RecycleBin where ID=%s"), {SqlNum(id)}));
}

void Empty(TConnection& connection) {
    connection.Exec(QStringLiteral("delete from RecycleBin"));
}

void Expire(TConnection& connection, const QDateTime& now) {
    connection.Exec(FormatSql(QStringLiteral("delete from RecycleBin where Deleted<'%s'"),
                              {now.addDays(-KeepDays).toString(TimeFormat)}));
}

} // namespace RecycleBin
