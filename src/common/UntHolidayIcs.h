#pragma once

#include "UntWorkdays.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A holiday schedule from an iCalendar file as holiday data sets and subscription calendars
// publish it: all-day events, one per holiday period or make-up day (DTEND exclusive, or a
// DURATION), named like "元旦(休)", "春节(班)", "春节 休", "春节调休上班", "国庆节补班"; events
// named without a mark say it in X-APPLE-SPECIAL-DAY or a DESCRIPTION of just 休 or 班.
// Events that say neither (festivals, observances such as 情人节) are left out: they are no
// days off. Short and English names become the notices' names (清明 -> 清明节, "Spring
// Festival" -> 春节).
struct THolidayFile {
    // Every calendar year the file has days in, ascending. A year counts as covered when it
    // has at least one 休 day; it is whole when its 1 January is 休 (see THolidayYear). A
    // file with only a December, or a year with only 班 days, gives a part of a year, which
    // Workdays::Import lays over the days it holds without replacing the year.
    QList<THolidayYear> Years;
    // Why the file gives nothing, in Chinese; empty when Years holds the schedule.
    QString Error;
    QList<int> CoveredYears() const;
};

THolidayFile ReadHolidayIcs(const QString& path);
// The bytes of a calendar file (UTF-8, else GB18030).
THolidayFile ParseHolidayIcs(const QByteArray& data);
