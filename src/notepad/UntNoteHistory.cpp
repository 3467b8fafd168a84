#include "UntNoteHistory.h"

#include "common/UntPacked.h"
#include "storage/UntConnection.h"
#include "storage/UntCursor.h"
#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QSet>
#include <algorithm>

namespace NoteHistory {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
// Texts a reader keeps unpacked: enough for reading down a list, little for megabyte notes.
constexpr size_t HeldTexts = 4;

QString TimeText(const QDateTime& t) {
    return t.isValid() ? t.toString(TimeFormat) : QString();
}

QDateTime TimeOf(const QString& text) {
    return QDateTime::fromString(text, TimeFormat);
}

QString Hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

qint64 Number(TConnection& connection, const QString& sql) {
    TCursor c;
    c.Open(connection, sql);
    return c.Eof() ? 0 : c.AsInteger(0);
}

QByteArray DataOf(TConnection& connection, qint64 id) {
    TCursor c;
    c.Open(connection,
           FormatSql(QStringLiteral("select Data from NoteVersion where ID=%s"), {SqlNum(id)}));
    return c.Eof() ? QByteArray() : c.Value(0).toByteArray();
}

void Repack(TConnection& connection, qint64 id, const QByteArray& text, qint64 base,
            const QByteArray& baseText) {
    const QByteArray data = base != 0 ? PackAgainst(text, baseText) : Pack(text);
    connection.Exec(
        FormatSql(QStringLiteral("update NoteVersion set Base=%s,Data=X'%s' where ID=%s"),
                  {SqlNum(base), Hex(data), SqlNum(id)}));
}

struct TRow {
    qint64 ID;
    QDateTime Taken;
    QDateTime Since; // invalid: not known
    bool Keep = true;
};

// Which of one group's versions (oldest first) the keeping rules drop as of now.
void Judge(std::vector<TRow>& rows, const QDateTime& now) {
    QSet<QDate> dailyKept;
    for (size_t i = rows.size(); i-- > 0;) {
        TRow& row = rows[i];
        const qint64 age = row.Taken.secsTo(now);
        if (age <= qint64(KeepAllDays) * 86400)
            continue;
        if (age > qint64(KeepDailyDays) * 86400) {
            row.Keep = false;
        } else if (age > qint64(KeepStoodDays) * 86400) {
            // The newest of each day: rows are read from the newest down.
            row.Keep = !dailyKept.contains(row.Taken.date());
            dailyKept.insert(row.Taken.date());
        } else if (i + 1 < rows.size() && row.Since.isValid()) {
            // Its text was gone by the time the next one was taken.
            row.Keep = row.Since.secsTo(rows[i + 1].Taken) >= qint64(StoodMinutes) * 60;
        }
    }
}

} // namespace

QString GroupUid(TConnection& connection, int selfIndex) {
    if (selfIndex == 0)
        return RootGroupUid;
    TCursor c;
    c.Open(connection, FormatSql(QStringLiteral("select Uid from NoteType where SelfIndex=%s "
                                                "limit 1"),
                                 {SqlNum(selfIndex)}));
    return c.Eof() ? QString() : c.AsString(0);
}

bool Keep(TConnection& connection, const QString& uid, const QString& text, const QDateTime& taken,
          const QDateTime& since) {
    if (uid.isEmpty() || text.isEmpty())
        return false; // an empty note has nothing to give back
    TSavepoint whole(connection);
    const QByteArray bytes = text.toUtf8();
    const qint64 newest = Number(
        connection,
        FormatSql(QStringLiteral("select max(ID) from NoteVersion where GroupUid='%s'"), {uid}));
    QByteArray newestText;
    if (newest != 0) {
        const std::optional<QByteArray> unpacked = Unpack(DataOf(connection, newest));
        if (unpacked && *unpacked == bytes)
            return false;
        if (unpacked)
            newestText = *unpacked;
    }
    connection.Exec(
        FormatSql(QStringLiteral("insert into NoteVersion(GroupUid,Taken,Since,Chars,"
                                 "Base,Data) values ('%s','%s','%s',%s,0,X'%s')"),
                  {uid, TimeText(taken), TimeText(since), SqlNum(text.size()), Hex(Pack(bytes))}));
    const qint64 added = Number(connection, QStringLiteral("select last_insert_rowid()"));
    // A damaged newest version stays as it is rather than be packed against something else.
    if (newest != 0 && !newestText.isNull())
        Repack(connection, newest, newestText, added, bytes);
    whole.Release();
    return true;
}

