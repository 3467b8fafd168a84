#include "UntSyncStore.h"
#include "common/UntClock.h"
#include "notepad/UntNoteBin.h"
#include "notepad/UntNoteHistory.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamBin.h"

#include "storage/UntDbAccess.h"
#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QCryptographicHash>
#include <QUuid>

namespace {

// Length-prefixed so that no text can imitate a field boundary.
void AddField(QCryptographicHash& h, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    h.addData(QByteArray::number(utf8.size()) + ':');
    h.addData(utf8);
}

QString Number(qint64 n) {
    return SqlNum(n);
}

} // namespace

// ---------------------------------------------------------------- settings

void TSyncSettings::Load(TDbAccess& db) {
    TCursor c;
    c.Open(db.Connection, QStringLiteral("select * from SyncSet"));
    if (c.Eof())
        return;
    Enabled = c.AsBoolean(QStringLiteral("bEnabled"));
    ServerUrl = c.AsString(QStringLiteral("ServerUrl"));
    UserName = c.AsString(QStringLiteral("UserName"));
    PassWord = c.AsString(QStringLiteral("PassWord"));
    InKeyring = c.AsBoolean(QStringLiteral("bKeyring"));
    Interval = static_cast<int>(c.AsInteger(QStringLiteral("iInterval")));
    PlainHttp = c.AsBoolean(QStringLiteral("bPlainHttp"));
    LastSync = c.AsString(QStringLiteral("LastSync"));
}

void TSyncSettings::Save(TDbAccess& db) const {
    TTransaction tx(db.Connection);
    db.Connection.Exec(FormatSql(
        QStringLiteral("update SyncSet set bEnabled=%s,ServerUrl='%s',UserName='%s',"
                       "PassWord='%s',bKeyring=%s,iInterval=%s,bPlainHttp=%s,LastSync='%s'"),
        {Number(Enabled), ServerUrl, UserName, InKeyring ? QString() : PassWord, Number(InKeyring),
         Number(Interval), Number(PlainHttp), LastSync}));
    tx.Commit();
}

// ---------------------------------------------------------------- content

QString TSyncReminder::Hash() const {
    QCryptographicHash h(QCryptographicHash::Sha1);
    for (int n : {ReDay, iHour, iMinute, iMonWeek, AheadDays, int(bLook)})
        AddField(h, QString::number(n));
    AddField(h, AlamDate.toString(Qt::ISODate));
    AddField(h, ReMark);
    // Only when set, so the reminders agreed on before the option existed keep their hash.
    if (CanSkipHolidays(ReDay) && SkipHolidays)
        AddField(h, QStringLiteral("SkipHolidays"));
    return QString::fromLatin1(h.result().toHex());
}

QString TSyncGroup::Hash() const {
    QCryptographicHash h(QCryptographicHash::Sha1);
    AddField(h, Name);
    AddField(h, ParentUid);
    AddField(h, Note);
    return QString::fromLatin1(h.result().toHex());
}

QString TSyncStore::NewUid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

TConnection& TSyncStore::Conn() {
    return db_.SideWriter.Connection();
}

void TSyncStore::Exec(const QString& sql) {
    Conn().Exec(sql);
}

void TSyncStore::Begin() {
    db_.SideWriter.Begin();
    inTransaction_ = true;
}

void TSyncStore::CommitInBackground(std::function<void(const QString& error)> done) {
    inTransaction_ = false;
    db_.SideWriter.CommitInBackground(std::move(done));
}

bool TSyncStore::Committing() const {
    return db_.SideWriter.Committing();
}

bool TSyncStore::WritingAside() const {
    return db_.WritingAside();
}

void TSyncStore::SaveCopy(int coll, const QString& uid, const QByteArray& data) {
    if (data.isEmpty())
        Exec(FormatSql(QStringLiteral("delete from SyncCopy where Coll=%s and Uid='%s'"),
                       {Number(coll), uid}));
    else
        Exec(FormatSql(QStringLiteral("insert or replace into SyncCopy(Coll,Uid,Data) values "
                                      "(%s,'%s','%s')"),
                       {Number(coll), uid, QString::fromUtf8(data)}));
}

QByteArray TSyncStore::Copy(int coll, const QString& uid) {
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select Data from SyncCopy where Coll=%s and Uid='%s'"),
                             {Number(coll), uid}));
    return c.Eof() ? QByteArray() : c.AsString(0).toUtf8();
}

void TSyncStore::ForgetCollection(int coll) {
    const QString c = Number(coll);
    Exec(FormatSql(QStringLiteral("delete from SyncItem where Coll=%s"), {c}));
    Exec(FormatSql(QStringLiteral("delete from SyncCopy where Coll=%s"), {c}));
    Exec(FormatSql(QStringLiteral("update SyncColl set Href='',SyncToken='',CTag='' where Coll=%s"),
                   {c}));
    if (coll == scReminders)
        Exec(QStringLiteral("insert or ignore into SyncPending(Coll,Uid) select 0,Uid from Alam"));
    else
        Exec(QStringLiteral("insert or ignore into SyncPending(Coll,Uid) select 1,Uid from "
                            "NoteType where SelfIndex<>0 union all select 1,'quillet-notes-root'"));
}

