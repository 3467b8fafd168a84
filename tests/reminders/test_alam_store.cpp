#include "ReminderTestSupport.h"

#include <QTreeWidget>
#include <algorithm>

#include "shell/UntApplication.h"
#include "storage/UException.h"

namespace {
const QDate Monday(2026, 12, 7);
}

class AlamStoreTest : public AlamTest {};

TEST_F(AlamStoreTest, ListShowsTheFourKindsInTheirDisplayTexts) {
    TPinnedClock clock(At("2026-12-01 08:00:00"));
    const QString once = AddAlam(rdOnce, 9, 5, 1, QDate(2026, 12, 6), QStringLiteral("交电费"));
    const QString daily = AddAlam(rdDaily, 9, 5, 1, Monday);
    const QString weekly = AddAlam(rdWeekly, 9, 5, 135, Monday);
    const QString monthly = AddAlam(rdMonthly, 9, 5, 15, Monday);
    alam_.LoadList(&view_, 0);
    const QList<QStringList> expected = {
        {once, "仅一次", "2026-12-06  9时 5分", "交电费", ""},
        {daily, "每天", " 9时 5分", "提醒", ""},
        {weekly, "每周", "每周 135  9时 5分", "提醒", ""},
        {monthly, "每月", "每月 15号  9时 5分", "提醒", ""},
    };
    EXPECT_EQ(Rows(&view_), expected);
    EXPECT_EQ(alam_.SqlText.left(10), QStringLiteral("select ID,"));
}

TEST_F(AlamStoreTest, StatementsAreBuiltAsTheStoreWritesThem) {
    alam_.ReDay = rdOnce;
    alam_.iHour = 9;
    alam_.iMinute = 5;
    alam_.iMonWeek = 1;
    alam_.AlamDate = QDateTime(QDate(2026, 12, 6), QTime(0, 0));
    alam_.ReMark = QStringLiteral("x");
    alam_.Add();
    EXPECT_EQ(alam_.SqlText,
              QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,"
                             "ReMark)  values(9,5,1,0,'2026-12-06','x') "));
    alam_.Update("1");
    EXPECT_EQ(alam_.SqlText,
              QStringLiteral("update Alam set iHour=9,iMinute=5,iMonWeek=1,ReDay=0,  "
                             "AlamDate='2026-12-06',Remark='x',bLook=0 where ID=1  "));
    alam_.MarkSeen("1");
    EXPECT_EQ(alam_.SqlText, QStringLiteral("update Alam set bLook=1 where ID=1"));
    alam_.Delete("1");
    EXPECT_EQ(alam_.SqlText, QStringLiteral("delete from Alam where ID=1 "));
    EXPECT_EQ(AlamCount(), 0);
}

TEST_F(AlamStoreTest, LoadReadsBackWhatAddStored) {
    const QString id = AddAlam(rdWeekly, 21, 45, 246, QDate(2026, 12, 9), "多行\n文本");
    alam_ = TAlam();
    alam_.Load(id);
    EXPECT_EQ(alam_.SqlText, QStringLiteral("select * from Alam where ID=%1 ").arg(id));
    EXPECT_EQ(alam_.ReDay, rdWeekly);
    EXPECT_EQ(alam_.iHour, 21);
    EXPECT_EQ(alam_.iMinute, 45);
    EXPECT_EQ(alam_.iMonWeek, 246);
    EXPECT_EQ(alam_.AlamDate, QDateTime(QDate(2026, 12, 9), QTime(0, 0)));
    EXPECT_EQ(alam_.ReMark, QStringLiteral("多行\n文本"));
    EXPECT_EQ(GetIntValue("select bLook from Alam where ID=" + id), 0);

    RunHandler(nullptr, [&] { alam_.Load("9999"); });
    EXPECT_EQ(CardException->UserMessage, QStringLiteral("数据库查询错误，请检查！"));
}

