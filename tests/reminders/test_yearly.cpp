#include "ReminderTestSupport.h"

#include "common/UntLunar.h"
#include "storage/UntSchema.h"

#include <QFile>
#include <algorithm>

namespace {

class YearlyTest : public AlamTest {
protected:
    QString Add(int reDay, int monWeek, const QDate& day, int ahead, const QString& text,
                int hour = 9) {
        alam_.AheadDays = ahead;
        const QString id = AddAlam(reDay, hour, 5, monWeek, day, text);
        alam_.AheadDays = 0;
        return id;
    }
    QStringList Texts(int filter) {
        alam_.LoadList(&view_, filter);
        QStringList texts;
        for (const QStringList& row : Rows(&view_))
            texts << row.at(3);
        texts.sort();
        return texts;
    }
};

TEST_F(YearlyTest, ListTextsOfTheYearlyKinds) {
    TPinnedClock clock(At("2026-12-07 10:00:00"));
    Add(rdYearly, 1, QDate(2020, 12, 7), 0, "生日", 9);
    Add(rdLunarYearly, 815, QDate(2026, 9, 25), 3, "中秋");
    Add(rdLunarYearly, EncodeLunarMonthDay(4, 8, true), QDate(2026, 5, 24), 0, "闰月");
    alam_.LoadList(&view_, 0);
    const QList<QStringList> rows = Rows(&view_);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].mid(1), QStringList({"每年", "每年 12月7日  9时 5分", "生日", ""}));
    EXPECT_EQ(rows[1].mid(1),
              QStringList({"农历每年", "农历 八月十五  9时 5分（提前3天）", "中秋", ""}));
    EXPECT_EQ(rows[2].at(2), QStringLiteral("农历 闰四月初八  9时 5分"));
}

TEST_F(YearlyTest, FiltersWithAllSixKinds) {
    // Monday 2026-12-07 is 农历十月廿九; 十月 has 30 days, 冬月初一 is 12-09.
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    AddAlam(rdOnce, 9, 5, 1, QDate(2026, 12, 7), "一次今天");
    AddAlam(rdDaily, 9, 5, 1, QDate(2026, 12, 1), "每天");
    AddAlam(rdWeekly, 9, 5, 2, QDate(2026, 12, 1), "周二");
    AddAlam(rdMonthly, 9, 5, 7, QDate(2026, 12, 1), "每月7号");
    Add(rdYearly, 1, QDate(1990, 12, 7), 0, "年今天");
    Add(rdYearly, 1, QDate(1990, 12, 10), 3, "年提前今天");
    Add(rdYearly, 1, QDate(1990, 12, 11), 3, "年提前明天");
    Add(rdYearly, 1, QDate(1990, 12, 8), 0, "年明天");
    Add(rdYearly, 1, QDate(1990, 12, 9), 0, "年后天");
    Add(rdLunarYearly, 1029, QDate(2025, 12, 18), 0, "农历今天");
    Add(rdLunarYearly, 1030, QDate(2025, 12, 19), 0, "农历明天");
    Add(rdLunarYearly, 1102, QDate(2025, 12, 21), 3, "农历提前今天");
    Add(rdLunarYearly, 1101, QDate(2025, 12, 20), 0, "农历后天");
    // A yearly one whose hour has passed is never marked missed.
    Add(rdYearly, 1, QDate(1990, 12, 7), 0, "年早上", 7);

    const QStringList today = {"一次今天",   "农历今天", "农历提前今天", "年今天",
                               "年提前今天", "年早上",   "每月7号"};
    auto sorted = [](QStringList l) {
        l.sort();
        return l;
    };
    EXPECT_EQ(Texts(1), sorted(today));
    const QStringList tomorrow = {"农历明天", "周二", "年明天", "年提前明天"};
    EXPECT_EQ(Texts(2), sorted(tomorrow));
    const QStringList yearly = {"年今天",   "年提前今天", "年提前明天",   "年明天",   "年后天",
                                "农历今天", "农历明天",   "农历提前今天", "农历后天", "年早上"};
    EXPECT_EQ(Texts(7), sorted(yearly));
    EXPECT_EQ(Texts(3), QStringList());
    for (const QStringList& row : Rows(&view_))
        EXPECT_EQ(row.at(4), QString()) << row.at(3);
    EXPECT_EQ(Texts(0).size(), 14);
    EXPECT_EQ(Texts(6), QStringList({"每月7号"}));
}

