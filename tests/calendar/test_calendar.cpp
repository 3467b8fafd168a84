#include "common/UntLunar.h"

#include "TestSupport.h"

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <memory>

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

} // namespace
