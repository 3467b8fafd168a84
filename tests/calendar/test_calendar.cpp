#include "common/UntHolidayIcs.h"
#include "common/UntLunar.h"
#include "common/UntWorkdays.h"

#include "TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

QDate D(const char* iso) {
    return QDate::fromString(QString::fromLatin1(iso), Qt::ISODate);
}

QString Show(const TLunarDate& l) {
    return QStringLiteral("%1-%2%3-%4").arg(l.year).arg(l.leap ? "*" : "").arg(l.month).arg(l.day);
}

TEST(Lunar, PublishedDates) {
    // Spring Festival and Mid-Autumn, both ways.
    const struct {
        const char* day;
        int year, month, dayOfMonth;
    } facts[] = {
        {"2025-01-29", 2025, 1, 1},  {"2026-02-17", 2026, 1, 1},  {"2027-02-06", 2027, 1, 1},
        {"2026-09-25", 2026, 8, 15}, {"2027-09-15", 2027, 8, 15}, {"1978-09-17", 1978, 8, 15},
    };
    for (const auto& f : facts) {
        EXPECT_EQ(Show(SolarToLunar(D(f.day))), Show({f.year, f.month, f.dayOfMonth, false}))
            << f.day;
        EXPECT_EQ(LunarToSolar(f.year, f.month, f.dayOfMonth, false), D(f.day)) << f.day;
    }
    EXPECT_EQ(Show(SolarToLunar(D("2027-02-05"))), Show({2026, 12, 29, false}));
    EXPECT_EQ(LunarDateText(D("2026-12-07")), QStringLiteral("农历十月廿九"));
}

TEST(Lunar, LeapMonths) {
    EXPECT_EQ(LeapMonthOf(2025), 6);
    EXPECT_EQ(LeapMonthOf(2026), 0);
    EXPECT_EQ(LeapMonthOf(2033), 11);
    EXPECT_EQ(Show(SolarToLunar(D("2025-07-25"))), Show({2025, 6, 1, true}));
    EXPECT_EQ(Show(SolarToLunar(D("2025-07-24"))), Show({2025, 6, 30, false}));
    EXPECT_EQ(LunarToSolar(2025, 6, 1, true), D("2025-07-25"));
    // 闰六月 in a year without one is the ordinary 六月.
    EXPECT_EQ(LunarToSolar(2026, 6, 1, true), LunarToSolar(2026, 6, 1, false));
    EXPECT_TRUE(LunarToSolar(2026, 6, 1, false).isValid());
    EXPECT_EQ(LunarYearlyDay(EncodeLunarMonthDay(6, 1, true), 2025), D("2025-07-25"));
    EXPECT_EQ(LunarYearlyDay(EncodeLunarMonthDay(6, 1, false), 2025), D("2025-06-25"));
    EXPECT_EQ(LunarMonthDays(2026, 6, true), 0);
}

TEST(Lunar, DayThirtyInAShortMonth) {
    // 2025's 闰六月 has 29 days: day 30 falls on its 29th, the day before 七月初一.
    ASSERT_EQ(LunarMonthDays(2025, 6, true), 29);
    const QDate seventh = LunarToSolar(2025, 7, 1, false);
    EXPECT_EQ(LunarToSolar(2025, 6, 30, true), seventh.addDays(-1));
    EXPECT_EQ(LunarToSolar(2025, 6, 29, true), seventh.addDays(-1));
    EXPECT_EQ(LunarMonthDays(2025, 6, false), 30);
    EXPECT_EQ(LunarToSolar(2025, 6, 30, false), D("2025-07-24"));
}

TEST(Lunar, NextOccurrences) {
    const int midAutumn = EncodeLunarMonthDay(8, 15, false);
    EXPECT_EQ(midAutumn, 815);
    EXPECT_EQ(EncodeLunarMonthDay(4, 8, true), 10408);
    EXPECT_EQ(NextLunarYearlyDay(midAutumn, D("2026-09-25")), D("2026-09-25"));
    EXPECT_EQ(NextLunarYearlyDay(midAutumn, D("2026-09-26")), D("2027-09-15"));
    // From a day in January, before 正月初一: still the lunar year before.
    EXPECT_EQ(NextLunarYearlyDay(EncodeLunarMonthDay(12, 30, false), D("2027-01-10")),
              D("2027-02-05"));
    EXPECT_FALSE(NextLunarYearlyDay(midAutumn, D("2099-12-01")).isValid());

    const QDate leapDay = D("2024-02-29");
    EXPECT_EQ(NextYearlyDay(leapDay, D("2027-01-01")), D("2027-02-28"));
    EXPECT_EQ(NextYearlyDay(leapDay, D("2028-01-01")), D("2028-02-29"));
    EXPECT_EQ(NextYearlyDay(leapDay, D("2027-03-01")), D("2028-02-29"));
    EXPECT_EQ(NextYearlyDay(D("2020-12-07"), D("2026-12-07")), D("2026-12-07"));
}