TEST_F(YearlyTest, TwentyNinthOfFebruary) {
    const QString id = Add(rdYearly, 1, QDate(2024, 2, 29), 0, "闰日");
    TPinnedClock clock(At("2027-02-28 08:00:00"));
    EXPECT_EQ(Listed(1), QStringList({id}));
    clock.Set(At("2028-02-28 08:00:00"));
    EXPECT_EQ(Listed(1), QStringList());
    EXPECT_EQ(Listed(2), QStringList({id}));
}

TEST_F(YearlyTest, DueOnItsDayAndItsNoticeDayAtItsMinute) {
    const QString mid = Add(rdLunarYearly, 815, QDate(2026, 9, 25), 3, "赏月");
    Add(rdYearly, 1, QDate(2000, 9, 25), 0, "公历");
    auto due = [&](const char* moment) {
        QStringList shown;
        for (const TDueAlam& d : alam_.DueList(At(moment))) {
            EXPECT_TRUE(d.Repeating);
            shown << d.ID + ":" + d.Text;
        }
        shown.sort();
        return shown;
    };
    EXPECT_EQ(due("2026-09-25 09:05:00"), QStringList({mid + ":赏月", "2:公历"}));
    EXPECT_EQ(due("2026-09-25 09:06:00"), QStringList());
    EXPECT_EQ(due("2026-09-24 09:05:00"), QStringList());
    EXPECT_EQ(due("2026-09-22 09:05:00"), QStringList({mid + ":还有3天：赏月"}));
    EXPECT_EQ(due("2026-09-21 09:05:00"), QStringList());
    // Next year's Mid-Autumn is 2027-09-15.
    EXPECT_EQ(due("2027-09-12 09:05:00"), QStringList({mid + ":还有3天：赏月"}));
    EXPECT_EQ(due("2027-09-15 09:05:00"), QStringList({mid + ":赏月"}));
}

// What the editor's note promises: a leap-month reminder rings in its leap month where the
// year has one (闰四月 2020), and in the ordinary month of that number where it has not.
TEST_F(YearlyTest, LeapMonthReminderRingsInTheOrdinaryMonthOfAYearWithoutIt) {
    const QString id =
        Add(rdLunarYearly, EncodeLunarMonthDay(4, 8, true), QDate(2027, 5, 13), 0, "浴佛");
    auto due = [&](const char* moment) {
        QStringList ids;
        for (const TDueAlam& d : alam_.DueList(At(moment)))
            ids << d.ID;
        return ids;
    };
    EXPECT_EQ(due("2020-04-30 09:05:00"), QStringList());     // 四月初八
    EXPECT_EQ(due("2020-05-30 09:05:00"), QStringList({id})); // 闰四月初八
    EXPECT_EQ(due("2027-05-13 09:05:00"), QStringList({id})); // 四月初八, no 闰四月
}

TEST_F(YearlyTest, AddUpdateAndLoadKeepDaysAhead) {
    const QString id = Add(rdLunarYearly, 10408, QDate(2028, 5, 2), 45, "x");
    alam_.Load(id);
    EXPECT_EQ(alam_.AheadDays, MaxAheadDays); // kept within 0..30
    EXPECT_EQ(alam_.iMonWeek, 10408);
    alam_.AheadDays = 2;
    alam_.Update(id);
    alam_.AheadDays = 0;
    alam_.Load(id);
    EXPECT_EQ(alam_.AheadDays, 2);
}

// A data file as the first release wrote it.
const char* const VersionOneSchema = R"sql(
CREATE TABLE Alam (ID INTEGER PRIMARY KEY AUTOINCREMENT, iHour INTEGER, iMinute INTEGER,
    iMonWeek INTEGER, ReDay INTEGER, AlamDate TEXT, ReMark TEXT, bLook INTEGER NOT NULL DEFAULT 0);
