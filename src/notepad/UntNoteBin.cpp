#include "UntNoteBin.h"

#include "common/UntClock.h"
#include "storage/UException.h"
#include "storage/UntConnection.h"
#include "storage/UntCursor.h"
#include "storage/UntRecycleBin.h"
#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QMap>

namespace {

const QString GroupTable = QStringLiteral("NoteType");
const QString NoteTable = QStringLiteral("NoteBook");
const QString GroupsKey = QStringLiteral("NoteType");
const QString NotesKey = QStringLiteral("NoteBook");
const QString ParentKey = QStringLiteral("ParentUid");

qint64 Number(TConnection& connection, const QString& sql) {
    TCursor c;
    c.Open(connection, sql);
    return c.Eof() ? 0 : c.AsInteger(0);
}

QString IndexList(const QList<qint64>& indexes) {
    QStringList texts;
    for (qint64 i : indexes)
        texts << SqlNum(i);
    return texts.join(u',');
}

// '根目录->A' for the group A under the root.
QString PositionOf(TConnection& connection, qint64 index) {
    QString text = QStringLiteral("根目录");
    QStringList names;
    for (int guard = 0; index != 0 && guard < 10000; ++guard) {
        TCursor c;
        c.Open(connection, FormatSql(QStringLiteral("select TypeName,ParentIndex from NoteType "
                                                    "where SelfIndex=%s limit 1"),
                                     {SqlNum(index)}));
        if (c.Eof())
            break;
        names.prepend(c.AsString(0));
        index = c.AsInteger(1) == index ? 0 : c.AsInteger(1);
    }
    for (const QString& name : names)
        text += QStringLiteral("->") + name;
    return text;
}

} // namespace

void PutGroupInBin(TConnection& connection, int selfIndex) {
    if (selfIndex == 0)
        return;
    // The subtree, parents before their children.
    QList<qint64> subtree{selfIndex};
    for (qsizetype at = 0; at < subtree.size(); ++at) {
        TCursor c;
        c.Open(connection, FormatSql(QStringLiteral("select SelfIndex from NoteType where "
                                                    "ParentIndex=%s and SelfIndex<>0"),
                                     {SqlNum(subtree.at(at))}));
        for (c.First(); !c.Eof(); c.Next())
            if (!subtree.contains(c.AsInteger(0)))
                subtree.append(c.AsInteger(0));
    }
    QJsonArray groups;
    QStringList uids;
    for (qint64 index : subtree)
        for (const QJsonValue& row : RecycleBin::Rows(
                 connection, FormatSql(QStringLiteral("select * from NoteType where SelfIndex=%s"),
                                       {SqlNum(index)}))) {
            groups.append(row);
            uids << row.toObject().value(QStringLiteral("Uid")).toString();
        }
    if (groups.isEmpty())
        return;
    const QJsonObject top = groups.first().toObject();
    const qint64 parent = top.value(QStringLiteral("ParentIndex")).toInteger();
    QString parentUid = RootGroupUid;
    if (parent != 0) {
        TCursor c;
        c.Open(connection, FormatSql(QStringLiteral("select Uid from NoteType where SelfIndex=%s"),
                                     {SqlNum(parent)}));
        if (!c.Eof())
            parentUid = c.AsString(0);
    }
    const QString list = IndexList(subtree);
    QJsonObject data{
        {GroupsKey, groups},
        {NotesKey, RecycleBin::Rows(connection, QStringLiteral("select * from NoteBook where "
                                                               "TypeID in (%1)")
                                                    .arg(list))},
        {ParentKey, parentUid}};
    RecycleBin::Put(connection, RecycleBin::bkGroup, Clock::Now(),
                    top.value(QStringLiteral("TypeName")).toString(),
                    PositionOf(connection, parent), uids, data);
    connection.Exec(QStringLiteral("delete from NoteBook where TypeID in (%1)").arg(list));
    connection.Exec(QStringLiteral("delete from NoteType where SelfIndex in (%1)").arg(list));
}

int RestoreGroup(TConnection& connection, long long entry) {
    const QJsonObject data = RecycleBin::Data(connection, entry);
    const QJsonArray groups = data.value(GroupsKey).toArray();
    if (groups.isEmpty())
        throw EAppError(QStringLiteral("回收站里已没有这个分组。"));
    qint64 parent = 0;
    const QString parentUid = data.value(ParentKey).toString();
    if (parentUid != RootGroupUid && !parentUid.isEmpty())
        parent = Number(connection,
                        FormatSql(QStringLiteral("select SelfIndex from NoteType where Uid='%s' "
                                                 "and SelfIndex<>0 limit 1"),
                                  {parentUid}));
    QMap<qint64, qint64> renumbered;
    for (const QJsonValue& value : groups) {
        QJsonObject row = value.toObject();
        const qint64 old = row.value(QStringLiteral("SelfIndex")).toInteger();
        const qint64 next =
            Number(connection, QStringLiteral("select coalesce(max(SelfIndex),0)+1 from NoteType"));
        renumbered.insert(old, next);
        row.insert(QStringLiteral("SelfIndex"), next);
        row.insert(QStringLiteral("ParentIndex"),
                   renumbered.value(row.value(QStringLiteral("ParentIndex")).toInteger(), parent));
        QStringList skip;
        if (Number(connection, FormatSql(QStringLiteral("select count(*) from NoteType where "
                                                        "Uid='%s'"),
                                         {row.value(QStringLiteral("Uid")).toString()})) > 0)
            skip << QStringLiteral("Uid");
        connection.Exec(RecycleBin::InsertStatement(connection, GroupTable, row, skip));
    }
    for (const QJsonValue& value : data.value(NotesKey).toArray()) {
        QJsonObject row = value.toObject();
        const qint64 group = renumbered.value(row.value(QStringLiteral("TypeID")).toInteger(), -1);
        if (group < 0)
            continue;
        row.insert(QStringLiteral("TypeID"), group);
        connection.Exec(RecycleBin::InsertStatement(connection, NoteTable, row));
    }
    RecycleBin::Remove(connection, entry);
    return int(
        renumbered.value(groups.first().toObject().value(QStringLiteral("SelfIndex")).toInteger()));
}
