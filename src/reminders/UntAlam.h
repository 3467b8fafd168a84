#pragma once

#include "common/UntListRows.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class QTreeWidget;

// Repeat kinds of a reminder (column ReDay).
enum TReDay {
    rdOnce = 0,
    rdDaily = 1,
    rdWeekly = 2,
    rdMonthly = 3,
    rdYearly = 4,      // on AlamDate's month and day
    rdLunarYearly = 5, // on the lunar month-day in iMonWeek (month * 100 + day, +10000 leap)
    rdWorkdays = 6,    // on China's official workdays; Monday to Friday beyond the known years
};
// The kinds that can skip official holidays (column SkipHolidays).
inline bool CanSkipHolidays(int reDay) {
    return reDay == 1 || reDay == 2;
}

// Days ahead of a yearly reminder: it also falls due that many days before its day.
constexpr int MaxAheadDays = 30;

// One reminder that falls due in a minute, as its alert shows it.
struct TDueAlam {
    QString ID;
    QString Text; // a days-ahead notice starts with "还有N天："
    bool Repeating = false;
};

// The reminder store: one reminder record plus the statements that read and write the table
// Alam. Callers fill the public fields before Add and Update; Load fills them.
class TAlam {
public:
    QDateTime AlamDate;
    QString ReMark;
    int ReDay = rdOnce;
    int iHour = 0;
    int iMinute = 0;
    int iMonWeek = 1;
    int AheadDays = 0;         // kinds 4 and 5 only
    bool SkipHolidays = false; // kinds 1 and 2 only: not on official holidays
    QString SqlText;           // the statement built last

    void Add();
    // The statement Add runs for the fields; seen also stores the seen mark (an import keeps
    // the mark a reminder had when it was exported).
    QString AddStatement(bool seen = false) const;
    // The reminders under filter 0..7 ("全部提醒", "今天", "明天", "错过", "每天", "每周",
    // "每月", "每年"), the missed one-off reminders marked in column 4.
    TRows ListRows(int filter);
    // Fills view with ListRows(filter).
    void LoadList(QTreeWidget* view, int filter);
    // Brings view in line with ListRows(filter), in place where the order allows.
    void RefreshList(QTreeWidget* view, int filter);
    // Starts reading ListRows(filter) off this thread, on the data file's reader, so that a
    // long list is ready when the window asks for it. ListRows takes the rows when nothing
    // was written since and the clock is still in the same minute, and reads anew otherwise.
    // With items, the list's items are made there too, for LoadList.
    void PrefetchList(int filter, bool items = false);
    // Waits for a prefetch still running and drops it; before the data file closes.
    void DropPrefetch();
    // A prefetch was started and not yet taken or dropped; Prefetched: it has finished
    // reading and waits to be taken.
    bool Prefetching() const { return prefetch_ != nullptr; }
    bool Prefetched() const;
    void Delete(const QString& id);
    void Load(const QString& id);
    void Update(const QString& id);
    // Whether the reminder with that key is still stored (an alert may have deleted it).
    bool Exists(const QString& id);
    void MarkSeen(const QString& id);
    // Moves the reminder to now plus the delay of delayIndex 0..4 (3, 5, 10, 30, 60 minutes).
    void Reschedule(const QString& id, int delayIndex);
    // The reminders due in the minute that starts at minute (run on the side cursor).
    QList<TDueAlam> DueList(const QDateTime& minute);

    TAlam();
    ~TAlam();
    TAlam(TAlam&&) noexcept;
    TAlam& operator=(TAlam&&) noexcept;

private:
    bool HasAheadDays() const; // kinds 4 and 5

    struct TListRead;
    struct TPrefetch;
    std::unique_ptr<TPrefetch> prefetch_;
    // The prefetch's rows when they are still current; the prefetch is gone either way.
    std::optional<TListRead> TakePrefetch(int filter);
};

extern TAlam* AlamData;

// The condition LoadList appends for filter 0..7, to select the same reminders elsewhere.
QString AlamFilterCondition(int filter);

// The reminder's time as the list shows it (column 2), as an expression over a row of Alam.
// Yearly reminders show their month and day ("每年 12月7日", "农历 八月十五"), and their days
// ahead after the time.
inline const QString AlamTimeTextSql = QStringLiteral(
    "IIf(ReDay=0,Format(AlamDate,'YYYY-MM-DD')||' '||Str(iHour)||'时'||Str(iMinute)||'分',  "
    "IIf(ReDay=1,Str(iHour)||'时'||Str(iMinute)||'分'||IIf(SkipHolidays=1,'（节假日不提醒）',''),  "
    "IIF(ReDay=2,'每周'||Str(iMonWeek)||' '||Str(iHour)||'时'||Str(iMinute)||'分'"
    "||IIf(SkipHolidays=1,'（节假日不提醒）',''),  "
    "IIF(ReDay=4,'每年 '||CStr(Month(AlamDate))||'月'||CStr(Day(AlamDate))||'日 '||Str(iHour)"
    "||'时'||Str(iMinute)||'分'||IIf(AheadDays>0,'（提前'||CStr(AheadDays)||'天）',''),  "
    "IIF(ReDay=5,'农历 '||LunarText(iMonWeek)||' '||Str(iHour)||'时'||Str(iMinute)||'分'"
    "||IIf(AheadDays>0,'（提前'||CStr(AheadDays)||'天）',''),  "
    "IIF(ReDay=6,Str(iHour)||'时'||Str(iMinute)||'分'||WorkdayNote(Date()),  "
    "'每月'||Str(iMonWeek)||'号 '||Str(iHour)||'时'||Str(iMinute)||'分' ))))))");

// Texts of the reminder list's columns 1 and 4.
inline const QString AlamOnceText = QStringLiteral("仅一次");
inline const QString AlamDailyText = QStringLiteral("每天");
inline const QString AlamWeeklyText = QStringLiteral("每周");
inline const QString AlamMonthlyText = QStringLiteral("每月");
inline const QString AlamYearlyText = QStringLiteral("每年");
inline const QString AlamLunarYearlyText = QStringLiteral("农历每年");
inline const QString AlamWorkdaysText = QStringLiteral("法定工作日");
// Row colours of the yearly kinds in the list, apart from those of the other kinds and
// readable on white (contrast above 4.5:1).
inline const QColor AlamYearlyColor = QColor(128, 0, 128);
inline const QColor AlamLunarYearlyColor = QColor(176, 96, 0);
inline const QColor AlamWorkdaysColor = QColor(0, 112, 112);
inline const QString AlamSeenText = QStringLiteral("看过的");
inline const QString AlamMissedText = QStringLiteral("错过的");
