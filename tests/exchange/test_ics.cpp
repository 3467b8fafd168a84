#include "TestSupport.h"

#include "reminders/UntAlam.h"
#include "reminders/UntAlamIcs.h"
#include "storage/UException.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <ctime>

namespace {

QString Here(const QString& name) {
    return QStringLiteral(QUILLET_TEST_FOLDER "/") + name;
}

// Reminders fire by the local clock; pin a zone without daylight saving so the converted
// times below are fixed.
class IcsTest : public DbTest {
protected:
    void SetUp() override {
        oldZone_ = qgetenv("TZ");
        qputenv("TZ", "Asia/Shanghai");
        tzset();
        DbTest::SetUp();
        clock_ = std::make_unique<TPinnedClock>(At("2026-12-07 10:00:00"));
    }
    void TearDown() override {
        clock_.reset();
        DbTest::TearDown();
        if (oldZone_.isEmpty())
            qunsetenv("TZ");
        else
            qputenv("TZ", oldZone_);
        tzset();
    }

    qint64 Add(int reDay, int hour, int minute, int monWeek, const QDate& day, const QString& text,
               bool seen = false, int aheadDays = 0) {
        TAlam alam;
        alam.AheadDays = aheadDays;
        alam.ReDay = reDay;
        alam.iHour = hour;
        alam.iMinute = minute;
        alam.iMonWeek = monWeek;
        alam.AlamDate = QDateTime(day, QTime(0, 0));
        alam.ReMark = text;
        alam.Add();
        const int id = GetIntValue(QStringLiteral("select max(ID) from Alam"));
        if (seen)
            alam.MarkSeen(QString::number(id));
        return id;
    }

    // What the program's own due check fires, minute by minute of each reminder, per day.
    QStringList QuilletRings(const QDate& first, const QDate& last) {
        QSet<QTime> times;
        for (const TAlamRecord& a : ReadAlams())
            times.insert(QTime(a.iHour, a.iMinute));
        QStringList rings;
        TAlam alam;
        for (QDate day = first; day < last; day = day.addDays(1)) {
            for (const QTime& t : times) {
                const QDateTime moment(day, t);
                for (const TDueAlam& due : alam.DueList(moment))
                    rings << due.ID + u' ' + moment.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            }
        }
        rings.sort();
        return rings;
    }

    // The independent parser's alarms of the file over the same days.
    QStringList ParserRings(const QString& ics, const QDate& first, const QDate& last) {
        QProcess python;
        const QString exe = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
                                ? QStringLiteral("/usr/bin/python3")
                                : QStringLiteral("python3");
        python.start(exe, {Here(QStringLiteral("expand_ics.py")), ics, first.toString(Qt::ISODate),
                           last.toString(Qt::ISODate)});
        EXPECT_TRUE(python.waitForFinished(60000));
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
        QStringList rings =
            QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        rings.sort();
        return rings;
    }

    QString Ics() const { return dir_->filePath(QStringLiteral("out.ics")); }

    int Count() { return GetIntValue(QStringLiteral("select count(*) from Alam")); }

    std::unique_ptr<TPinnedClock> clock_;
    QByteArray oldZone_;
};

// What a reminder means: kind, its day (by kind), time, days ahead, seen mark and text.
QStringList Describe(const QList<TAlamRecord>& alams) {
    QStringList rows;
    for (const TAlamRecord& a : alams) {
        QString day;
        if (a.ReDay == rdOnce)
            day = a.AlamDate.toString(Qt::ISODate);
        else if (a.ReDay == rdYearly)
            day = a.AlamDate.toString(QStringLiteral("MM-dd"));
        else if (a.ReDay != rdDaily)
            day = QString::number(a.iMonWeek);
        rows << QStringLiteral("%1 %2 %3:%4 %5 %6 %7")
                    .arg(a.ReDay)
                    .arg(day)
                    .arg(a.iHour)
                    .arg(a.iMinute)
                    .arg(a.AheadDays)
                    .arg(a.bLook ? 1 : 0)
                    .arg(a.ReMark);
    }
    return rows;
}

} // namespace