TEST(Lunar, Texts) {
    EXPECT_EQ(LunarMonthDayText(815), QStringLiteral("八月十五"));
    EXPECT_EQ(LunarMonthDayText(10408), QStringLiteral("闰四月初八"));
    EXPECT_EQ(LunarMonthDayText(101), QStringLiteral("正月初一"));
    EXPECT_EQ(LunarMonthDayText(1230), QStringLiteral("腊月三十"));
    EXPECT_EQ(LunarMonthDayText(1110), QStringLiteral("冬月初十"));
    EXPECT_EQ(LunarMonthDayText(520), QStringLiteral("五月二十"));
    EXPECT_EQ(LunarMonthDayText(921), QStringLiteral("九月廿一"));
    EXPECT_EQ(LunarMonthDayText(1311), QString());
    EXPECT_TRUE(LunarDateText(D("1900-12-31")).isEmpty());
    EXPECT_FALSE(SolarToLunar(D("2100-01-01")).IsValid());
    EXPECT_TRUE(SolarToLunar(D("1901-01-01")).IsValid());
    EXPECT_TRUE(SolarToLunar(D("2099-12-31")).IsValid());
}

// Days on which ICU's astronomical Chinese calendar departs from the official one, each with
// its reason. Every other day of 1901-2099 must agree with ICU.
struct TAccepted {
    const char* first;
    const char* last;
    const char* reason;
};
const TAccepted IcuDepartures[] = {
    {"1917-03-23", "1917-05-20",
     "leap month: official 闰二月, ICU 闰三月; the calendar of the time was reckoned for "
     "Beijing's own meridian, ICU reckons at UTC+8"},
    {"1922-06-25", "1922-08-22", "leap month: official 闰五月, ICU 闰六月; as for 1917"},
    {"1954-02-03", "1954-03-04", "new moon minutes before midnight: 正月初一 is 02-03"},
    {"1955-02-22", "1955-03-23", "new moon near midnight: 二月初一 is 02-22"},
    {"1987-07-26", "1987-09-22",
     "leap month: official 闰六月, ICU 闰七月; a principal solar term falls within hours of "
     "the new moon and ICU's approximate astronomy puts it in the other month"},
    {"1999-01-17", "1999-02-15", "new moon minutes before midnight: 腊月初一 is 01-17"},
    {"2012-08-17", "2012-09-15", "new moon minutes before midnight: 七月初一 is 08-17"},
    {"2018-11-07", "2018-12-06", "new moon minutes after midnight: 十月初一 is 11-08"},
    {"2027-02-06", "2027-03-07", "new moon minutes before midnight: 正月初一 is 02-06"},
    {"2030-02-02", "2030-03-03", "new moon minutes after midnight: 正月初一 is 02-03"},
    {"2070-03-12", "2070-04-10", "new moon near midnight: 二月初一 is 03-12"},
};