void TSyncStore::Rollback() {
    inTransaction_ = false;
    db_.SideWriter.Rollback();
}

// ---------------------------------------------------------------- reminders

std::optional<TSyncReminder> TSyncStore::Reminder(const QString& uid) {
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select * from Alam where Uid='%s' limit 1"), {uid}));
    if (c.Eof())
        return std::nullopt;
    TSyncReminder r;
    static_cast<TAlamRecord&>(r) = AlamRecordAt(c);
    r.ID = 0; // this file's own row number does not travel
    r.Uid = uid;
    return r;
}

void TSyncStore::PutReminder(const TSyncReminder& r) {
    const QString date = r.AlamDate.toString(Qt::ISODate);
    const QString skip = Number(CanSkipHolidays(r.ReDay) && r.SkipHolidays ? 1 : 0);
    // Both statements take the values in the same order.
    const QString pattern =
        Reminder(r.Uid) ? QStringLiteral("update Alam set iHour=%s,iMinute=%s,iMonWeek=%s,ReDay=%s,"
                                         "AheadDays=%s,AlamDate='%s',ReMark='%s',bLook=%s,"
                                         "SkipHolidays=%s where Uid='%s'")
                        : QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AheadDays,"
                                         "AlamDate,ReMark,bLook,SkipHolidays,Uid) values(%s,%s,%s,"
                                         "%s,%s,'%s','%s',%s,%s,'%s')");
    Exec(FormatSql(pattern,
                   {Number(r.iHour), Number(r.iMinute), Number(r.iMonWeek), Number(r.ReDay),
                    Number(r.AheadDays), date, r.ReMark, Number(r.bLook ? 1 : 0), skip, r.Uid}));
}

void TSyncStore::DeleteReminder(const QString& uid) {
    // Deleted on another machine: kept in this one's recycle bin all the same.
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select ID from Alam where Uid='%s'"), {uid}));
    for (c.First(); !c.Eof(); c.Next())
        PutReminderInBin(Conn(), c.AsString(0));
    Exec(FormatSql(QStringLiteral("delete from Alam where Uid='%s'"), {uid}));
}

// ---------------------------------------------------------------- groups

std::optional<TSyncGroup> TSyncStore::Group(const QString& uid) {
    TSyncGroup g;
    g.Uid = uid;
    qint64 self = 0;
    if (uid == RootGroupUid) {
        g.Name = QStringLiteral("根目录");
    } else {
        TCursor c;
        c.Open(Conn(),
               FormatSql(QStringLiteral("select t.SelfIndex, t.TypeName, p.Uid from NoteType t "
                                        "left join NoteType p on p.SelfIndex=t.ParentIndex and "
                                        "p.SelfIndex<>0 where t.Uid='%s' and t.SelfIndex<>0 "
                                        "limit 1"),
                         {uid}));
        if (c.Eof())
            return std::nullopt;
        self = c.AsInteger(0);
        g.Name = c.AsString(1);
        g.ParentUid = c.Value(2).isNull() ? RootGroupUid : c.AsString(2);
    }
    TCursor note;
    note.Open(Conn(),
              FormatSql(QStringLiteral("select ReMark from NoteBook where TypeID=%s limit 1"),
                        {Number(self)}));
    if (!note.Eof())
        g.Note = note.AsString(0);
    return g;
}

namespace {

qint64 SelfIndexOf(TConnection& connection, const QString& uid) {
    if (uid.isEmpty() || uid == RootGroupUid)
        return 0;
    TCursor c;
    c.Open(connection, FormatSql(QStringLiteral("select SelfIndex from NoteType where Uid='%s' "
                                                "and SelfIndex<>0 limit 1"),
                                 {uid}));
    return c.Eof() ? -1 : c.AsInteger(0);
}

} // namespace