// Every kind, month ends, leap day, leap months, day 30 and days ahead included: the alarms another
// parser expands from the file ring on exactly the minutes the program's due check fires, for two
// years.
TEST_F(IcsTest, ExportedOccurrencesMatchTheDueCheckForTwoYears) {
    Add(rdOnce, 9, 30, 1, QDate(2026, 12, 20), QStringLiteral("交报告"));
    Add(rdOnce, 23, 59, 1, QDate(2028, 2, 29), QStringLiteral("闰日"));
    Add(rdOnce, 8, 0, 1, QDate(2025, 3, 1), QStringLiteral("早已过去"));
    Add(rdDaily, 7, 5, 1, QDate(2026, 1, 1), QStringLiteral("吃早饭"), true);
    Add(rdWeekly, 8, 0, 135, QDate(2026, 1, 1), QStringLiteral("健身"));
    Add(rdWeekly, 21, 15, 7, QDate(2026, 1, 1), QStringLiteral("周日晚 'x' @#@ 😀"));
    Add(rdMonthly, 12, 0, 31, QDate(2026, 1, 1), QStringLiteral("月底对账"));
    Add(rdMonthly, 6, 45, 29, QDate(2026, 1, 1), QStringLiteral("二十九号"));
    Add(rdMonthly, 0, 0, 1, QDate(2026, 1, 1), QStringLiteral("月初\n第二行"));
    Add(rdWeekly, 9, 0, 0, QDate(2026, 1, 1), QStringLiteral("没有星期"));
    Add(rdMonthly, 9, 0, 32, QDate(2026, 1, 1), QStringLiteral("三十二号"));
    Add(rdYearly, 8, 0, 1, QDate(2024, 2, 29), QStringLiteral("闰日生日"), false, 2);
    Add(rdYearly, 18, 30, 1, QDate(2026, 12, 9), QStringLiteral("纪念日"), false, 30);
    Add(rdLunarYearly, 9, 0, 815, QDate(2026, 9, 25), QStringLiteral("中秋"), false, 3);
    Add(rdLunarYearly, 7, 0, 10408, QDate(2026, 1, 1), QStringLiteral("闰四月初八"));
    Add(rdLunarYearly, 20, 0, 1230, QDate(2026, 1, 1), QStringLiteral("除夕（三十）"), false, 1);
    Add(rdLunarYearly, 6, 0, 101, QDate(2026, 1, 1), QStringLiteral("春节"));

    const TExchangeResult result = ExportIcs(Ics());
    EXPECT_EQ(result.Count, 15);
    EXPECT_EQ(result.Skipped, QStringList({QStringLiteral("“没有星期”：永远不会到期"),
                                           QStringLiteral("“三十二号”：永远不会到期")}));

    const QDate first(2026, 12, 7), last(2028, 12, 7);
    const QStringList ours = QuilletRings(first, last);
    EXPECT_GT(ours.size(), 950);
    EXPECT_EQ(ParserRings(Ics(), first, last), ours);
}

TEST_F(IcsTest, ReimportAddsNothingAndAFreshFileGetsTheSameReminders) {
    Add(rdOnce, 9, 30, 1, QDate(2026, 12, 20), QStringLiteral("引号 'a' \"b\" @#@ 😀"));
    Add(rdDaily, 7, 5, 1, QDate(2026, 1, 1), QStringLiteral("吃早饭\n两行"), true);
    Add(rdWeekly, 8, 0, 246, QDate(2026, 1, 1), QStringLiteral("健身"));
    Add(rdMonthly, 12, 0, 31, QDate(2026, 1, 1), QStringLiteral("对账; 逗号, 反斜杠\\"));
    Add(rdYearly, 8, 0, 1, QDate(2028, 2, 29), QStringLiteral("闰日"), false, 2);
    Add(rdLunarYearly, 7, 0, 10408, QDate(2026, 1, 1), QStringLiteral("闰四月初八"), true, 30);
    const QStringList before = Describe(ReadAlams());
    ExportIcs(Ics());

    const TImportSummary again = ImportIcs(Ics());
    EXPECT_EQ(again.Imported, 0);
    EXPECT_EQ(Count(), 6);
    EXPECT_TRUE(again.Text().startsWith(QStringLiteral("导入了0条提醒，跳过6条：\n")))
        << again.Text();
    EXPECT_TRUE(again.Skipped.contains(QStringLiteral("“健身”：已有相同的提醒")));

    ExecSql(QStringLiteral("delete from Alam"));
    const TImportSummary fresh = ImportIcs(Ics());
    EXPECT_EQ(fresh.Text(), QStringLiteral("导入了6条提醒，跳过0条。"));
    EXPECT_EQ(Describe(ReadAlams()), before);
}