TEST(Lunar, EveryDayAgreesWithIcuButItsKnownDepartures) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> icu(icu::Calendar::createInstance(
        icu::TimeZone::getGMT()->clone(), icu::Locale("zh_CN@calendar=chinese"), status));
    ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    ASSERT_STREQ(icu->getType(), "chinese");

    // Runs of consecutive days that differ, as "first..last".
    QStringList runs;
    QDate runStart, previous;
    QString firstDifference;
    const QDate last = D("2099-12-31");
    for (QDate day = D("1901-01-01"); day <= last; day = day.addDays(1)) {
        const TLunarDate ours = SolarToLunar(day);
        // Noon UTC lies inside the same day in Beijing.
        icu->setTime((static_cast<double>(day.toJulianDay() - 2440588) * 86400 + 43200) * 1000,
                     status);
        const TLunarDate theirs{icu->get(UCAL_EXTENDED_YEAR, status) - 2637,
                                icu->get(UCAL_MONTH, status) + 1, icu->get(UCAL_DATE, status),
                                icu->get(UCAL_IS_LEAP_MONTH, status) != 0};
        const bool same = ours.year == theirs.year && ours.month == theirs.month &&
                          ours.day == theirs.day && ours.leap == theirs.leap;
        if (!same) {
            if (!runStart.isValid() || previous.addDays(1) != day) {
                if (runStart.isValid())
                    runs << runStart.toString(Qt::ISODate) + ".." + previous.toString(Qt::ISODate);
                runStart = day;
            }
            previous = day;
            if (firstDifference.isEmpty())
                firstDifference =
                    day.toString(Qt::ISODate) + ": ours " + Show(ours) + ", ICU " + Show(theirs);
        }
    }
    ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    if (runStart.isValid())
        runs << runStart.toString(Qt::ISODate) + ".." + previous.toString(Qt::ISODate);

    QStringList accepted;
    for (const TAccepted& a : IcuDepartures)
        accepted << QString::fromLatin1(a.first) + ".." + QString::fromLatin1(a.last);
    EXPECT_EQ(runs.join(' '), accepted.join(' ')) << "first difference " << firstDifference;
}

// Workdays tests leave the shipped schedule as they found it.
class WorkdaysTest : public ::testing::Test {
protected:
    void TearDown() override { Workdays::Reset(); }
};

const QString NextYearFile = QStringLiteral(QUILLET_TEST_FOLDER "/holidays-2027.ics");

// A calendar of all-day events, each "summary|first day|day after the last" (yyyyMMdd).
QByteArray Calendar(const QStringList& events) {
    QString text = QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//CN\r\n");
    int uid = 0;
    for (const QString& e : events) {
        const QStringList f = e.split(u'|');
        text += QStringLiteral("BEGIN:VEVENT\r\nUID:%1\r\nDTSTAMP:20261101T000000Z\r\n"
                               "DTSTART;VALUE=DATE:%2\r\nDTEND;VALUE=DATE:%3\r\n"
                               "SUMMARY:%4\r\nEND:VEVENT\r\n")
                    .arg(++uid)
                    .arg(f[1], f[2], f[0]);
    }
    return (text + QStringLiteral("END:VCALENDAR\r\n")).toUtf8();
}

