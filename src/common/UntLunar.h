#pragma once

#include <QDate>
#include <QString>

// The Chinese lunar calendar (农历) for the Gregorian days 1901-01-01 to 2099-12-31, and the
// yearly reminder dates built on it.
//
// Lunar month-day of a yearly lunar reminder (column iMonWeek): month * 100 + day, plus 10000
// for a leap month (八月十五 is 815, 闰四月初八 is 10408).

struct TLunarDate {
    int year = 0;  // the lunar year, numbered as the Gregorian year its 正月初一 falls in
    int month = 0; // 1..12
    int day = 0;   // 1..30
    bool leap = false;
    bool IsValid() const { return year != 0; }
};

inline constexpr int LunarFirstYear = 1901;
inline constexpr int LunarLastYear = 2099;

TLunarDate SolarToLunar(const QDate& day); // invalid outside 1901-2099
int LeapMonthOf(int lunarYear);            // 0 when the year has none
// 29 or 30; 0 when the year has no such month.
int LunarMonthDays(int lunarYear, int month, bool leap);
// The Gregorian day of a lunar date, with the users' rules: day 30 in a 29-day month is that
// month's last day; a leap month in a year without it is the ordinary month of that number.
// Invalid QDate when out of range.
QDate LunarToSolar(int lunarYear, int month, int day, bool leap);
int EncodeLunarMonthDay(int month, int day, bool leap); // -> iMonWeek
int LunarMonthOf(int monthDay);
int LunarDayOf(int monthDay);
bool LunarLeapOf(int monthDay);
// The day a lunar-yearly reminder (iMonWeek) falls on in lunar year lunarYear.
QDate LunarYearlyDay(int monthDay, int lunarYear);
// The first day >= from on which a yearly reminder falls: kind 4 with alamDate (29 February
// falls on 28 February in other years), kind 5 with monthDay. Invalid when there is none in
// range.
QDate NextYearlyDay(const QDate& alamDate, const QDate& from);
QDate NextLunarYearlyDay(int monthDay, const QDate& from);

QString LunarMonthText(int month, bool leap); // "正月", "八月", "闰四月", "冬月", "腊月"
QString LunarDayText(int day); // "初一" … "初十", "十一" … "二十", "廿一" … "三十"
QString LunarMonthDayText(int monthDay); // 815 -> "八月十五", 10408 -> "闰四月初八"
QString LunarDateText(const QDate& day); // "农历十月廿九"; empty outside the range

// Works out the month table every function above reads (a good part of the start-up's time)
// now, e.g. on a thread of its own while the window is being made; safe from any thread.
void PrepareLunarCalendar();
