#include "TestSupport.h"

#include "common/UntBackground.h"
#include "common/UntClock.h"
#include "common/UntWorkdays.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamIcs.h"
#include "storage/UException.h"
#include "sync/UntSyncIcs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>
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
               bool seen = false, int aheadDays = 0, bool skipHolidays = false) {
        TAlam alam;
        alam.AheadDays = aheadDays;
        alam.SkipHolidays = skipHolidays;
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

// Every value of each reminder, its day included.
QStringList Whole(const QList<TAlamRecord>& alams) {
    QStringList rows;
    for (const TAlamRecord& a : alams)
        rows << QStringLiteral("%1 %2 %3:%4 %5 %6 %7 %8 %9")
                    .arg(a.ReDay)
                    .arg(a.iMonWeek)
                    .arg(a.iHour)
                    .arg(a.iMinute)
                    .arg(a.AlamDate.toString(Qt::ISODate))
                    .arg(a.AheadDays)
                    .arg(a.bLook ? 1 : 0)
                    .arg(a.SkipHolidays ? 1 : 0)
                    .arg(a.ReMark);
    return rows;
}

TAlamRecord Record(int reDay, int monWeek, const QDate& day, const QString& text, int ahead = 0,
                   bool seen = false, bool skipHolidays = false) {
    TAlamRecord a;
    a.SkipHolidays = skipHolidays;
    a.ReDay = reDay;
    a.iHour = 8;
    a.iMinute = 15;
    a.iMonWeek = monWeek;
    a.AlamDate = day;
    a.ReMark = text;
    a.AheadDays = ahead;
    a.bLook = seen;
    return a;
}

// What another program lists: each output line as "yyyy-MM-dd HH:mm title", sorted.
QStringList Listed(const QString& program, const QStringList& arguments, const QString& marker) {
    QProcess p;
    p.start(program, arguments);
    EXPECT_TRUE(p.waitForFinished(120000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QStringList lines;
    for (QString line : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n'))
        if (line.startsWith(marker))
            lines << line.mid(marker.size()).trimmed();
    lines.sort();
    return lines;
}

} // namespace

// Every kind through both forms of the one mapping: a file and a synced object come back as
// the same reminder, its stored day and seen mark included; no form uses a calendar scale
// that other programs refuse.
TEST_F(IcsTest, EveryKindComesBackWholeThroughBothForms) {
    const QList<TAlamRecord> kinds = {
        Record(rdOnce, 1, QDate(2026, 12, 20), QStringLiteral("两行\r\n文字 'a' @#@ 😀")),
        Record(rdDaily, 1, QDate(2026, 1, 3), QStringLiteral("每天"), 0, true),
        Record(rdWeekly, 135, QDate(2026, 2, 1), QStringLiteral("每周")),
        Record(rdMonthly, 31, QDate(2026, 3, 1), QStringLiteral("每月")),
        Record(rdYearly, 1, QDate(2024, 2, 29), QStringLiteral("闰日"), 2),
        Record(rdYearly, 1, QDate(2027, 12, 9), QStringLiteral("存的是明年"), 30, true),
        Record(rdLunarYearly, 815, QDate(2026, 9, 25), QStringLiteral("中秋"), 3),
        Record(rdLunarYearly, 10408, QDate(2026, 1, 1), QStringLiteral("闰四月初八")),
        Record(rdLunarYearly, 1230, QDate(2026, 1, 1), QStringLiteral("三十"), 1),
        Record(rdWorkdays, 1, QDate(2026, 3, 2), QStringLiteral("法定工作日"), 0, true),
        Record(rdWeekly, 246, QDate(2026, 2, 1), QStringLiteral("节假日不提醒"), 0, false, true)};
    const QDateTime now = At("2026-12-07 10:00:00");

    QStringList skipped;
    const QByteArray file = AlamsToIcs(kinds, now, &skipped);
    EXPECT_FALSE(file.contains("RSCALE"));
    EXPECT_TRUE(file.contains("DTSTART:20261209T081500\r\nSUMMARY:存的是明年")) << "first due day";
    TImportSummary summary;
    EXPECT_EQ(Whole(IcsToAlams(file, now, &summary)), Whole(kinds));
    EXPECT_EQ(summary.Text(), QStringLiteral("导入了0条提醒，跳过0条。"));

    QList<TAlamRecord> synced = kinds;
    synced << Record(rdWeekly, 0, QDate(2026, 4, 1), QStringLiteral("没有星期"));
    QList<TAlamRecord> back;
    for (const TAlamRecord& a : synced) {
        TSyncReminder r;
        static_cast<TAlamRecord&>(r) = a;
        r.Uid = QStringLiteral("u-%1").arg(back.size());
        const QByteArray ics = ReminderToIcs(r, now);
        EXPECT_FALSE(ics.contains("RSCALE")) << ics.toStdString();
        TSyncReminder read;
        QDateTime changed;
        QString why;
        EXPECT_TRUE(ReminderFromIcs(ics, read, changed, why)) << why.toStdString();
        EXPECT_EQ(read.Uid, r.Uid);
        back << read;
    }
    EXPECT_EQ(Whole(back), Whole(synced));

    // Another program moves the yearly event: its new day wins over the one Quillet kept.
    TSyncReminder yearly;
    static_cast<TAlamRecord&>(yearly) = kinds.at(5);
    yearly.Uid = QStringLiteral("y");
    QByteArray moved = ReminderToIcs(yearly, now);
    moved.replace("DTSTART:20261209T081500", "DTSTART:20261215T081500");
    TSyncReminder read;
    QDateTime changed;
    QString why;
    ASSERT_TRUE(ReminderFromIcs(moved, read, changed, why)) << why.toStdString();
    EXPECT_EQ(read.AlamDate, QDate(2026, 12, 15));
}

// Other calendar programs import the exported file without a complaint and list the very
// days and times the due check rings, lunar days included, for two years.
TEST_F(IcsTest, KhalAndCalcurseListTheDaysTheDueCheckRings) {
    for (const char* tool : {"khal", "calcurse"})
        ASSERT_FALSE(QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            << tool << " is not installed; run scripts/setup.sh";
    Add(rdOnce, 9, 30, 1, QDate(2026, 12, 20), QStringLiteral("交报告"));
    Add(rdDaily, 7, 5, 1, QDate(2026, 1, 1), QStringLiteral("吃早饭"));
    Add(rdWeekly, 8, 0, 135, QDate(2026, 1, 1), QStringLiteral("健身"));
    Add(rdMonthly, 12, 0, 31, QDate(2026, 1, 1), QStringLiteral("月底对账"));
    Add(rdYearly, 8, 0, 1, QDate(2024, 2, 29), QStringLiteral("闰日生日"), false, 2);
    Add(rdYearly, 18, 30, 1, QDate(2027, 12, 9), QStringLiteral("纪念日"));
    Add(rdLunarYearly, 9, 0, 815, QDate(2026, 9, 25), QStringLiteral("中秋"), false, 3);
    Add(rdLunarYearly, 7, 0, 10408, QDate(2026, 1, 1), QStringLiteral("闰四月初八"));
    Add(rdLunarYearly, 20, 0, 1230, QDate(2026, 1, 1), QStringLiteral("除夕"));
    ExportIcs(Ics());

    // The due check's own rings, without the notices some days ahead.
    const QDate first(2026, 12, 7), last(2028, 12, 7);
    QStringList ours;
    TAlam alam;
    QSet<QTime> times;
    for (const TAlamRecord& a : ReadAlams())
        times.insert(QTime(a.iHour, a.iMinute));
    for (QDate day = first; day < last; day = day.addDays(1))
        for (const QTime& t : times)
            for (const TDueAlam& due : alam.DueList(QDateTime(day, t)))
                if (!due.Text.startsWith(QStringLiteral("还有")))
                    ours << QDateTime(day, t).toString(QStringLiteral("yyyy-MM-dd HH:mm ")) +
                                due.Text;
    ours.sort();
    ASSERT_GT(ours.size(), 1000);

    const QString home = dir_->path();
    QFile config(home + "/khal.conf");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("[calendars]\n[[q]]\npath = %1/vdir\ntype = calendar\n"
                                "[locale]\nlocal_timezone = Asia/Shanghai\n"
                                "default_timezone = Asia/Shanghai\n"
                                "dateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\n"
                                "datetimeformat = %Y-%m-%d %H:%M\n"
                                "longdatetimeformat = %Y-%m-%d %H:%M\n"
                                "[sqlite]\npath = %1/khal.db\n")
                     .arg(home)
                     .toUtf8());
    config.close();
    QDir().mkpath(home + "/vdir");
    Listed("khal", {"-c", config.fileName(), "import", "--batch", "-a", "q", Ics()}, "");
    EXPECT_EQ(Listed("khal",
                     {"-c", config.fileName(), "list", "--day-format", "", "--format",
                      "= {start} {title}", "2026-12-07", "2028-12-06"},
                     "= "),
              ours);

    QDir().mkpath(home + "/calcurse");
    const QStringList at = {"-D", home + "/calcurse"};
    Listed("calcurse", at + QStringList{"-i", Ics()}, "");
    const QString format = QStringLiteral("= %(start:%Y-%m-%d %H:%M) %m\n");
    EXPECT_EQ(Listed("calcurse",
                     at + QStringList{"-Q", "--from", "12/07/2026", "--days", "731", "--format-apt",
                                      format, "--format-recur-apt", format},
                     "= "),
              ours);
}

// Times that are none, texts in the national encoding or broken ones, a last-of-February
// series from the first years of the era and a series too long to walk.
TEST_F(IcsTest, OddFilesAreReadSoundlyAndEveryLossIsNamed) {
    auto file = [](const QString& events) {
        return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n") + events +
               QStringLiteral("END:VCALENDAR\r\n");
    };
    auto event = [](const QString& uid, const QString& lines) {
        return QStringLiteral("BEGIN:VEVENT\r\nUID:%1\r\nDTSTAMP:20260101T000000Z\r\n").arg(uid) +
               lines + QStringLiteral("END:VEVENT\r\n");
    };
    auto write = [this](const QByteArray& bytes) {
        QFile f(Ics());
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    write(file(event("a", "DTSTART:20261220T250000\r\nSUMMARY:二十五点\r\n") +
               event("b", "DTSTART:20270230T090000\r\nSUMMARY:二月三十\r\n") +
               event("c", "DTSTART:00020228T080000\r\nRRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=-1"
                          "\r\nSUMMARY:二月最后一天\r\n") +
               event("d", "DTSTART:20200101T000000\r\nRRULE:FREQ=MINUTELY;COUNT=5000000\r\n"
                          "SUMMARY:很长\r\n"))
              .toUtf8());
    EXPECT_EQ(ImportIcs(Ics()).Text(),
              QStringLiteral("导入了1条提醒，跳过3条：\n"
                             "“二十五点”：开始时间无效\n"
                             "“二月三十”：开始时间无效\n"
                             "“很长”：重复有次数或截止日期（COUNT/UNTIL）"));
    EXPECT_EQ(Describe(ReadAlams()), QStringList({QStringLiteral("4 02-29 8:0 0 0 二月最后一天")}));
    EXPECT_EQ(FirstDueDay(ReadAlams().at(0), QDate(2026, 12, 7)), QDate(2027, 2, 28));

    ExecSql(QStringLiteral("delete from Alam"));
    QStringEncoder gb("GB18030");
    ASSERT_TRUE(gb.isValid());
    write(gb(file(event("e", "DTSTART:20261220T090000\r\nSUMMARY:体检\r\n"))));
    EXPECT_EQ(ImportIcs(Ics()).Text(), QStringLiteral("导入了1条提醒，跳过0条。"));
    QByteArray broken = file(event("f", "DTSTART:20261221T090000\r\nSUMMARY:X\r\n")).toUtf8();
    broken.replace("SUMMARY:X", "SUMMARY:\xff\xfe\xff");
    write(broken);
    const QString text = ImportIcs(Ics()).Text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("导入了1条提醒，跳过0条。\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("无法识别的字符"))) << text;
    EXPECT_EQ(Describe(ReadAlams()).first(), QStringLiteral("0 2026-12-20 9:0 0 0 体检"));
}

// A large import runs behind the real progress window; 取消 there leaves the data as it was.
TEST_F(IcsTest, ACancelledImportStoresNothing) {
    QList<TAlamRecord> many;
    for (int i = 0; i < 6000; ++i)
        many << Record(rdDaily, 1, QDate(2026, 1, 1), QStringLiteral("第%1条").arg(i));
    QFile f(Ics());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(AlamsToIcs(many, Clock::Now(), nullptr));
    f.close();
    bool shown = false;
    WhenModal<QProgressDialog>(
        [&](QProgressDialog* dialog) {
            shown = true;
            UserClick(dialog->findChild<QPushButton*>());
        },
        nullptr, 20000);
    EXPECT_THROW(RunWithProgress(nullptr, QStringLiteral("正在导入提醒…"),
                                 [&](TProgress& progress) { ImportIcs(Ics(), &progress); }),
                 EAbort);
    EXPECT_TRUE(shown);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(ImportIcs(Ics()).Imported, 6000);
}

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

// The official calendar: a 法定工作日 reminder and daily and weekly ones that skip holidays,
// expanded from the file by another parser, ring on exactly the days the program's schedule
// says, in the known year and beyond it; the file brings back the same reminders. The same
// rule and exceptions from another program are not taken for the kind.
TEST_F(IcsTest, WorkdaysAndSkippedHolidaysAsAnotherParserExpandsThem) {
    clock_->Set(At("2026-01-03 10:00:00")); // a 休 Saturday before a 班 Sunday
    const qint64 workdays = Add(rdWorkdays, 9, 0, 1, QDate(2026, 1, 3), QStringLiteral("打卡"));
    const qint64 daily =
        Add(rdDaily, 7, 30, 1, QDate(2026, 1, 3), QStringLiteral("吃药"), true, 0, true);
    const qint64 weekly =
        Add(rdWeekly, 18, 0, 135, QDate(2026, 1, 3), QStringLiteral("健身"), false, 0, true);
    ExportIcs(Ics());

    const QDate first(2026, 1, 1), last(2027, 3, 1);
    QStringList ours;
    for (QDate day = Clock::Now().date(); day < last; day = day.addDays(1)) {
        const QString on = day.toString(Qt::ISODate);
        if (Workdays::IsWorkday(day))
            ours << QStringLiteral("%1 %2 09:00").arg(workdays).arg(on);
        if (Workdays::DayKind(day) != dkHoliday) {
            ours << QStringLiteral("%1 %2 07:30").arg(daily).arg(on);
            if (day.dayOfWeek() % 2 == 1 && day.dayOfWeek() < 7)
                ours << QStringLiteral("%1 %2 18:00").arg(weekly).arg(on);
        }
    }
    ours.sort();
    EXPECT_GT(ours.size(), 800);
    EXPECT_EQ(ParserRings(Ics(), first, last), ours);

    const QStringList before = Whole(ReadAlams());
    ExecSql(QStringLiteral("delete from Alam"));
    EXPECT_EQ(ImportIcs(Ics()).Text(), QStringLiteral("导入了3条提醒，跳过0条。"));
    EXPECT_EQ(Whole(ReadAlams()), before);

    // Without the kind's mark, or with an exception that is no holiday, it is another
    // program's weekly event with exceptions.
    const QByteArray file = ReadAll(Ics());
    for (const auto& [from, to] :
         {std::pair<QByteArray, QByteArray>("X-QUILLET-WORKDAYS:CN\r\n", ""),
          std::pair<QByteArray, QByteArray>(
              "X-QUILLET-WORKDAYS:CN\r\n",
              "X-QUILLET-WORKDAYS:CN\r\nEXDATE:20260310T090000\r\n")}) {
        ExecSql(QStringLiteral("delete from Alam"));
        QFile f(Ics());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(file).replace(from, to));
        f.close();
        EXPECT_TRUE(
            ImportIcs(Ics()).Skipped.contains(QStringLiteral("“打卡”：有例外日期（EXDATE）")));
    }
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
