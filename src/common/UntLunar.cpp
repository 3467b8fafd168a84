#include "UntLunar.h"

#include <lunar-date/lunar-date.h>

#include <QStringList>
#include <algorithm>
#include <optional>
#include <vector>

namespace {

// One lunar month and the Julian day of its first day.
struct TLunarMonth {
    int year;
    int month;
    bool leap;
    qint64 start;
};

// Months whose first day the library's table puts one day off the official calendar; ICU's
// astronomical calendar and a second table-based calendar agree on the days given here, and
// none of these new moons falls near midnight in Beijing.
struct TMonthStart {
    int year;
    int month;
    bool leap;
    QDate start;
};
const TMonthStart OfficialStarts[] = {
    {1933, 6, false, QDate(1933, 7, 23)},  {1954, 11, false, QDate(1954, 11, 25)},
    {1956, 11, false, QDate(1956, 12, 2)}, {1978, 8, false, QDate(1978, 9, 3)},
    {2060, 4, false, QDate(2060, 4, 30)},
};

// The table reaches back to the lunar year that 1901-01-01 falls in and on to the first day
// of the lunar year after the last one, which closes the last month.
constexpr int TableFirstYear = LunarFirstYear - 1;

const qint64 FirstDay = QDate(LunarFirstYear, 1, 1).toJulianDay();
const qint64 LastDay = QDate(LunarLastYear, 12, 31).toJulianDay();

// The Gregorian Julian day of a lunar month's first day, 0 when the library has no such month.
qint64 LibraryMonthStart(LunarDate* date, int year, int month, bool leap) {
    GError* error = nullptr;
    lunar_date_set_lunar_date(date, static_cast<GDateYear>(year), static_cast<GDateMonth>(month), 1,
                              0, leap, &error);
    if (error) {
        g_error_free(error);
        return 0;
    }
    gchar* text = lunar_date_strftime(date, "%(year) %(month) %(day)");
    const QStringList parts = QString::fromUtf8(text).split(QLatin1Char(' '));
    g_free(text);
    if (parts.size() != 3)
        return 0;
    const QDate day(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
    return day.isValid() ? day.toJulianDay() : 0;
}

// Whether a lunar month has a 30th day (else it has 29); nothing when the library has no such
// month. The library checks the day without working out any date text, which is what makes
// a table of two centuries quick.
std::optional<bool> LibraryHasDay30(LunarDate* date, int year, int month, bool leap) {
    GError* error = nullptr;
    lunar_date_set_lunar_date(date, static_cast<GDateYear>(year), static_cast<GDateMonth>(month),
                              30, 0, leap, &error);
    if (!error)
        return true;
    const bool shortMonth = error->code == LUNAR_DATE_ERROR_DAY;
    g_error_free(error);
    return shortMonth ? std::optional<bool>(false) : std::nullopt;
}

class TLunarTable {
public:
    TLunarTable() {
        if (!Build()) {
            months_.clear();
            yearFirst_.clear();
        }
    }

    bool Empty() const { return months_.size() < 2; }

    // Index of the month holding Julian day jd, -1 outside the table.
    int MonthAt(qint64 jd) const {
        if (Empty() || jd < months_.front().start || jd >= months_.back().start)
            return -1;
        auto it = std::upper_bound(months_.begin(), months_.end(), jd,
                                   [](qint64 v, const TLunarMonth& m) { return v < m.start; });
        return static_cast<int>(it - months_.begin()) - 1;
    }

    int Find(int year, int month, bool leap) const {
        if (year < TableFirstYear || year > LunarLastYear || Empty())
            return -1;
        const int end = yearFirst_[year - TableFirstYear + 1];
        for (int i = yearFirst_[year - TableFirstYear]; i < end; ++i)
            if (months_[i].month == month && months_[i].leap == leap)
                return i;
        return -1;
    }

    const TLunarMonth& At(int i) const { return months_[i]; }
    int Length(int i) const { return static_cast<int>(months_[i + 1].start - months_[i].start); }

    int LeapMonth(int year) const {
        if (year < TableFirstYear || year > LunarLastYear || Empty())
            return 0;
        const int end = yearFirst_[year - TableFirstYear + 1];
        for (int i = yearFirst_[year - TableFirstYear]; i < end; ++i)
            if (months_[i].leap)
                return months_[i].month;
        return 0;
    }

private:
    bool Build() {
        // Made once and kept: the library's free function leaves the date object itself
        // behind, and unreferencing it too is not safe across the library's versions.
        static LunarDate* const date = lunar_date_new();
        // Each year's first day from the library, the months after it by their lengths; the
        // next year's first day must be where the last month ends.
        qint64 next = 0;
        for (int year = TableFirstYear; year <= LunarLastYear; ++year) {
            yearFirst_.push_back(static_cast<int>(months_.size()));
            qint64 start = LibraryMonthStart(date, year, 1, false);
            if (start == 0 || (next != 0 && start != next))
                return false;
            for (int month = 1; month <= 12; ++month) {
                const std::optional<bool> long30 = LibraryHasDay30(date, year, month, false);
                if (!long30)
                    return false;
                months_.push_back({year, month, false, start});
                start += *long30 ? 30 : 29;
                // A leap month follows the ordinary month of its number.
                if (const std::optional<bool> leap30 = LibraryHasDay30(date, year, month, true)) {
                    months_.push_back({year, month, true, start});
                    start += *leap30 ? 30 : 29;
                }
            }
            next = start;
        }
        yearFirst_.push_back(static_cast<int>(months_.size()));
        const qint64 close = LibraryMonthStart(date, LunarLastYear + 1, 1, false);
        if (close == 0 || close != next)
            return false;
        months_.push_back({LunarLastYear + 1, 1, false, close});
        for (const TMonthStart& fix : OfficialStarts) {
            const int i = Find(fix.year, fix.month, fix.leap);
            if (i < 0)
                return false;
            months_[i].start = fix.start.toJulianDay();
        }
        // Every month must follow the one before it after 29 or 30 days, and the range must
        // be covered; anything else means the library answered nonsense.
        for (size_t i = 1; i < months_.size(); ++i) {
            const qint64 length = months_[i].start - months_[i - 1].start;
            if (length != 29 && length != 30)
                return false;
        }
        return months_.front().start <= FirstDay && months_.back().start > LastDay;
    }

    std::vector<TLunarMonth> months_;
    std::vector<int> yearFirst_; // first month index of each lunar year, plus the end
};

const TLunarTable& Table() {
    static const TLunarTable table;
    return table;
}

QDate InRange(qint64 jd) {
    return jd >= FirstDay && jd <= LastDay ? QDate::fromJulianDay(jd) : QDate();
}

} // namespace

TLunarDate SolarToLunar(const QDate& day) {
    if (!day.isValid() || day.toJulianDay() < FirstDay || day.toJulianDay() > LastDay)
        return {};
    const TLunarTable& table = Table();
    const int i = table.MonthAt(day.toJulianDay());
    if (i < 0)
        return {};
    const TLunarMonth& m = table.At(i);
    return {m.year, m.month, static_cast<int>(day.toJulianDay() - m.start) + 1, m.leap};
}

int LeapMonthOf(int lunarYear) {
    return Table().LeapMonth(lunarYear);
}

int LunarMonthDays(int lunarYear, int month, bool leap) {
    const int i = Table().Find(lunarYear, month, leap);
    return i < 0 ? 0 : Table().Length(i);
}

QDate LunarToSolar(int lunarYear, int month, int day, bool leap) {
    if (month < 1 || month > 12 || day < 1 || day > 30)
        return {};
    const TLunarTable& table = Table();
    if (leap && table.LeapMonth(lunarYear) != month)
        leap = false;
    const int i = table.Find(lunarYear, month, leap);
    if (i < 0)
        return {};
    return InRange(table.At(i).start + std::min(day, table.Length(i)) - 1);
}

int EncodeLunarMonthDay(int month, int day, bool leap) {
    return (leap ? 10000 : 0) + month * 100 + day;
}

int LunarMonthOf(int monthDay) {
    return monthDay % 10000 / 100;
}

int LunarDayOf(int monthDay) {
    return monthDay % 100;
}

bool LunarLeapOf(int monthDay) {
    return monthDay >= 10000;
}

QDate LunarYearlyDay(int monthDay, int lunarYear) {
    return LunarToSolar(lunarYear, LunarMonthOf(monthDay), LunarDayOf(monthDay),
                        LunarLeapOf(monthDay));
}

QDate NextYearlyDay(const QDate& alamDate, const QDate& from) {
    if (!alamDate.isValid() || !from.isValid())
        return {};
    for (int year = from.year(); year <= from.year() + 1; ++year) {
        const int day = alamDate.month() == 2 && alamDate.day() == 29 && !QDate::isLeapYear(year)
                            ? 28
                            : alamDate.day();
        const QDate candidate(year, alamDate.month(), day);
        if (candidate >= from)
            return candidate;
    }
    return {};
}

QDate NextLunarYearlyDay(int monthDay, const QDate& from) {
    if (!from.isValid() || from.toJulianDay() > LastDay)
        return {};
    const int first = from.toJulianDay() < FirstDay ? TableFirstYear : SolarToLunar(from).year;
    // The lunar year holding from, or the next one: a year is longer than any gap to it.
    for (int year = first; year <= first + 1; ++year) {
        const QDate candidate = LunarYearlyDay(monthDay, year);
        if (candidate.isValid() && candidate >= from)
            return candidate;
    }
    return {};
}

QString LunarMonthText(int month, bool leap) {
    static const char16_t* const names[] = {u"正", u"二", u"三", u"四", u"五", u"六",
                                            u"七", u"八", u"九", u"十", u"冬", u"腊"};
    if (month < 1 || month > 12)
        return QString();
    return (leap ? QStringLiteral("闰") : QString()) + QString::fromUtf16(names[month - 1]) +
           QStringLiteral("月");
}

QString LunarDayText(int day) {
    static const char16_t* const digits[] = {u"十", u"一", u"二", u"三", u"四",
                                             u"五", u"六", u"七", u"八", u"九"};
    if (day < 1 || day > 30)
        return QString();
    if (day == 10)
        return QStringLiteral("初十");
    if (day == 20)
        return QStringLiteral("二十");
    if (day == 30)
        return QStringLiteral("三十");
    static const char16_t* const tens[] = {u"初", u"十", u"廿"};
    return QString::fromUtf16(tens[day / 10]) + QString::fromUtf16(digits[day % 10]);
}

QString LunarMonthDayText(int monthDay) {
    const QString month = LunarMonthText(LunarMonthOf(monthDay), LunarLeapOf(monthDay));
    const QString day = LunarDayText(LunarDayOf(monthDay));
    return month.isEmpty() || day.isEmpty() ? QString() : month + day;
}

QString LunarDateText(const QDate& day) {
    const TLunarDate lunar = SolarToLunar(day);
    if (!lunar.IsValid())
        return QString();
    return QStringLiteral("农历") +
           LunarMonthDayText(EncodeLunarMonthDay(lunar.month, lunar.day, lunar.leap));
}

void PrepareLunarCalendar() {
    Table();
}