TEST_F(WorkdaysTest, ShippedSchedule) {
    QList<int> years;
    for (int y = 2004; y <= 2026; ++y)
        years << y;
    EXPECT_EQ(Workdays::KnownYears(), years);

    // 2026 as the State Council announced it: 33 days off, 6 make-up weekend days.
    int off = 0;
    QStringList makeUp;
    for (QDate d(2026, 1, 1); d.year() == 2026; d = d.addDays(1)) {
        off += Workdays::DayKind(d) == dkHoliday;
        if (Workdays::DayKind(d) == dkMakeUpWork && d.dayOfWeek() >= 6 && Workdays::IsWorkday(d))
            makeUp << d.toString(QStringLiteral("MM-dd"));
    }
    EXPECT_EQ(off, 33);
    EXPECT_EQ(makeUp.size(), 6) << makeUp.join(' ');
    EXPECT_EQ(Workdays::StatusText(QDate(2026, 2, 17)), QStringLiteral("休 春节"));
    EXPECT_EQ(Workdays::StatusText(QDate(2026, 10, 10)), QStringLiteral("班 国庆节"));
    EXPECT_EQ(Workdays::StatusText(QDate(2026, 3, 7)), QString()); // an ordinary Saturday
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2026, 3, 7)));
    // Beyond the schedule, Monday to Friday.
    EXPECT_TRUE(Workdays::IsWorkday(QDate(2027, 2, 8)));
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2027, 1, 31)));

    EXPECT_EQ(Workdays::MissingScheduleText(QDate(2026, 10, 31)), QString());
    EXPECT_EQ(Workdays::MissingScheduleText(QDate(2026, 11, 1)),
              QStringLiteral("2027年放假安排未导入"));
    EXPECT_EQ(Workdays::MissingScheduleText(QDate(2025, 12, 31)), QString());

    // The text form is the shipped file's own, line for line.
    QFile shipped(QStringLiteral(QUILLET_SOURCE_DIR "/src/resources/holidays/china-holidays.txt"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    QString lines;
    for (const QString& line : QString::fromUtf8(shipped.readAll()).split(u'\n'))
        if (!line.isEmpty() && !line.startsWith(u'#'))
            lines += line + u'\n';
    EXPECT_EQ(Workdays::YearsText(Workdays::KnownYears()), lines);
}

// Days on which Debian's python3-workalendar departs from the shipped schedule, each with its
// reason. Every other day of 2018-2023 must agree.
const TAccepted WorkalendarDepartures[] = {
    {"2020-01-31", "2020-02-01",
     "the epidemic extended the Spring Festival to 02-02 (国办发明电〔2020〕1号); workalendar "
     "keeps the schedule announced before it, with 01-31 an ordinary Friday and 02-01 (a "
     "Saturday) a make-up working day"},
};

TEST_F(WorkdaysTest, EveryDayOf2018To2023AgreesWithWorkalendar) {
    const QString python = QStringLiteral("/usr/bin/python3"); // where Debian installs the module
    if (!QFileInfo(python).isExecutable())
        GTEST_SKIP() << "no /usr/bin/python3";
    QProcess lister;
    lister.start(python, {QStringLiteral(QUILLET_TEST_FOLDER "/workalendar_days.py")});
    ASSERT_TRUE(lister.waitForFinished(120000));
    const QString errors = QString::fromUtf8(lister.readAllStandardError());
    if (lister.exitCode() != 0 && errors.contains(QLatin1String("No module named 'workalendar'")))
        GTEST_SKIP() << "python3-workalendar is not installed";
    ASSERT_EQ(lister.exitCode(), 0) << errors;

    // Runs of consecutive days that differ, as "first..last", and each day's two answers.
    QStringList runs, answers;
    QDate runStart, previous;
    int days = 0;
    for (const QByteArray& line : lister.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split('\t');
        const QDate day = QDate::fromString(QString::fromLatin1(f[0]), Qt::ISODate);
        ASSERT_TRUE(day.isValid() && f.size() == 2) << line.constData();
        ++days;
        const bool ours = Workdays::IsWorkday(day);
        if (ours == (f[1] == "W"))
            continue;
        answers << day.toString(Qt::ISODate) +
                       (ours ? ": ours work, workalendar off" : ": ours off, workalendar work");
        if (!runStart.isValid() || previous.addDays(1) != day) {
            if (runStart.isValid())
                runs << runStart.toString(Qt::ISODate) + ".." + previous.toString(Qt::ISODate);
            runStart = day;
        }
        previous = day;
    }
    if (runStart.isValid())
        runs << runStart.toString(Qt::ISODate) + ".." + previous.toString(Qt::ISODate);
    EXPECT_EQ(days, QDate(2018, 1, 1).daysTo(QDate(2024, 1, 1)));
    QStringList accepted;
    for (const TAccepted& a : WorkalendarDepartures)
        accepted << QString::fromLatin1(a.first) + ".." + QString::fromLatin1(a.last);
    EXPECT_EQ(runs.join(' '), accepted.join(' ')) << answers.join("; ");
}

// The shipped file is what scripts/make-holidays.py makes of the data set. The package comes
// from npm's own cache only, never the network: where it is not cached (npm cache add
// chinese-days@1.5.7) the test is skipped.
TEST_F(WorkdaysTest, ShippedFileIsTheDataSetsOwn) {
    const QString npm = QStandardPaths::findExecutable(QStringLiteral("npm"));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (npm.isEmpty() || python.isEmpty())
        GTEST_SKIP() << "needs npm and python3";
    QTemporaryDir dir;
    QProcess pack;
    pack.setWorkingDirectory(dir.path());
    pack.start(npm, {"pack", "--offline", "--pack-destination", dir.path(), "chinese-days@1.5.7"});
    if (!pack.waitForFinished(60000) || pack.exitCode() != 0)
        GTEST_SKIP() << "chinese-days 1.5.7 is not in npm's cache";
    const QString package = dir.filePath(QStringLiteral("chinese-days-1.5.7.tgz"));
    QProcess check;
    check.start(python, {QStringLiteral(QUILLET_SOURCE_DIR "/scripts/make-holidays.py"), "--check",
                         package});
    ASSERT_TRUE(check.waitForFinished(60000));
    EXPECT_EQ(check.exitCode(), 0)
        << check.readAllStandardOutput().constData() << check.readAllStandardError().constData();

    // The data set's calendar files, one a year in Chinese and in English, read back to the
    // shipped days.
    QProcess unpack;
    unpack.setWorkingDirectory(dir.path());
    unpack.start(QStringLiteral("tar"), {"xzf", package});
    ASSERT_TRUE(unpack.waitForFinished(60000) && unpack.exitCode() == 0);
    for (int year = 2004; year <= 2026; ++year) {
        for (const char* language : {"", ".en"}) {
            const QString name =
                QStringLiteral("package/dist/years/%1%2.ics").arg(year).arg(language);
            const THolidayFile file = ReadHolidayIcs(dir.filePath(name));
            ASSERT_EQ(file.Error, QString()) << name;
            for (const THolidayYear& y : file.Years) {
                EXPECT_EQ(y.Whole, y.Year == year) << name;
                for (auto d = y.Days.cbegin(); d != y.Days.cend(); ++d) {
                    const TDayStatus shipped = Workdays::DayStatus(d.key());
                    EXPECT_EQ(d->Kind, shipped.Kind)
                        << name << " " << d.key().toString(Qt::ISODate);
                    if (*language == 0) {
                        EXPECT_EQ(d->Holiday, shipped.Holiday) << name;
                    }
                }
            }
        }
    }
}

TEST_F(WorkdaysTest, NextYearFromACalendarFile) {
    const THolidayFile file = ReadHolidayIcs(NextYearFile);
    ASSERT_EQ(file.Error, QString());
    EXPECT_EQ(file.CoveredYears(), QList<int>{2027});
    ASSERT_EQ(file.Years.size(), 1);
    EXPECT_TRUE(file.Years[0].Whole);
    QStringList days;
    for (auto d = file.Years[0].Days.cbegin(); d != file.Years[0].Days.cend(); ++d)
        days << d.key().toString(QStringLiteral("MMdd")) + (d->Kind == dkHoliday ? "休" : "班") +
                    d->Holiday;
    // Multi-day events end the day before DTEND (or after DURATION); 情人节 is no day off.
    EXPECT_EQ(days.join(' '),
              QStringLiteral("0101休元旦 0102休元旦 0103休元旦 0131班春节 0205休春节 0206休春节 "
                             "0207休春节 0208休春节 0209休春节 0210休春节 0211休春节 0212休春节 "
                             "0213休春节 0220班春节 0403休清明节 0404休清明节 0405休清明节 "
                             "0501休劳动节 0502休劳动节 0503休劳动节 0504休劳动节 0505休劳动节 "
                             "0508班劳动节 0609休端午节 0915休中秋节 0926班国庆节 1001休国庆节 "
                             "1002休国庆节 1003休国庆节 1004休国庆节 1005休国庆节 1006休国庆节 "
                             "1007休国庆节 1009班国庆节"));

    EXPECT_FALSE(Workdays::IsYearKnown(2027));
    Workdays::Import(file.Years);
    EXPECT_TRUE(Workdays::IsYearKnown(2027));
    EXPECT_EQ(Workdays::ImportedYears(), QList<int>{2027});
    EXPECT_EQ(Workdays::MissingScheduleText(QDate(2026, 11, 1)), QString());
    EXPECT_TRUE(Workdays::IsWorkday(QDate(2027, 1, 31)));  // a make-up Sunday
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2027, 2, 8)));  // a Monday of 春节
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2027, 2, 14))); // 情人节, a Sunday
    EXPECT_EQ(Workdays::StatusText(QDate(2027, 5, 8)), QStringLiteral("班 劳动节"));

    // The text form brings the imported year back as it was.
    const QString text = Workdays::YearsText(Workdays::ImportedYears());
    Workdays::Reset();
    EXPECT_FALSE(Workdays::IsYearKnown(2027));
    QString error;
    Workdays::Import(Workdays::ParseYearsText(text, &error));
    EXPECT_EQ(error, QString());
    EXPECT_TRUE(Workdays::IsYearKnown(2027));
    EXPECT_EQ(Workdays::YearsText({2027}), text);
}