CREATE TABLE AlamContext (ID INTEGER PRIMARY KEY AUTOINCREMENT, ReMark TEXT);
CREATE TABLE NoteType (SelfIndex INTEGER, ParentIndex INTEGER, TypeName TEXT);
CREATE TABLE NoteBook (TypeID INTEGER, ReMark TEXT);
CREATE TABLE SysSet (bPass INTEGER NOT NULL DEFAULT 0, PassWord TEXT DEFAULT '');
INSERT INTO SysSet(bPass, PassWord) VALUES (-1, 'pw');
INSERT INTO Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,bLook)
    VALUES (9,5,135,2,'2026-12-01','周一''三五',1), (23,59,31,3,'2026-11-30','月底',0);
INSERT INTO NoteType VALUES (1,0,'组');
INSERT INTO NoteBook VALUES (1,'笔记');
PRAGMA user_version = 1;
)sql";

class UpgradeTest : public YearlyTest {
protected:
    // Replaces the data file by a version-1 file, with extra run on it last.
    void WriteVersionOne(const QString& extra = QString()) {
        DbAccess->Disconnect();
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(DataPath() + QLatin1String(suffix));
        QFile file(DataPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        TConnection c;
        c.Open(DataPath(), DatabaseKey);
        c.Exec(QString::fromUtf8(VersionOneSchema) + extra);
    }
    QString Dump() {
        DbAccess->OpenQuery(QStringLiteral("select * from Alam order by ID"));
        QStringList rows;
        TCursor& c = DbAccess->MainCursor;
        for (c.First(); !c.Eof(); c.Next()) {
            QStringList row;
            // The UID is new and random; the values that were there are compared.
            for (int i = 0; i < c.FieldCount(); ++i)
                if (c.FieldName(i) != QLatin1String("Uid"))
                    row << c.FieldName(i) + "=" + c.AsString(i);
            rows << row.join(',');
        }
        return rows.join('\n');
    }
};

TEST_F(UpgradeTest, VersionOneFileIsUpgradedInPlaceKeepingEveryRow) {
    WriteVersionOne();
    DbAccess->Connect();
    ASSERT_TRUE(DbAccess->Connection.IsOpen()) << boxes_->LastText();
    EXPECT_EQ(boxes_->Count(), 0);
    EXPECT_EQ(GetIntValue(QStringLiteral("PRAGMA user_version")), SchemaVersion);
    EXPECT_EQ(Dump(), QStringLiteral("ID=1,iHour=9,iMinute=5,iMonWeek=135,ReDay=2,AlamDate=2026-12-"
                                     "01,ReMark=周一'三五,bLook=1,AheadDays=0,SkipHolidays=0\n"
                                     "ID=2,iHour=23,iMinute=59,iMonWeek=31,ReDay=3,AlamDate=2026-"
                                     "11-30,ReMark=月底,bLook=0,AheadDays=0,SkipHolidays=0"));
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(*) from SysSet where bPass=-1 and "
                                         "PassWord='pw'")),
              1);
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(*) from NoteBook where TypeID=1")), 1);
    // A reminder added afterwards gets its days ahead; the next open changes nothing.
    Add(rdYearly, 1, QDate(2020, 1, 1), 5, "新");
    Reconnect();
    EXPECT_EQ(GetIntValue(QStringLiteral("select AheadDays from Alam where ID=3")), 5);
}

TEST_F(UpgradeTest, FailedUpgradeLeavesTheFileByteForByteAndSaysSo) {
    // The upgrade's second step cannot run on this file: the column is already there.
    WriteVersionOne(QStringLiteral("ALTER TABLE Alam ADD COLUMN AheadDays INTEGER;"));
    const QByteArray before = ReadAll(DataPath());
    ASSERT_FALSE(before.isEmpty());
    DbAccess->Connect();
    EXPECT_FALSE(DbAccess->Connection.IsOpen());
    EXPECT_TRUE(boxes_->LastText().startsWith(UpgradeFailedText)) << boxes_->LastText();
    EXPECT_TRUE(ReadAll(DataPath()) == before);
    EXPECT_FALSE(QFile::exists(DataPath() + "-wal"));
}

} // namespace
