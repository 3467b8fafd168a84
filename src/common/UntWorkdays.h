#pragma once

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>

// China's official workday calendar: the State Council's yearly holiday schedule (放假安排),
// as shipped with the program (resources/holidays/china-holidays.txt, 2004 on) and as
// imported later from a calendar file. A 休 day is off even on a weekday, a 班 day (调休上班)
// is worked even on a weekend; every other day is ordinary, Monday to Friday worked. A year
// the schedule does not know is ordinary throughout.
//
// Reads are safe from any thread: the schedule is an immutable table that an import swaps
// whole, so a statement on another thread sees either the old table or the new one.

// The values are those of the engine's DayKind().
enum TDayKind { dkOrdinary = 0, dkHoliday = 1, dkMakeUpWork = 2 };

struct TDayStatus {
    TDayKind Kind = dkOrdinary;
    // 休: the holiday ("春节"); 班: the holiday the day pays for; may be empty.
    QString Holiday;
};

// One calendar year of a schedule as read from a file.
struct THolidayYear {
    int Year = 0;
    // The file holds the year's schedule from its start (1 January off; every schedule has
    // 元旦 on it). Otherwise it has a part only, e.g. the December days of the next year's
    // 元旦, or a feed that begins mid-year.
    bool Whole = false;
    QMap<QDate, TDayStatus> Days; // all within Year
};

namespace Workdays {

TDayStatus DayStatus(const QDate& day);
TDayKind DayKind(const QDate& day);
// 休 -> no, 班 -> yes, otherwise Monday to Friday (in a year the schedule knows as well as in
// one it does not).
bool IsWorkday(const QDate& day);
// The year's schedule is shipped or imported whole.
bool IsYearKnown(int year);
QList<int> KnownYears();

// For the bottom bar and the editor: "休 春节", "班 国庆节", "" for an ordinary day.
QString StatusText(const QDate& day);
// From 1 November on, while next year's schedule is missing: "2027年放假安排未导入"; else "".
QString MissingScheduleText(const QDate& today);

// Lays years read from a file over the schedule: a whole year replaces the year's days and
// makes it known; a part of a year overwrites the days it holds and leaves the rest of the
// year, and whether it is known, as they were.
void Import(const QList<THolidayYear>& years);
// The years that imports have changed since start (or Reset), ascending.
QList<int> ImportedYears();
// Back to the shipped schedule alone.
void Reset();

// The years' lines in the shipped file's format: "YYYY<TAB>年" for a known year, then its
// days "YYYY-MM-DD<TAB>休|班<TAB>名". ParseYearsText reads them back (and the shipped file):
// a year with its "年" line is whole, days without one are a part of their year. A line it
// cannot read ends the reading with an error text and nothing returned.
QString YearsText(const QList<int>& years);
QList<THolidayYear> ParseYearsText(const QString& text, QString* error);

} // namespace Workdays