TEST_F(WorkdaysTest, AWholeYearReplacesAPartOverlays) {
    // 2026 imported whole: its shipped 春节 and make-up days are gone.
    const THolidayFile whole = ParseHolidayIcs(Calendar({"元旦(休)|20260101|20260104"}));
    ASSERT_EQ(whole.Error, QString());
    Workdays::Import(whole.Years);
    EXPECT_TRUE(Workdays::IsWorkday(QDate(2026, 2, 16)));
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2026, 1, 4)));
    EXPECT_EQ(Workdays::StatusText(QDate(2026, 1, 2)), QStringLiteral("休 元旦"));
    Workdays::Reset();

    // Only a December: laid over 2026 as shipped; an unknown 2030 stays unknown.
    const THolidayFile part = ParseHolidayIcs(Calendar(
        {"元旦 休|20261231|20270101", "元旦(休)|20301230|20310102", "元旦(班)|20301228|20301229"}));
    ASSERT_EQ(part.Error, QString());
    EXPECT_EQ(part.CoveredYears(), (QList<int>{2026, 2030, 2031}));
    ASSERT_EQ(part.Years.size(), 3);
    EXPECT_FALSE(part.Years[0].Whole);
    EXPECT_TRUE(part.Years[2].Whole); // 2031 from its 1 January
    Workdays::Import(part.Years);
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2026, 2, 16)));
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2026, 12, 31)));
    EXPECT_TRUE(Workdays::IsYearKnown(2026));
    EXPECT_FALSE(Workdays::IsYearKnown(2030));
    EXPECT_TRUE(Workdays::IsWorkday(QDate(2030, 12, 28))); // a make-up Saturday
    EXPECT_FALSE(Workdays::IsWorkday(QDate(2030, 12, 30)));
}

