#include "TestSupport.h"

#include "storage/UntDbAccess.h"

namespace {

QString Text(const QString& sql) {
    DbAccess->OpenQuery(sql);
    return DbAccess->MainCursor.AsString(0);
}

} // namespace

class EngineTest : public DbTest {};

TEST_F(EngineTest, DateAndTimeReadTheProgramsClock) {
    TPinnedClock clock(At("2026-12-07 09:05:07"));
    EXPECT_EQ(Text("select Date()"), QStringLiteral("2026-12-07"));
    EXPECT_EQ(Text("select Time()"), QStringLiteral("09:05:07"));
    EXPECT_EQ(GetIntValue("select Hour(Time())"), 9);
    EXPECT_EQ(GetIntValue("select Minute(Time())"), 5);
    EXPECT_EQ(GetIntValue("select Day(Date())"), 7);
    // SQLite's own date arithmetic is left intact beside the zero-argument Date().
    EXPECT_EQ(Text("select date(Date(),'+1 day')"), QStringLiteral("2026-12-08"));
    EXPECT_EQ(Text("select date(Date(),'-7 day')"), QStringLiteral("2026-11-30"));
    EXPECT_EQ(GetIntValue("select Day(date(Date(),'+1 day'))"), 8);
    clock.Set(At("2026-12-31 23:59:59"));
    EXPECT_EQ(Text("select date(Date(),'+1 day')"), QStringLiteral("2027-01-01"));
}

TEST_F(EngineTest, WeekDayOfYesterdayNumbersTodayFromMonday) {
    // 2026-12-07 is a Monday.
    for (int offset = 0; offset < 7; ++offset) {
        TPinnedClock clock(QDateTime(QDate(2026, 12, 7).addDays(offset), QTime(12, 0)));
        EXPECT_EQ(GetIntValue("select WeekDay(date(Date(),'-1 day'))"), offset + 1) << offset;
        EXPECT_EQ(GetIntValue("select WeekDay(Date())"), (offset + 1) % 7 + 1) << offset;
    }
}

TEST_F(EngineTest, TextFunctions) {
    EXPECT_EQ(Text("select Str(9)"), QStringLiteral(" 9"));
    EXPECT_EQ(Text("select Str(0)"), QStringLiteral(" 0"));
    EXPECT_EQ(Text("select Str(-1)"), QStringLiteral("-1"));
    EXPECT_EQ(Text("select CStr(135)"), QStringLiteral("135"));
    EXPECT_EQ(GetIntValue("select InStr(CStr(135),CStr(3))"), 2);
    EXPECT_EQ(GetIntValue("select InStr(CStr(135),CStr(4))"), 0);
    EXPECT_EQ(Text("select Format('2026-12-06','YYYY-MM-DD')"), QStringLiteral("2026-12-06"));
    EXPECT_EQ(Text("select Format('2026-1-6','YYYY-MM-DD')"), QStringLiteral("2026-01-06"));
    EXPECT_EQ(Text("select Format('2026-12-06',' 9')||'时'"), QStringLiteral(" 9时"));
    EXPECT_EQ(Text("select Str(NULL)"), QString());
    EXPECT_EQ(Text("select Str(1.5)||Str('-2')||CStr(-3)"), QStringLiteral(" 1.5-2-3"));
    EXPECT_EQ(Text("select Format('2026-12-06 10:00:00','dd.mm.yyyy mmm')"),
              QStringLiteral("06.12.2026 12m"));
    EXPECT_EQ(Text("select Format('12-06','YYYY')"), QStringLiteral("12-06"));
    EXPECT_EQ(GetIntValue("select Hour('2026-12-06 7:05:09')*100+Minute('123:45')"), 745);
    EXPECT_EQ(GetIntValue("select Day(' 2026-2-3x')"), 3);
}

TEST_F(EngineTest, IIfOnYesNoColumnsAndYesNoLiterals) {
    ExecSql("insert into Alam(iHour,bLook) values(1,'-1')");
    ExecSql("insert into Alam(iHour,bLook) values(2,'0')");
    ExecSql("insert into Alam(iHour,bLook) values(3,1)");
    ExecSql("insert into Alam(iHour) values(4)");
    DbAccess->OpenQuery("select iHour,IIF(bLook,'看过的','') from Alam order by iHour");
    TCursor& c = DbAccess->MainCursor;
    const QString expected[] = {"看过的", "", "看过的", ""};
    for (const QString& e : expected) {
        ASSERT_FALSE(c.Eof());
        EXPECT_EQ(c.AsString(1), e) << c.AsInteger(0);
        c.Next();
    }
    EXPECT_EQ(GetIntValue("select count(*) from Alam where bLook=0"), 2);
    EXPECT_EQ(Text("select IIf(1=0,'a',IIf(2=2,'b','c'))"), QStringLiteral("b"));
    EXPECT_EQ(Text("select IIf(NULL,'a','b')"), QStringLiteral("b"));
}

TEST_F(EngineTest, IsoDatesCompareAsText) {
    TPinnedClock clock(At("2026-12-07 08:00:00"));
    ExecSql("insert into Alam(AlamDate,iHour) values('2026-12-06',23)");
    ExecSql("insert into Alam(AlamDate,iHour) values('2026-12-07',9)");
    ExecSql("insert into Alam(AlamDate,iHour) values('2026-12-08',9)");
    EXPECT_EQ(GetIntValue("select count(*) from Alam where AlamDate=Date()"), 1);
    EXPECT_EQ(GetIntValue("select count(*) from Alam where AlamDate<=Date()"), 2);
    EXPECT_EQ(GetIntValue("select count(*) from Alam where AlamDate=date(Date(),'+1 day')"), 1);
}