void TSyncStore::PutGroup(const TSyncGroup& g) {
    qint64 self = SelfIndexOf(Conn(), g.Uid);
    if (g.Uid != RootGroupUid) {
        qint64 parent = SelfIndexOf(Conn(), g.ParentUid);
        if (parent < 0 || parent == self)
            parent = 0;
        if (self < 0) {
            // The index from the file, in the inserting statement, as the tree takes its own.
            Exec(FormatSql(QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName,"
                                          "Uid) select coalesce(max(SelfIndex),0)+1,%s,'%s','%s' "
                                          "from NoteType"),
                           {Number(parent), g.Name, g.Uid}));
            self = SelfIndexOf(Conn(), g.Uid);
        } else {
            Exec(FormatSql(QStringLiteral("update NoteType set ParentIndex=%s,TypeName='%s' "
                                          "where SelfIndex=%s"),
                           {Number(parent), g.Name, Number(self)}));
        }
    }
    TCursor note;
    note.Open(Conn(),
              FormatSql(QStringLiteral("select rowid from NoteBook where TypeID=%s limit 1"),
                        {Number(self)}));
    if (!note.Eof()) {
        // What another machine's text replaces stays among the note's versions.
        TCursor old;
        old.Open(Conn(), FormatSql(QStringLiteral("select ReMark from NoteBook where rowid=%s"),
                                   {Number(note.AsInteger(0))}));
        if (!old.Eof() && old.AsString(0) != g.Note)
            NoteHistory::Keep(Conn(), g.Uid, old.AsString(0), Clock::Now(), QDateTime());
        Exec(FormatSql(QStringLiteral("update NoteBook set ReMark='%s' where rowid=%s"),
                       {g.Note, Number(note.AsInteger(0))}));
    } else if (!g.Note.isEmpty())
        Exec(FormatSql(QStringLiteral("insert into NoteBook(TypeID,ReMark) values (%s,'%s')"),
                       {Number(self), g.Note}));
}

bool TSyncStore::HasGroup(const QString& uid) {
    return SelfIndexOf(Conn(), uid) >= 0;
}

bool TSyncStore::HasChildGroups(const QString& uid) {
    const qint64 self = SelfIndexOf(Conn(), uid);
    if (self < 0)
        return false;
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select count(*) from NoteType where "
                                            "ParentIndex=%s and SelfIndex<>0"),
                             {Number(self)}));
    return c.AsInteger(0) > 0;
}

bool TSyncStore::DeleteGroup(const QString& uid) {
    const qint64 self = SelfIndexOf(Conn(), uid);
    if (self <= 0)
        return self < 0;
    if (HasChildGroups(uid))
        return false;
    // Into this machine's recycle bin too; the note goes first there: its trigger finds the
    // group's UID through the group row.
    PutGroupInBin(Conn(), int(self));
    return true;
}

QString TSyncStore::AddSiblingGroup(const QString& uid, const QString& name, const QString& note) {
    TSyncGroup copy;
    copy.Uid = NewUid();
    copy.Name = name;
    copy.Note = note;
    if (const auto original = Group(uid))
        copy.ParentUid = original->ParentUid.isEmpty() ? RootGroupUid : original->ParentUid;
    PutGroup(copy);
    return copy.Uid;
}

// ---------------------------------------------------------------- sync state

namespace {

TSyncItem ReadItem(const TCursor& c) {
    TSyncItem item;
    item.Uid = c.AsString(QStringLiteral("Uid"));
    item.Href = c.AsString(QStringLiteral("Href"));
    item.ETag = c.AsString(QStringLiteral("ETag"));
    item.Hash = c.AsString(QStringLiteral("Hash"));
    item.Sent = c.AsString(QStringLiteral("Sent"));
    return item;
}

} // namespace

std::optional<TSyncItem> TSyncStore::Item(int coll, const QString& uid) {
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select * from SyncItem where Coll=%s and Uid='%s'"),
                             {Number(coll), uid}));
    if (c.Eof())
        return std::nullopt;
    return ReadItem(c);
}

std::optional<TSyncItem> TSyncStore::ItemByHref(int coll, const QString& href) {
    TCursor c;
    c.Open(Conn(),
           FormatSql(QStringLiteral("select * from SyncItem where Coll=%s and Href='%s' limit 1"),
                     {Number(coll), href}));
    if (c.Eof())
        return std::nullopt;
    return ReadItem(c);
}

QStringList TSyncStore::AgreedHrefs(int coll, const QString& after, int count) {
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select Href from SyncItem where Coll=%s and "
                                            "Href>'%s' and ETag<>'' order by Href limit %s"),
                             {Number(coll), after, Number(count)}));
    QStringList out;
    for (c.First(); !c.Eof(); c.Next())
        out << c.AsString(0);
    return out;
}

void TSyncStore::SaveItem(int coll, const TSyncItem& item) {
    Exec(FormatSql(QStringLiteral("insert or replace into SyncItem(Coll,Uid,Href,ETag,Hash,Sent) "
                                  "values (%s,'%s','%s','%s','%s','%s')"),
                   {Number(coll), item.Uid, item.Href, item.ETag, item.Hash, item.Sent}));
}

void TSyncStore::DropItem(int coll, const QString& uid) {
    Exec(FormatSql(QStringLiteral("delete from SyncItem where Coll=%s and Uid='%s'"),
                   {Number(coll), uid}));
    SaveCopy(coll, uid, QByteArray());
}