TEST_F(AlamStoreTest, WeeklyRemindersFallOnTheirWeekdaysTodayAndTomorrow) {
    const QString mwf = AddAlam(rdWeekly, 9, 0, 135, Monday);
    const QString sunday = AddAlam(rdWeekly, 9, 0, 7, Monday);
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    // Monday 2026-12-07 ... Sunday 2026-12-13
    const char* today135 = "1010100";
    const char* tomorrow135 = "0101001";
    for (int d = 0; d < 7; ++d) {
        const QDate day = Monday.addDays(d);
        clock.Set(QDateTime(day, QTime(8, 0)));
        SCOPED_TRACE(day.toString(Qt::ISODate).toStdString());
        EXPECT_EQ(Listed(1).contains(mwf), today135[d] == '1');
        EXPECT_EQ(Listed(2).contains(mwf), tomorrow135[d] == '1');
        EXPECT_EQ(Listed(1).contains(sunday), d == 6);
        EXPECT_EQ(Listed(2).contains(sunday), d == 5);
    }
}

TEST_F(AlamStoreTest, EachKindIsListedOnlyUnderItsFilters) {
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    const QString daily = AddAlam(rdDaily, 9, 0, 1, Monday);
    const QString weekly = AddAlam(rdWeekly, 9, 0, 3, Monday); // Wednesdays
    const QString monthly = AddAlam(rdMonthly, 9, 0, 20, Monday);
    const QString today = AddAlam(rdOnce, 9, 0, 1, Monday);
    const QString tomorrow = AddAlam(rdOnce, 9, 0, 1, Monday.addDays(1));
    EXPECT_EQ(Listed(0), QStringList({daily, weekly, monthly, today, tomorrow}));
    EXPECT_EQ(Listed(1), QStringList({today}));
    EXPECT_EQ(Listed(2), QStringList({tomorrow}));
    EXPECT_EQ(Listed(3), QStringList());
    EXPECT_EQ(Listed(4), QStringList({daily}));
    EXPECT_EQ(Listed(5), QStringList({weekly}));
    EXPECT_EQ(Listed(6), QStringList({monthly}));
    clock.Set(At("2026-12-20 08:00:00"));
    EXPECT_EQ(Listed(1), QStringList({monthly}));
    clock.Set(At("2026-12-19 08:00:00"));
    EXPECT_EQ(Listed(2), QStringList({monthly}));
}

TEST_F(AlamStoreTest, MonthlyDay31IsNeverTodayInAThirtyDayMonth) {
    const QString id = AddAlam(rdMonthly, 9, 0, 31, Monday);
    TPinnedClock clock(At("2026-11-01 08:00:00"));
    for (QDate day(2026, 11, 1); day.month() == 11; day = day.addDays(1)) {
        clock.Set(QDateTime(day, QTime(8, 0)));
        EXPECT_FALSE(Listed(1).contains(id)) << day.toString(Qt::ISODate).toStdString();
    }
    clock.Set(At("2026-12-30 08:00:00"));
    EXPECT_TRUE(Listed(2).contains(id));
    clock.Set(At("2026-12-31 08:00:00"));
    EXPECT_TRUE(Listed(1).contains(id));
}

TEST_F(AlamStoreTest, OneOffTodayIsMissedOnlyOnceItsHourHasPassed) {
    const QString nine = AddAlam(rdOnce, 9, 0, 1, Monday);
    const QString nineFiftyNine = AddAlam(rdOnce, 9, 59, 1, Monday);
    const QString daily = AddAlam(rdDaily, 6, 0, 1, Monday);
    TPinnedClock clock(At("2026-12-07 09:30:00"));
    EXPECT_EQ(Status(nine), QString());
    EXPECT_EQ(Listed(3), QStringList());

    clock.Set(At("2026-12-07 10:00:00"));
    EXPECT_EQ(Status(nine), QStringLiteral("错过的"));
    EXPECT_EQ(Status(nineFiftyNine), QStringLiteral("错过的"));
    EXPECT_EQ(Status(daily), QString());
    EXPECT_EQ(Listed(3), QStringList({nine, nineFiftyNine}));
    alam_.LoadList(&view_, 1); // the mark shows under every filter
    EXPECT_EQ(Rows(&view_).value(0).value(4), QStringLiteral("错过的"));

    alam_.MarkSeen(nine);
    EXPECT_EQ(Status(nine), QStringLiteral("看过的"));
    EXPECT_EQ(Listed(3), QStringList({nineFiftyNine}));

    alam_.Load(nine);
    alam_.iHour = 11;
    alam_.Update(nine);
    EXPECT_EQ(Status(nine), QString());
}

