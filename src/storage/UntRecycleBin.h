#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class TConnection;

// The recycle bin (table RecycleBin): what the user deleted stays here for KeepDays, its rows
// kept as JSON so that it comes back with every column it had.
namespace RecycleBin {

constexpr int KeepDays = 30;

enum TKind { bkReminder = 0, bkGroup = 1 };

struct TEntry {
    qint64 ID = 0;
    int Kind = bkReminder;
    QDateTime Deleted;
    QString Caption; // what it was: the reminder's text, the group's name
    QString Place;   // where it was: the reminder's time, the group's position
};

// The rows a select returns, each an object of column and value.
QJsonArray Rows(TConnection& connection, const QString& select);
// A statement that adds row to table again; only the table's own columns are written and
// those named in skip are left to the table's defaults.
QString InsertStatement(TConnection& connection, const QString& table, const QJsonObject& row,
                        const QStringList& skip = {});

// Puts an entry in the bin; uids names the groups it holds (their note versions stay).
void Put(TConnection& connection, TKind kind, const QDateTime& deleted, const QString& caption,
         const QString& place, const QStringList& uids, const QJsonObject& data);
// Newest first.
QList<TEntry> List(TConnection& connection);
// The entry's rows; empty when it is gone.
QJsonObject Data(TConnection& connection, qint64 id, int* kind = nullptr);
void Remove(TConnection& connection, qint64 id);
void Empty(TConnection& connection);
// Entries deleted more than KeepDays before now go.
void Expire(TConnection& connection, const QDateTime& now);

} // namespace RecycleBin