std::vector<TSyncPending> TSyncStore::Pending(int coll) {
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select Uid,Changed from SyncPending where Coll=%s"),
                             {Number(coll)}));
    std::vector<TSyncPending> out;
    out.reserve(c.RecordCount());
    for (c.First(); !c.Eof(); c.Next())
        out.push_back({c.AsString(0), c.AsString(1)});
    return out;
}

std::vector<TSyncPending> TSyncStore::Pending(int coll, qint64 after, int count, qint64* last) {
    TCursor c;
    // "+Coll" keeps the key (Coll, Uid) out: through it every page would sort the whole list.
    c.Open(Conn(), FormatSql(QStringLiteral("select rowid,Uid,Changed from SyncPending "
                                            "where +Coll=%s and rowid>%s order by rowid "
                                            "limit %s"),
                             {Number(coll), Number(after), Number(count)}));
    std::vector<TSyncPending> out;
    for (c.First(); !c.Eof(); c.Next()) {
        *last = c.AsInteger(0);
        out.push_back({c.AsString(1), c.AsString(2)});
    }
    return out;
}

QString TSyncStore::PendingMark() {
    TCursor c;
    // Through the interface's own connection: asked between passes, it need not wait for a
    // sync's commit.
    c.Open(db_.Connection,
           QStringLiteral("select max(rowid),count(*),max(Changed) from SyncPending"));
    return c.AsString(0) + '|' + c.AsString(1) + '|' + c.AsString(2);
}

std::optional<TSyncPending> TSyncStore::PendingOf(int coll, const QString& uid) {
    TCursor c;
    c.Open(Conn(), FormatSql(QStringLiteral("select Uid,Changed from SyncPending where "
                                            "Coll=%s and Uid='%s'"),
                             {Number(coll), uid}));
    if (c.Eof())
        return std::nullopt;
    return TSyncPending{c.AsString(0), c.AsString(1)};
}

void TSyncStore::DropPending(int coll, const QString& uid) {
    Exec(FormatSql(QStringLiteral("delete from SyncPending where Coll=%s and Uid='%s'"),
                   {Number(coll), uid}));
}

void TSyncStore::MarkPending(int coll, const QString& uid) {
    Exec(FormatSql(QStringLiteral("insert or ignore into SyncPending(Coll,Uid,Changed) "
                                  "values (%s,'%s','')"),
                   {Number(coll), uid}));
}

TSyncCollState TSyncStore::CollState(int coll) {
    TCursor c;
    c.Open(Conn(),
           FormatSql(QStringLiteral("select * from SyncColl where Coll=%s"), {Number(coll)}));
    TSyncCollState s;
    if (c.Eof())
        return s;
    s.Server = c.AsString(QStringLiteral("Server"));
    s.Href = c.AsString(QStringLiteral("Href"));
    s.SyncReport = c.AsBoolean(QStringLiteral("bSyncReport"));
    s.SyncToken = c.AsString(QStringLiteral("SyncToken"));
    s.CTag = c.AsString(QStringLiteral("CTag"));
    return s;
}

void TSyncStore::SaveCollState(int coll, const TSyncCollState& s) {
    Exec(FormatSql(QStringLiteral("insert or replace into SyncColl(Coll,Server,Href,bSyncReport,"
                                  "SyncToken,CTag) values (%s,'%s','%s',%s,'%s','%s')"),
                   {Number(coll), s.Server, s.Href, Number(s.SyncReport), s.SyncToken, s.CTag}));
}

void TSyncStore::SaveLastSync(const QString& at) {
    Exec(FormatSql(QStringLiteral("update SyncSet set LastSync='%s'"), {at}));
}

void TSyncStore::ResetFor(const QString& server) {
    TCursor agreed;
    agreed.Open(Conn(), QStringLiteral("select count(*) from (select 1 from SyncItem "
                                       "limit 1)"));
    // Nothing was ever agreed on: every row is still marked since the upgrade or its insert.
    const bool fresh = agreed.AsInteger(0) == 0;
    Exec(QStringLiteral("delete from SyncItem"));
    Exec(QStringLiteral("delete from SyncCopy"));
    Exec(QStringLiteral("delete from SyncColl"));
    if (!fresh) {
        Exec(QStringLiteral("insert or ignore into SyncPending(Coll,Uid,Changed) "
                            "select 0,Uid,'' from Alam"));
        Exec(QStringLiteral("insert or ignore into SyncPending(Coll,Uid,Changed) "
                            "select 1,Uid,'' from NoteType where SelfIndex<>0"));
        Exec(FormatSql(QStringLiteral("insert or ignore into SyncPending(Coll,Uid,Changed) "
                                      "values (1,'%s','')"),
                       {RootGroupUid}));
    }
    for (int coll : {scReminders, scNotes}) {
        TSyncCollState s;
        s.Server = server;
        SaveCollState(coll, s);
    }
}