QList<TVersion> List(TConnection& connection, const QString& uid) {
    QList<TVersion> versions;
    TCursor c;
    c.Open(connection, FormatSql(QStringLiteral("select ID,Taken,Chars from NoteVersion where "
                                                "GroupUid='%s' order by ID desc"),
                                 {uid}));
    for (c.First(); !c.Eof(); c.Next())
        versions.append({c.AsInteger(0), TimeOf(c.AsString(1)), int(c.AsInteger(2))});
    return versions;
}

void Thin(TConnection& connection, const QDateTime& now) {
    TSavepoint whole(connection);
    // Versions of groups that are neither stored nor in the recycle bin.
    connection.Exec(FormatSql(
        QStringLiteral("delete from NoteVersion where GroupUid<>'%s' and GroupUid not in (select "
                       "Uid from NoteType where Uid is not null) and not exists (select 1 from "
                       "RecycleBin where instr(Uids,' '||NoteVersion.GroupUid||' ')>0)"),
        {RootGroupUid}));
    QStringList uids;
    {
        TCursor c;
        c.Open(connection,
               FormatSql(QStringLiteral("select distinct GroupUid from NoteVersion where "
                                        "Taken<'%s'"),
                         {TimeText(now.addDays(-KeepAllDays))}));
        for (c.First(); !c.Eof(); c.Next())
            uids << c.AsString(0);
    }
    for (const QString& uid : uids) {
        std::vector<TRow> rows;
        {
            TCursor c;
            c.Open(connection, FormatSql(QStringLiteral("select ID,Taken,Since from NoteVersion "
                                                        "where GroupUid='%s' order by ID"),
                                         {uid}));
            for (c.First(); !c.Eof(); c.Next())
                rows.push_back({c.AsInteger(0), TimeOf(c.AsString(1)), TimeOf(c.AsString(2))});
        }
        Judge(rows, now);
        if (std::all_of(rows.begin(), rows.end(), [](const TRow& r) { return r.Keep; }))
            continue;
        // From the newest down: each kept version whose newer neighbour goes is packed
        // against the next newer one that stays (alone when none does).
        TReader reader(connection, uid);
        qint64 newerKept = 0;
        QByteArray newerText;
        bool newerGone = false;
        std::vector<std::pair<qint64, QByteArray>> repacks; // id, its text
        std::vector<qint64> gone;
        for (size_t i = rows.size(); i-- > 0;) {
            const TRow& row = rows[i];
            if (!row.Keep) {
                gone.push_back(row.ID);
                newerGone = true;
                continue;
            }
            const QByteArray text = reader.Bytes(row.ID);
            if (newerGone)
                Repack(connection, row.ID, text, newerKept, newerText);
            newerKept = row.ID;
            newerText = text;
            newerGone = false;
        }
        for (qint64 id : gone)
            connection.Exec(
                FormatSql(QStringLiteral("delete from NoteVersion where ID=%s"), {SqlNum(id)}));
    }
    whole.Release();
}

TReader::TReader(TConnection& connection, const QString& uid) : connection_(connection) {
    TCursor c;
    c.Open(connection, FormatSql(QStringLiteral("select ID from NoteVersion where GroupUid='%s' "
                                                "order by ID desc"),
                                 {uid}));
    for (c.First(); !c.Eof(); c.Next())
        ids_.append(c.AsInteger(0));
}

QString TReader::Text(qint64 id) {
    return QString::fromUtf8(Bytes(id));
}

QByteArray TReader::Bytes(qint64 id) {
    if (auto it = held_.find(id); it != held_.end())
        return it->second;
    const qsizetype at = ids_.indexOf(id);
    if (at < 0)
        throw EEngineError("no such version of this note");
    // The nearest newer text held, or the newest, which is stored whole.
    qsizetype from = at;
    while (from > 0 && !held_.count(ids_.at(from)))
        --from;
    QByteArray text;
    if (auto it = held_.find(ids_.at(from)); it != held_.end()) {
        text = it->second;
    } else {
        const std::optional<QByteArray> whole = Unpack(DataOf(connection_, ids_.at(from)));
        if (!whole)
            throw EEngineError("a version of this note is damaged");
        text = *whole;
    }
    for (qsizetype i = from + 1; i <= at; ++i) {
        const std::optional<QByteArray> older = Unpack(DataOf(connection_, ids_.at(i)), text);
        if (!older)
            throw EEngineError("a version of this note is damaged");
        text = *older;
    }
    // Reading goes down the list: the newest held (the largest id) is the one least needed.
    while (held_.size() >= HeldTexts)
        held_.erase(std::prev(held_.end()));
    held_.emplace(id, text);
    return text;
}

} // namespace NoteHistory
