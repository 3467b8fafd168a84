#include "SyncTestSupport.h"

#include "notepad/UntNoteHistory.h"
#include "storage/UntSqlText.h"
#include "sync/UntSyncIcs.h"
#include "sync/UntSyncStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>

namespace {

// The texts of the versions a machine keeps of a group's note, newest first.
QStringList VersionTexts(TMachine& m, const QString& group) {
    const QString uid = m.UidOfGroup(group);
    NoteHistory::TReader versions(m.Db().Connection, uid);
    QStringList texts;
    for (const NoteHistory::TVersion& v : NoteHistory::List(m.Db().Connection, uid))
        texts << versions.Text(v.ID);
    return texts;
}

const QString Crlf = QStringLiteral("第一行\r\n第二行 \"引号\" 'single' @#@ 😀\r\n");

class SyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        TRadicale& server = TRadicale::ForTest(server_);
        url_ = server.Url();
        ASSERT_FALSE(url_.isEmpty());
        user_ = server.AddUser();
        a_ = std::make_unique<TMachine>(url_, user_);
        b_ = std::make_unique<TMachine>(url_, user_);
    }
    void TearDown() override {
        a_.reset();
        b_.reset();
        server_.reset();
    }
    void SyncOk(TMachine& m) {
        QString message;
        ASSERT_TRUE(m.Sync(&message)) << message;
    }
    // A, B, A: everything either side changed has reached the other.
    void Converge() {
        SyncOk(*a_);
        SyncOk(*b_);
        SyncOk(*a_);
    }
    void AddReminder(TMachine& m, int kind, int hour, int minute, int monWeek, int ahead,
                     const QString& date, const QString& text, int seen = 0) {
        m.Exec(FormatSql("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AheadDays,AlamDate,"
                         "ReMark,bLook) values(%s,%s,%s,%s,%s,'%s','%s',%s)",
                         {SqlNum(hour), SqlNum(minute), SqlNum(monWeek), SqlNum(kind),
                          SqlNum(ahead), date, text, SqlNum(seen)}));
    }
    void AddGroup(TMachine& m, int self, int parent, const QString& name, const QString& note) {
        m.Exec(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')",
                         {SqlNum(self), SqlNum(parent), name}));
        if (!note.isNull())
            m.Exec(FormatSql("insert into NoteBook(TypeID,ReMark) values (%s,'%s')",
                             {SqlNum(self), note}));
    }
    QString Note(TMachine& m, const QString& groupName) {
        TCursor c;
        c.Open(m.Db().Connection,
               FormatSql("select b.ReMark from NoteBook b join NoteType t on t.SelfIndex=b.TypeID "
                         "where t.TypeName='%s'",
                         {groupName}));
        return c.Eof() ? QString() : c.AsString(0);
    }
    // The one reminder of every kind, three levels of groups, texts that are hard to carry.
    void FillEverything(TMachine& m) {
        AddReminder(m, 0, 9, 5, 1, 0, "2026-12-24", "一次 'quote' @#@ 😀");
        AddReminder(m, 1, 7, 30, 1, 0, "2026-12-01", "每天\r\n两行", 1);
        AddReminder(m, 2, 18, 0, 135, 0, "2026-12-01", "每周一三五");
        AddReminder(m, 3, 8, 0, 31, 0, "2026-12-01", "每月31号");
        AddReminder(m, 4, 10, 0, 1, 3, "2028-02-29", "闰日生日");
        AddReminder(m, 5, 20, 15, 10408, 7, "2026-05-24", "闰四月初八");
        AddGroup(m, 1, 0, "工作", "顶层 \"quotes\"");
        AddGroup(m, 2, 1, "项目 'A' @#@", Crlf);
        AddGroup(m, 3, 2, "细节 😀", "第三层");
        AddGroup(m, 4, 0, "空组", QString());
        m.Exec(FormatSql("insert into NoteBook(TypeID,ReMark) values (0,'%s')", {"根的笔记\r\n"}));
    }

    std::unique_ptr<TRadicale> server_; // a test's own, where the server needs one
    QString url_;
    QString user_;
    std::unique_ptr<TMachine> a_;
    std::unique_ptr<TMachine> b_;
};

