#include "TestSupport.h"

#include "storage/UntDbAccess.h"
#include "storage/UntSqlEngine.h"

#include <sqlite3.h>

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

TEST_F(EngineTest, IIfWorksOutOnlyTheChosenValueAndAnswersAsBefore) {
    // The untaken value would fail (integer overflow): it is not worked out any more.
    EXPECT_EQ(Text("select IIf(1=1,'a',abs(-9223372036854775808))"), QStringLiteral("a"));
    EXPECT_EQ(Text("select iif (0, abs(-9223372036854775808) ,'b')"), QStringLiteral("b"));
    // Every statement gives what the function called with every value gives.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(RegisterEngineFunctions(db), SQLITE_OK);
    auto rows = [db](const QString& sql) {
        sqlite3_stmt* stmt = nullptr;
        QStringList out;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            return QStringList{QStringLiteral("error")};
        while (sqlite3_step(stmt) == SQLITE_ROW)
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                out << QString::number(sqlite3_column_type(stmt, c)) +
                           QString::fromUtf8(
                               reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)));
        sqlite3_finalize(stmt);
        return out;
    };
    for (const QString& sql :
         {QStringLiteral("select IIf(x,'y',2.5), IIf(x,NULL,x||'iif(,'), [iif(] from (select "
                         "'1.0' x, 1 as [iif(] union all select ' true ',2 union all select "
                         "'abc',3 union all select NULL,4 union all select 0.0,5)"),
          QStringLiteral("select IIf(1=0,'a',IIf(2=2,'b''s, (x)','c')) /* iif(1,2,3) */ -- iif("),
          QStringLiteral("select IIF( (1+2)=3 , IIf(1,'(',')') , \"a,b\" ) from (select 1 "
                         "\"a,b\")")}) {
        const QString rewritten = ShortCircuitIIf(sql);
        EXPECT_EQ(rows(rewritten), rows(sql)) << rewritten.toStdString();
        EXPECT_NE(rows(sql).value(0), QStringLiteral("error")) << sql.toStdString();
    }
    // Other shapes are the engine's to refuse.
    const QString other = QStringLiteral("select NotIIf(1), IIf(1,2), IIf(1,2,3,4), IIf(1");
    EXPECT_EQ(ShortCircuitIIf(other), other);
    sqlite3_close(db);
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