TEST_F(AlamStoreTest, OneOffFromAnEarlierDayIsMissedWhateverItsHour) {
    const QString lateYesterday = AddAlam(rdOnce, 23, 0, 1, Monday.addDays(-1));
    const QString lastMonth = AddAlam(rdOnce, 7, 0, 1, QDate(2026, 11, 7));
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    EXPECT_EQ(Status(lateYesterday), QStringLiteral("错过的"));
    EXPECT_EQ(Listed(3), QStringList({lateYesterday, lastMonth}));
    alam_.MarkSeen(lateYesterday);
    EXPECT_EQ(Listed(3), QStringList({lastMonth}));
}

TEST_F(AlamStoreTest, RescheduleMovesToNowPlusTheDelayWithoutSeconds) {
    const QString id = AddAlam(rdWeekly, 9, 0, 135, Monday, QStringLiteral("会议"));
    alam_.MarkSeen(id);
    auto stored = [&] {
        TAlam read;
        read.Load(id);
        return QDateTime(read.AlamDate.date(), QTime(read.iHour, read.iMinute));
    };
    TPinnedClock clock(At("2026-12-07 10:00:40"));
    const int expectedMinutes[] = {3, 5, 10, 30, 60};
    for (int index = 0; index < 5; ++index) {
        alam_.Reschedule(id, index);
        EXPECT_EQ(stored(), At("2026-12-07 10:00:00").addSecs(60 * expectedMinutes[index]));
    }
    clock.Set(At("2026-12-07 23:58:59"));
    alam_.Reschedule(id, 0);
    EXPECT_EQ(alam_.SqlText, QStringLiteral("update Alam set AlamDate='2026-12-08',iHour=0,"
                                            "iMinute=1 where ID=%1  ")
                                 .arg(id));
    EXPECT_EQ(stored(), At("2026-12-08 00:01:00"));
    TAlam read;
    read.Load(id);
    EXPECT_EQ(read.ReDay, rdWeekly);
    EXPECT_EQ(read.iMonWeek, 135);
    EXPECT_EQ(read.ReMark, QStringLiteral("会议"));
    EXPECT_EQ(GetIntValue("select bLook from Alam where ID=" + id), 1);
}

TEST_F(AlamStoreTest, TextsWithQuotesAndTheBatchSeparatorAreKeptUnchanged) {
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    const QString text = QStringLiteral("it's @#@ delete from Alam; --'");
    const QString id = AddAlam(rdDaily, 9, 0, 1, Monday, text);
    AddAlam(rdDaily, 10, 0, 1, Monday);
    alam_.LoadList(&view_, 0);
    EXPECT_EQ(Rows(&view_).value(0).value(3), text);
    alam_.Load(id);
    EXPECT_EQ(alam_.ReMark, text);
    alam_.ReMark = text + QStringLiteral("''");
    alam_.Update(id);
    alam_.Load(id);
    EXPECT_EQ(alam_.ReMark, text + QStringLiteral("''"));
    EXPECT_EQ(AlamCount(), 2);

    context_.ReMark = text;
    context_.Add();
    context_.LoadList(&view_);
    ASSERT_EQ(view_.topLevelItemCount(), 1);
    EXPECT_EQ(view_.topLevelItem(0)->text(1), text);
    context_.ReMark = QStringLiteral("@#@'");
    context_.Update(view_.topLevelItem(0)->text(0));
    context_.LoadList(&view_);
    EXPECT_EQ(view_.topLevelItem(0)->text(1), QStringLiteral("@#@'"));
}