TEST_F(WorkdaysTest, FilesWithoutAScheduleAreRefused) {
    EXPECT_EQ(
        ParseHolidayIcs(Calendar({"情人节|20270214|20270215", "母亲节|20270509|20270510"})).Error,
        QStringLiteral("日历文件里没有放假安排（名称带“休”或“班”的事件），没有导入放假安排。"));
    EXPECT_EQ(ParseHolidayIcs("元旦(休) 2027-01-01").Error,
              QStringLiteral("这不是日历文件（iCalendar），没有导入放假安排。"));
    const THolidayFile clash =
        ParseHolidayIcs(Calendar({"春节(休)|20270205|20270214", "春节(班)|20270206|20270207"}));
    EXPECT_TRUE(clash.Years.isEmpty());
    EXPECT_TRUE(clash.Error.contains(QLatin1String("2027-02-06"))) << clash.Error;
    EXPECT_TRUE(ReadHolidayIcs(QStringLiteral("/nonexistent/holidays.ics"))
                    .Error.startsWith(QStringLiteral("无法读取日历文件：")));
}

TEST_F(WorkdaysTest, ReadsWhileAnotherThreadImports) {
    const THolidayFile file = ReadHolidayIcs(NextYearFile);
    ASSERT_EQ(file.Error, QString());
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (!stop) {
            const TDayStatus s = Workdays::DayStatus(QDate(2027, 1, 31));
            if ((s.Kind == dkMakeUpWork) != (s.Holiday == u"春节"))
                ++mixed;
        }
    });
    for (int i = 0; i < 100; ++i) {
        Workdays::Import(file.Years);
        Workdays::Reset();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(mixed, 0);
}

class WorkdaysEngineTest : public DbTest {
protected:
    void TearDown() override {
        Workdays::Reset();
        DbTest::TearDown();
    }
};

TEST_F(WorkdaysEngineTest, DayKindAndIsWorkdayInStatements) {
    // A make-up Sunday, a Monday of 春节, an ordinary Monday and Sunday, a Monday of 2027.
    const QString days = QStringLiteral(
        "(select '2026-01-04' d union all select '2026-02-16' union all select '2026-03-02' "
        "union all select '2026-03-01' union all select '2027-02-08')");
    const auto list = [&](const QString& where) {
        DbAccess->OpenQuery("select group_concat(d,' ') from " + days + " where " + where);
        return DbAccess->MainCursor.AsString(0);
    };
    EXPECT_EQ(list("IsWorkday(d)=1"), QStringLiteral("2026-01-04 2026-03-02 2027-02-08"));
    EXPECT_EQ(list("DayKind(d)=1"), QStringLiteral("2026-02-16"));
    EXPECT_EQ(list("DayKind(d)=2"), QStringLiteral("2026-01-04"));
    EXPECT_EQ(GetIntValue("select IsWorkday(NULL) is null and DayKind('x') is null"), 1);
    TPinnedClock clock(At("2026-10-10 08:00:00"));
    EXPECT_EQ(GetIntValue("select DayKind(Date())"), 2);

    // An imported year reaches the statements that follow.
    Workdays::Import(ReadHolidayIcs(NextYearFile).Years);
    EXPECT_EQ(list("IsWorkday(d)=1"), QStringLiteral("2026-01-04 2026-03-02"));
}

} // namespace
