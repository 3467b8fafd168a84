#include "UntAlamBin.h"

#include "UntAlam.h"
#include "common/UntClock.h"
#include "storage/UException.h"
#include "storage/UntConnection.h"
#include "storage/UntCursor.h"
#include "storage/UntRecycleBin.h"
#include "storage/UntSqlText.h"

void PutReminderInBin(TConnection& connection, const QString& id) {
    const QJsonArray rows = RecycleBin::Rows(
        connection, FormatSql(QStringLiteral("select * from Alam where ID=%s"), {id}));
    if (rows.isEmpty())
        return;
    TCursor place;
    place.Open(connection, FormatSql(QStringLiteral("select ") + AlamTimeTextSql +
                                         QStringLiteral(" from Alam where ID=%s"),
                                     {id}));
    const QJsonObject row = rows.first().toObject();
    RecycleBin::Put(connection, RecycleBin::bkReminder, Clock::Now(),
                    row.value(QStringLiteral("ReMark")).toString(),
                    place.Eof() ? QString() : place.AsString(0), {},
                    {{QStringLiteral("Alam"), rows}});
}

qint64 RestoreReminder(TConnection& connection, qint64 entry) {
    const QJsonArray rows =
        RecycleBin::Data(connection, entry).value(QStringLiteral("Alam")).toArray();
    if (rows.isEmpty())
        throw EAppError(QStringLiteral("回收站里已没有这条提醒。"));
    QJsonObject row = rows.first().toObject();
    QStringList skip{QStringLiteral("ID")};
    TCursor taken;
    taken.Open(connection, FormatSql(QStringLiteral("select count(*) from Alam where Uid='%s'"),
                                     {row.value(QStringLiteral("Uid")).toString()}));
    if (taken.AsInteger(0) > 0)
        skip << QStringLiteral("Uid");
    connection.Exec(RecycleBin::InsertStatement(connection, QStringLiteral("Alam"), row, skip));
    TCursor added;
    added.Open(connection, QStringLiteral("select last_insert_rowid()"));
    RecycleBin::Remove(connection, entry);
    return added.AsInteger(0);
}