TEST_F(IcsTest, FilesOfOtherCalendarProgramsImportWhatFitsAndSayWhatNot) {
    const TImportSummary google = ImportIcs(Here(QStringLiteral("data/google-style.ics")));
    EXPECT_EQ(google.Text(), QStringLiteral("导入了3条提醒，跳过6条：\n"
                                            "“妈妈生日”：全天事件没有具体时间\n"
                                            "“站会”：有例外日期（EXDATE）\n"
                                            "“日语课”：重复已经结束\n"
                                            "“吃药”：重复有次数或截止日期（COUNT/UNTIL）\n"
                                            "“纽约电话会”：换算成本地时间后时刻不固定\n"
                                            "“已过的会”：时间已过"));
    const TImportSummary apple = ImportIcs(Here(QStringLiteral("data/apple-style.ics")));
    EXPECT_EQ(apple.Text(), QStringLiteral("导入了2条提醒，跳过6条：\n"
                                           "“读书会”：按第几个星期几重复\n"
                                           "“打扫”：隔几次才重复一次（INTERVAL）\n"
                                           "“读书会（改到周三）”：是重复事件中单独修改的一次\n"
                                           "“散步”：已取消\n"
                                           "“寄快递”：待办事项已完成\n"
                                           "“买菜”：没有开始时间"));
    // Tokyo 10:00 is 9:00 here; UTC times are converted; a past exception is harmless.
    EXPECT_EQ(Describe(ReadAlams()), QStringList({
                                         QStringLiteral("2 13 9:0 0 0 周会"),
                                         QStringLiteral("1  8:30 0 0 喝水"),
                                         QStringLiteral("0 2026-12-15 14:30 0 0 看牙, 带医保卡"),
                                         QStringLiteral("3 15 19:30 0 0 交房租"),
                                         QStringLiteral("0 2026-12-20 9:0 0 0 交电费"),
                                     }));
}

TEST_F(IcsTest, AFileThatIsNotACalendarOrIsDamagedChangesNothing) {
    Add(rdDaily, 7, 5, 1, QDate(2026, 1, 1), QStringLiteral("原有"));
    ExportIcs(Ics());
    const QByteArray good = ReadAll(Ics());
    auto refused = [&](const QByteArray& bytes) {
        QFile f(Ics());
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        ExecSql(QStringLiteral("delete from Alam"));
        try {
            ImportIcs(Ics());
        } catch (const EAppError& e) {
            EXPECT_EQ(Count(), 0);
            return e.Message();
        }
        ADD_FAILURE() << "accepted: " << bytes.left(60).toStdString();
        return QString();
    };
    EXPECT_TRUE(refused("hello, world\r\n").startsWith(QStringLiteral("这不是日历文件")));
    EXPECT_TRUE(refused(good.left(good.size() - 30)).startsWith(QStringLiteral("日历文件已损坏")));
    QByteArray broken = good;
    broken.replace("RRULE:FREQ=DAILY", "RRULE:FREQ=SOMETIMES");
    EXPECT_TRUE(refused(broken).startsWith(QStringLiteral("日历文件已损坏")));
    EXPECT_THROW(ImportIcs(dir_->filePath(QStringLiteral("missing.ics"))), EAppError);
    EXPECT_EQ(Count(), 0);
}

TEST_F(IcsTest, LunarAndYearlyEventsWithDaysAhead) {
    const TImportSummary summary = ImportIcs(Here(QStringLiteral("data/lunar-style.ics")));
    EXPECT_EQ(summary.Text(), QStringLiteral("导入了2条提醒，跳过4条：\n"
                                             "“闰六月初一”：农历缺日时的处理方式不同（SKIP）\n"
                                             "“逾越节”：使用了不支持的历法（HEBREW）\n"
                                             "“闰日生日”：重复规则无法表示\n"
                                             "“腊八”：有另加的日期（RDATE）"));
    EXPECT_EQ(Describe(ReadAlams()),
              QStringList({QStringLiteral("5 815 8:0 7 0 奶奶生日（农历八月十五）"),
                           QStringLiteral("4 05-20 19:0 1 0 结婚纪念日")}));
}