TEST_F(AlamStoreTest, PresetStoreStatements) {
    context_.ReMark = QStringLiteral("吃药");
    context_.Add();
    EXPECT_EQ(context_.SqlText, QStringLiteral("Insert into AlamContext(ReMark) values('吃药') "));
    context_.LoadList(&view_);
    EXPECT_EQ(context_.SqlText, QStringLiteral("select Id,Remark from AlamContext "));
    const QString id = view_.topLevelItem(0)->text(0);
    context_.ReMark = QStringLiteral("喝水");
    context_.Update(id);
    EXPECT_EQ(context_.SqlText,
              QStringLiteral("update AlamContext set Remark='喝水' where ID=%1  ").arg(id));
    context_.Delete(id);
    EXPECT_EQ(context_.SqlText, QStringLiteral("delete from AlamContext where ID=%1 ").arg(id));
    context_.LoadList(&view_);
    EXPECT_EQ(view_.topLevelItemCount(), 0);
}

// A list read ahead off the interface thread is what the window shows, but only while it is
// current: anything written here since, or a new minute (a one-off may be missed by then),
// reads it anew.
TEST_F(AlamStoreTest, AListReadAheadIsShownOnlyWhileItIsCurrent) {
    TPinnedClock clock(At("2026-12-07 10:30:00"));
    AddAlam(rdOnce, 9, 5, 1, Monday, QStringLiteral("九点五分"));
    AddAlam(rdOnce, 10, 0, 1, Monday, QStringLiteral("十点"));
    AddAlam(rdLunarYearly, 8, 0, 815, Monday);
    const TRows now = alam_.ListRows(0);
    ASSERT_EQ(now.size(), 3);
    EXPECT_EQ(now.at(0).at(4), AlamMissedText);

    // Taken as read: a row changed behind the program's back is not seen.
    alam_.PrefetchList(0);
    ASSERT_TRUE(WaitFor([this] { return alam_.Prefetched(); }));
    TConnection other;
    other.Open(DataPath(), DatabaseKey, false);
    other.Exec(QStringLiteral("update Alam set ReMark='别处' where ReMark='十点'"));
    EXPECT_EQ(alam_.ListRows(0), now);

    alam_.PrefetchList(0);
    AddAlam(rdDaily, 7, 0, 1, Monday);
    EXPECT_EQ(alam_.ListRows(0).size(), 4);
    // So is a write through the second writing connection (a sync's).
    alam_.PrefetchList(0);
    ASSERT_TRUE(WaitFor([this] { return alam_.Prefetched(); }));
    TSideWriter& side = DbAccess->SideWriter;
    side.Begin();
    side.Connection().Exec(QStringLiteral("update Alam set ReMark='同步' where ReMark='九点五分'"));
    side.CommitInBackground([](const QString&) {});
    ASSERT_TRUE(WaitFor([&] { return !side.Committing(); }));
    const TRows synced = alam_.ListRows(0);
    EXPECT_TRUE(std::any_of(synced.begin(), synced.end(),
                            [](const QStringList& row) { return row.at(3) == "同步"; }));

    alam_.PrefetchList(0);
    ASSERT_TRUE(WaitFor([this] { return alam_.Prefetched(); })); // the clock is not shared
    clock.Set(At("2026-12-07 11:00:00"));
    const TRows later = alam_.ListRows(0);
    EXPECT_EQ(later.at(1).at(3), QStringLiteral("别处"));
    EXPECT_EQ(later.at(1).at(4), AlamMissedText);

    // The list view takes the read-ahead's items by the same rules.
    QTreeWidget view;
    alam_.PrefetchList(0, true);
    ASSERT_TRUE(WaitFor([this] { return alam_.Prefetched(); }));
    other.Exec(QStringLiteral("update Alam set ReMark='又变' where ReMark='别处'"));
    alam_.LoadList(&view, 0);
    ASSERT_EQ(view.topLevelItemCount(), 4);
    EXPECT_EQ(view.topLevelItem(1)->text(3), QStringLiteral("别处"));
    alam_.PrefetchList(0, true);
    AddAlam(rdDaily, 6, 0, 1, Monday);
    alam_.LoadList(&view, 0);
    ASSERT_EQ(view.topLevelItemCount(), 5);
    EXPECT_EQ(view.topLevelItem(1)->text(3), QStringLiteral("又变"));
}