// With the sync report, and as with a server that offers only the collection's tag.
class SyncBothWays : public SyncTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SyncBothWays, TwoMachinesCarryEveryKindTheTreeAndTextsByteForByteEditsAndDeletionsBothWays) {
    FillEverything(*a_);
    SyncOk(*a_);
    SyncOk(*b_);
    EXPECT_EQ(b_->Snapshot(), a_->Snapshot());
    EXPECT_EQ(Note(*b_, "项目 'A' @#@"), Crlf);
    EXPECT_EQ(b_->Count("select count(*) from Alam"), 6);
    EXPECT_EQ(b_->Count("select count(*) from NoteType t join NoteType p on "
                        "p.SelfIndex=t.ParentIndex where t.TypeName='细节 😀' and "
                        "p.TypeName='项目 ''A'' @#@'"),
              1);
    if (!GetParam()) {
        a_->Exec("update SyncColl set bSyncReport=0");
        b_->Exec("update SyncColl set bSyncReport=0");
    }

    // Edits and deletions on B go to A ...
    b_->Exec("update Alam set ReMark='改过的每周' where ReMark='每周一三五'");
    b_->Exec("delete from Alam where ReMark='每月31号'");
    b_->Exec("update NoteType set TypeName='工作（改名）' where TypeName='工作'");
    b_->Exec("delete from NoteBook where TypeID=(select SelfIndex from NoteType where "
             "TypeName='空组')");
    b_->Exec("delete from NoteType where TypeName='空组'");
    // ... and those on A go to B, in the same round.
    a_->Exec("update NoteBook set ReMark='A 改的\r\n笔记' where TypeID=(select SelfIndex from "
             "NoteType where TypeName='细节 😀')");
    AddReminder(*a_, 0, 12, 0, 1, 0, "2027-01-01", "A 新加的");
    SyncOk(*b_);
    SyncOk(*a_);
    SyncOk(*b_);
    EXPECT_EQ(a_->Snapshot(), b_->Snapshot());
    EXPECT_EQ(a_->UidOfReminder("每月31号"), QString());
    EXPECT_FALSE(a_->UidOfReminder("改过的每周").isEmpty());
    EXPECT_TRUE(a_->UidOfGroup("空组").isEmpty());
    EXPECT_EQ(Note(*b_, "细节 😀"), "A 改的\r\n笔记");
    EXPECT_EQ(b_->Count("select count(*) from Alam"), 6);
    // Nothing is left to send, and a pass without changes changes nothing.
    EXPECT_EQ(a_->Count("select count(*) from SyncPending"), 0);
    const QStringList before = a_->Snapshot();
    SyncOk(*a_);
    EXPECT_EQ(a_->Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(SyncTest, SyncBothWays, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Report" : "Tags"; });

TEST_F(SyncTest, ReminderChangedOnBothSidesLaterChangeWinsOtherKeptAsConflictCopy) {
    AddReminder(*a_, 1, 8, 0, 1, 0, "2026-12-01", "早");
    AddReminder(*a_, 1, 9, 0, 1, 0, "2026-12-01", "晚");
    Converge();
    const QString early = a_->UidOfReminder("早");
    const QString late = a_->UidOfReminder("晚");
    {
        TPinnedClock clock(At("2026-12-07 10:00:00"));
        a_->Exec(FormatSql("update Alam set ReMark='早-A' where Uid='%s'", {early}));
        b_->Exec(FormatSql("update Alam set ReMark='晚-B' where Uid='%s'", {late}));
        clock.Set(At("2026-12-07 11:00:00"));
        b_->Exec(FormatSql("update Alam set ReMark='早-B' where Uid='%s'", {early}));
        a_->Exec(FormatSql("update Alam set ReMark='晚-A' where Uid='%s'", {late}));
    }
    QSignalSpy kept(&b_->Engine(), &TSyncEngine::ConflictsKept);
    Converge();
    // B's later change wins the first, A's later change the second (which arrives at B as
    // the remote one); the losers stay as copies.
    ASSERT_EQ(kept.count(), 1);
    EXPECT_EQ(kept.first().at(0).toInt(), 2);
    EXPECT_TRUE(b_->Engine().StateText().startsWith("已同步 "));
    EXPECT_TRUE(b_->Engine().StateText().contains("2")) << b_->Engine().StateText();
    EXPECT_EQ(a_->UidOfReminder("早-B"), early);
    EXPECT_EQ(a_->UidOfReminder("晚-A"), late);
    EXPECT_FALSE(a_->UidOfReminder("（冲突）早-A").isEmpty());
    EXPECT_FALSE(a_->UidOfReminder("（冲突）晚-B").isEmpty());
    EXPECT_EQ(a_->Count("select count(*) from Alam"), 4);
    EXPECT_EQ(a_->Snapshot(), b_->Snapshot());
}

// A 法定工作日 reminder and 节假日不提醒 reach the other machine with the schedule's exceptions
// as the mapping's own (no copy of another program's parts is kept), and a change of the
// choice alone travels back.
TEST_F(SyncTest, WorkdayRemindersAndTheHolidaySkipTravelBothWays) {
    TPinnedClock clock(At("2026-01-03 10:00:00")); // the schedule has days to come
    AddReminder(*a_, 6, 9, 0, 1, 0, "2026-01-03", "打卡");
    AddReminder(*a_, 2, 7, 30, 135, 0, "2026-01-03", "吃药");
    a_->Exec("update Alam set SkipHolidays=1 where ReMark='吃药'");
    SyncOk(*a_);
    SyncOk(*b_);
    const QString skips = "select count(*) from Alam where ReMark='吃药' and SkipHolidays=1";
    EXPECT_EQ(b_->Count("select count(*) from Alam where ReMark='打卡' and ReDay=6 and iHour=9"),
              1);
    EXPECT_EQ(b_->Count(skips), 1);
    EXPECT_EQ(b_->Count("select count(*) from SyncCopy"), 0);
    b_->Exec("update Alam set SkipHolidays=0 where ReMark='吃药'");
    SyncOk(*b_);
    SyncOk(*a_);
    EXPECT_EQ(a_->Count(skips), 0);
    EXPECT_EQ(a_->Snapshot(), b_->Snapshot());
}

TEST_F(SyncTest, APassAfterALocalChangeSendsItAndStillKeepsAConflictingOne) {
    AddGroup(*a_, 1, 0, "日记", "原文");
    AddGroup(*a_, 2, 0, "杂项", "原文");
    Converge();
    auto syncChanges = [](TMachine& m) {
        QSignalSpy finished(&m.Engine(), &TSyncEngine::Finished);
        m.Engine().SyncChanges();
        return WaitFor([&] { return finished.count() > 0; }, 60000) &&
               finished.first().at(0).toBool();
    };
    {
        TPinnedClock clock(At("2026-12-07 10:00:00"));
        // Each machine numbers its groups itself: they are found by name.
        const QString note = "update NoteBook set ReMark='%s' where TypeID=(select SelfIndex "
                             "from NoteType where TypeName='%s')";
        a_->Exec(FormatSql(note, {"A 的文字", "日记"}));
        clock.Set(At("2026-12-07 10:05:00"));
        b_->Exec(FormatSql(note, {"B 的文字", "日记"}));
        b_->Exec(FormatSql(note, {"B 的杂项", "杂项"}));
    }
    ASSERT_TRUE(syncChanges(*b_));
    ASSERT_TRUE(syncChanges(*a_)); // refused where B wrote first: a whole round follows
    EXPECT_EQ(Note(*a_, "日记"), "B 的文字");
    EXPECT_EQ(Note(*a_, "日记（冲突副本）"), "A 的文字");
    // What B's text replaced on A is among the note's versions there too.
    EXPECT_TRUE(VersionTexts(*a_, "日记").contains("A 的文字"));
    SyncOk(*b_);
    EXPECT_EQ(a_->Snapshot(), b_->Snapshot());
}

TEST_F(SyncTest, NoteChangedOnBothSidesKeepsBothTextsTheOtherInASiblingCopy) {
    AddGroup(*a_, 1, 0, "上级", "p");
    AddGroup(*a_, 2, 1, "日记", "原文");
    Converge();
    {
        TPinnedClock clock(At("2026-12-07 10:00:00"));
        a_->Exec("update NoteBook set ReMark='A 的文字' where TypeID=2");
        clock.Set(At("2026-12-07 10:05:00"));
        b_->Exec("update NoteBook set ReMark='B 的文字' where TypeID=2");
    }
    Converge();
    EXPECT_EQ(Note(*a_, "日记"), "B 的文字");
    EXPECT_EQ(Note(*a_, "日记（冲突副本）"), "A 的文字");
    // What B's text replaced on A is among the note's versions there too.
    EXPECT_TRUE(VersionTexts(*a_, "日记").contains("A 的文字"));
    EXPECT_EQ(a_->Count("select count(*) from NoteType t join NoteType p on "
                        "p.SelfIndex=t.ParentIndex where t.TypeName='日记（冲突副本）' and "
                        "p.TypeName='上级'"),
              1);
    EXPECT_EQ(a_->Snapshot(), b_->Snapshot());
}

TEST_F(SyncTest, GroupDeletedOnOneSideWhileItsNoteChangedOnTheOtherComesBack) {
    AddGroup(*a_, 1, 0, "删在A", "旧");
    AddGroup(*a_, 2, 0, "删在B", "旧");
    AddGroup(*a_, 3, 0, "照删", "旧");
    Converge();
    // Group numbers differ between the machines: groups are named.
    auto remove = [](TMachine& m, const QString& name) {
        const QString self =
            FormatSql("(select SelfIndex from NoteType where TypeName='%s')", {name});
        m.Exec("delete from NoteBook where TypeID=" + self);
        m.Exec("delete from NoteType where SelfIndex=" + self);
    };
    auto write = [](TMachine& m, const QString& name, const QString& note) {
        m.Exec(FormatSql("update NoteBook set ReMark='%s' where TypeID=(select SelfIndex from "
                         "NoteType where TypeName='%s')",
                         {note, name}));
    };
    remove(*a_, "删在A");
    write(*a_, "删在B", "A 改了");
    write(*b_, "删在A", "B 改了");
    remove(*b_, "删在B");
    remove(*a_, "照删");
    Converge();
    for (TMachine* m : {a_.get(), b_.get()}) {
        EXPECT_EQ(Note(*m, "删在A"), "B 改了");
        EXPECT_EQ(Note(*m, "删在B"), "A 改了");
        EXPECT_TRUE(m->UidOfGroup("照删").isEmpty());
    }
    // Deleted on A, it is in B's recycle bin.
    EXPECT_EQ(b_->Count("select count(*) from RecycleBin where Caption='照删'"), 1);
    EXPECT_EQ(a_->Snapshot(), b_->Snapshot());
}

TEST_F(SyncTest, AnIndependentClientReadsWhatWasWrittenAndItsEditsComeBack) {
    FillEverything(*a_);
    SyncOk(*a_);
    QProcess py;
    const QString script = QStringLiteral(QUILLET_SOURCE_DIR "/tests/sync/caldav_client.py");
    const QStringList account = {script, url_, user_, user_ + "-pw"};
    py.start("/usr/bin/python3", account + QStringList{"dump"});
    ASSERT_TRUE(py.waitForFinished(60000));
    ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    const QJsonObject dump = QJsonDocument::fromJson(py.readAllStandardOutput()).object();
    QMap<QString, QJsonObject> byUid;
    for (const QString& name : {RemindersCollectionName, NotesCollectionName})
        for (const QJsonValue v : dump.value(name).toArray())
            byUid[v.toObject().value("uid").toString()] = v.toObject();
    // The parts of a rule in a fixed order: clients write them in their own.
    auto rule = [&](const QString& text) {
        QStringList parts =
            byUid.value(a_->UidOfReminder(text)).value("rrule").toString().split(';');
        parts.sort();
        return parts.join(';');
    };
    EXPECT_EQ(rule("一次 'quote' @#@ 😀"), "");
    EXPECT_EQ(rule("每天\r\n两行"), "FREQ=DAILY");
    EXPECT_EQ(rule("每周一三五"), "BYDAY=MO,WE,FR;FREQ=WEEKLY");
    EXPECT_EQ(rule("每月31号"), "BYMONTHDAY=31;FREQ=MONTHLY");
    EXPECT_EQ(rule("闰日生日"), "BYMONTH=2;BYMONTHDAY=-1;FREQ=YEARLY");
    // The lunar kind: plain dates for every client (servers refuse an RSCALE rule).
    EXPECT_EQ(rule("闰四月初八"), "");
    EXPECT_EQ(byUid.value(a_->UidOfReminder("闰四月初八")).value("rdates").toInt(), 10);
    EXPECT_EQ(byUid.value(a_->UidOfReminder("每天\r\n两行")).value("summary").toString(),
              "每天\n两行");
    const QJsonObject detail = byUid.value(a_->UidOfGroup("细节 😀"));
    EXPECT_EQ(detail.value("kind").toString(), "VJOURNAL");
    EXPECT_EQ(detail.value("summary").toString(), "细节 😀");
    EXPECT_EQ(detail.value("description").toString(), "第三层");
    EXPECT_EQ(detail.value("parent").toString(), a_->UidOfGroup("项目 'A' @#@"));
    EXPECT_EQ(byUid.value(a_->UidOfGroup("工作")).value("parent").toString(), "quillet-notes-root");

    // Its edits come back.
    const QString weekly = a_->UidOfReminder("每周一三五");
    for (const QStringList& edit :
         {QStringList{weekly, "SUMMARY", "别人改的提醒"},
          QStringList{a_->UidOfGroup("工作"), "DESCRIPTION", "别人改的笔记"}}) {
        py.start("/usr/bin/python3", account + QStringList{"edit"} + edit);
        ASSERT_TRUE(py.waitForFinished(60000));
        ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    }
    SyncOk(*a_);
    EXPECT_EQ(a_->UidOfReminder("别人改的提醒"), weekly);
    EXPECT_EQ(Note(*a_, "工作"), "别人改的笔记");
    // The rest of the edited reminder is as it was.
    EXPECT_EQ(a_->Count(FormatSql("select count(*) from Alam where Uid='%s' and ReDay=2 and "
                                  "iMonWeek=135 and iHour=18",
                                  {weekly})),
              1);
}

namespace {

// The independent client (python3-caldav) on the test's account.
QString Client(const QString& url, const QString& user, const QStringList& arguments) {
    QProcess py;
    py.start("/usr/bin/python3",
             QStringList{QStringLiteral(QUILLET_SOURCE_DIR "/tests/sync/caldav_client.py"), url,
                         user, user + "-pw"} +
                 arguments);
    EXPECT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    return QString::fromUtf8(py.readAllStandardOutput());
}

QJsonObject Dumped(const QString& url, const QString& user, const QString& uid) {
    const QJsonObject dump = QJsonDocument::fromJson(Client(url, user, {"dump"}).toUtf8()).object();
    for (const QString& name : dump.keys())
        for (const QJsonValue v : dump.value(name).toArray())
            if (v.toObject().value("uid").toString() == uid)
                return v.toObject();
    return QJsonObject();
}

} // namespace

// Another program adds an end date and a location: the end cannot be shown here, so the
// local edit is not written over it, the pass says which reminder and why, and the location
// (which this program does not model) is still there.
TEST_F(SyncTest, AChangeThatCannotBeShownHereIsNeitherTakenNorWrittenOverAndThePassSaysSo) {
    FillEverything(*a_);
    SyncOk(*a_);
    const QString weekly = a_->UidOfReminder("每周一三五");
    Client(url_, user_, {"edit", weekly, "LOCATION", "会议室"});
    Client(url_, user_,
           {"edit", weekly, "RRULE", "FREQ=WEEKLY;BYDAY=MO,WE,FR;UNTIL=20270601T000000"});
    a_->Exec(FormatSql("update Alam set iHour=19 where Uid='%s'", {weekly}));
    QString message;
    EXPECT_FALSE(a_->Sync(&message));
    EXPECT_TRUE(message.contains(QStringLiteral("每周一三五")) && message.contains("COUNT/UNTIL"))
        << message;
    const QJsonObject there = Dumped(url_, user_, weekly);
    EXPECT_TRUE(there.value("rrule").toString().contains("UNTIL")) << there["rrule"].toString();
    EXPECT_EQ(there.value("location").toString(), QStringLiteral("会议室"));
    EXPECT_EQ(
        a_->Count(FormatSql("select count(*) from Alam where Uid='%s' and iHour=19", {weekly})), 1);
}

// What another program added that Quillet does not show (a place, a description, an end)
// stays when Quillet writes its own change back.
TEST_F(SyncTest, AWriteBackKeepsWhatAnotherProgramAddedThere) {
    FillEverything(*a_);
    SyncOk(*a_);
    const QString once = a_->UidOfReminder("一次 'quote' @#@ 😀");
    Client(url_, user_, {"edit", once, "LOCATION", "会议室"});
    Client(url_, user_, {"edit", once, "DESCRIPTION", "带上材料"});
    Client(url_, user_, {"edit", once, "DTEND", "20261224T100500"});
    SyncOk(*a_);
    a_->Exec(FormatSql("update Alam set iHour=11, ReMark='改了时间' where Uid='%s'", {once}));
    SyncOk(*a_);
    const QJsonObject there = Dumped(url_, user_, once);
    EXPECT_EQ(there.value("summary").toString(), QStringLiteral("改了时间"));
    EXPECT_EQ(there.value("location").toString(), QStringLiteral("会议室"));
    EXPECT_EQ(there.value("description").toString(), QStringLiteral("带上材料"));
    EXPECT_EQ(there.value("duration").toString(), "PT1H");
    SyncOk(*b_);
    EXPECT_EQ(b_->Count(FormatSql("select count(*) from Alam where Uid='%s' and iHour=11", {once})),
              1);
}

// Another program moves a yearly reminder to another day (taken, and kept by a write-back),
// adds an all-day event (no reminder anywhere, left as it is) and writes a repeat rule that
// cannot be read (neither taken as a one-off nor written over; the pass says which and why).
TEST_F(SyncTest, AMovedYearlyDayIsTakenAnAllDayEventAndAnUnreadableRuleAreLeftAsTheyAre) {
    AddReminder(*a_, 4, 10, 0, 1, 0, "2027-07-10", "每年");
    AddReminder(*a_, 2, 18, 0, 135, 0, "2026-12-01", "每周一三五");
    SyncOk(*a_);
    const QString yearly = a_->UidOfReminder("每年");
    const QString weekly = a_->UidOfReminder("每周一三五");
    Client(url_, user_, {"edit", yearly, "DTSTART", "20270915T100000"});
    Client(url_, user_, {"add", RemindersCollectionName, "all-day", "20261220", "全天"});
    Client(url_, user_, {"raw", weekly, "BYDAY=MO,WE,FR", "BYDAY=MO,WE,FR;INTERVAL=0"});
    const QString allDay = Dumped(url_, user_, "all-day").value("ics").toString();
    const QString broken = Dumped(url_, user_, weekly).value("ics").toString();
    ASSERT_TRUE(broken.contains("INTERVAL=0")) << broken;
    QString message;
    EXPECT_FALSE(a_->Sync(&message));
    EXPECT_TRUE(message.contains(QStringLiteral("每周一三五")) && message.contains("RRULE"))
        << message;
    EXPECT_EQ(a_->Count(FormatSql("select count(*) from Alam where Uid='%s' and ReDay=4 and "
                                  "AlamDate like '%-09-15'",
                                  {yearly})),
              1);
    EXPECT_EQ(a_->Count(FormatSql("select count(*) from Alam where Uid='%s' and ReDay=2 and "
                                  "iMonWeek=135",
                                  {weekly})),
              1);
    a_->Exec(FormatSql("update Alam set iHour=11 where Uid in ('%s','%s')", {yearly, weekly}));
    EXPECT_FALSE(a_->Sync(&message));
    EXPECT_TRUE(message.contains(QStringLiteral("每周一三五"))) << message;
    EXPECT_TRUE(Dumped(url_, user_, yearly).value("dtstart").toString().endsWith("0915T110000"));
    EXPECT_EQ(Dumped(url_, user_, weekly).value("ics").toString(), broken);
    EXPECT_EQ(Dumped(url_, user_, "all-day").value("ics").toString(), allDay);
    SyncOk(*b_);
    EXPECT_EQ(b_->Count(FormatSql("select count(*) from Alam where Uid='%s' and iHour=11 and "
                                  "AlamDate like '%-09-15'",
                                  {yearly})),
              1);
    for (TMachine* m : {a_.get(), b_.get()})
        EXPECT_EQ(m->Count("select count(*) from Alam where ReMark='全天' or Uid='all-day'"), 0);
}

// The server lost the collections (wiped, or deleted by another program): the next pass makes
// them again and sends everything; nothing here is deleted or doubled.
TEST_F(SyncTest, AfterTheServerLostTheCollectionsEverythingGoesUpAgain) {
    FillEverything(*a_);
    SyncOk(*a_);
    const QStringList before = a_->Snapshot();
    Client(url_, user_, {"wipe"});
    SyncOk(*a_);
    SyncOk(*a_);
    EXPECT_EQ(a_->Snapshot(), before);
    SyncOk(*b_);
    EXPECT_EQ(b_->Snapshot(), before);
}

TEST(SyncMapping, WhatTheProgramCannotKeepIsRefused) {
    TSyncReminder r;
    QDateTime changed;
    QString why;
    const QByteArray counted = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:x\r\n"
                               "DTSTART:20261201T090000\r\nRRULE:FREQ=DAILY;COUNT=3\r\n"
                               "SUMMARY:s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    EXPECT_FALSE(ReminderFromIcs(counted, r, changed, why));
    EXPECT_FALSE(why.isEmpty());
    const QByteArray utc =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:y\r\n"
        "DTSTART:20261201T090000Z\r\nSUMMARY:s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    ASSERT_TRUE(ReminderFromIcs(utc, r, changed, why)) << why;
    const QDateTime local = QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC).toLocalTime();
    EXPECT_EQ(r.iHour, local.time().hour());
    EXPECT_EQ(r.ReDay, 0);
    TSyncGroup g;
    EXPECT_FALSE(GroupFromIcs(utc, g, changed, why));
}

} // namespace
