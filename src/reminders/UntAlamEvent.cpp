#include "UntAlamEvent.h"

#include "UntAlam.h"
#include "common/UntLunar.h"
#include "common/UntWorkdays.h"
#include "storage/UntSqlText.h"

#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <optional>

namespace {

// The coming days of a lunar reminder written out: ten years of them.
constexpr int LunarRdates = 10;

const char* const IdProperty = "X-QUILLET-ID";
const char* const SeenProperty = "X-QUILLET-SEEN";
const char* const DateProperty = "X-QUILLET-DATE";
const char* const LunarProperty = "X-QUILLET-LUNAR";
const char* const KindProperty = "X-QUILLET-KIND";
const char* const MonWeekProperty = "X-QUILLET-MONWEEK";
const char* const CopyProperty = "X-QUILLET-COPY-OF";
const char* const SummaryRaw = "X-QUILLET-SUMMARY-RAW";
// The official calendar's kind and option: without them the rule and its exceptions read as
// a plain weekly (daily) repeat with exceptions, which Quillet does not take from others.
const char* const WorkdaysProperty = "X-QUILLET-WORKDAYS";
const char* const SkipHolidaysProperty = "X-QUILLET-SKIP-HOLIDAYS";
const char* const OfficialCalendar = "CN";
const char* const WeekdayCodes[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

bool WeekdayChosen(int monWeek, int dayOfWeek) {
    return QString::number(monWeek).contains(QChar(u'0' + dayOfWeek));
}

// The chosen weekdays (Monday = 1) in rising order, each once.
QList<int> Weekdays(int monWeek) {
    QList<int> days;
    for (int d = 1; d <= 7; ++d)
        if (WeekdayChosen(monWeek, d))
            days << d;
    return days;
}

void AddProperty(icalcomponent* c, const QString& line) {
    if (icalproperty* p = icalproperty_new_from_string(line.toUtf8().constData()))
        icalcomponent_add_property(c, p);
}

void AddAlarm(icalcomponent* event, const QString& trigger, const QString& text) {
    icalcomponent* alarm = icalcomponent_new_valarm();
    AddProperty(alarm, QStringLiteral("ACTION:DISPLAY"));
    AddProperty(alarm, QStringLiteral("TRIGGER:") + trigger);
    icalcomponent_add_property(alarm, icalproperty_new_description(text.toUtf8().constData()));
    icalcomponent_add_component(event, alarm);
}

bool SkipsHolidays(const TAlamRecord& a) {
    return CanSkipHolidays(a.ReDay) && a.SkipHolidays;
}

// A day the rule (without the schedule's exceptions) falls on.
bool RuleHits(const TAlamRecord& a, const QDate& day) {
    switch (a.ReDay) {
    case rdDaily:
        return true;
    case rdWeekly:
        return WeekdayChosen(a.iMonWeek, day.dayOfWeek());
    case rdWorkdays:
        return day.dayOfWeek() <= 5;
    default:
        return false;
    }
}

// The last day the holiday schedule can say something about: a year's schedule may hold the
// first days of the next, unknown year.
QDate ScheduleEnd() {
    const QList<int> years = Workdays::KnownYears();
    return years.isEmpty() ? QDate() : QDate(years.last() + 1, 12, 31);
}

// A day written as an exception or extra day of a reminder: at its time, floating.
QString DayAt(const QDate& day, const TAlamRecord& a) {
    return day.toString(QStringLiteral("yyyyMMdd")) +
           QTime(a.iHour, a.iMinute).toString(QStringLiteral("'T'HHmm'00'"));
}

// The first day on or after from that the reminder's rule itself falls on and it rings: a
// 法定工作日 reminder's first workday from Monday to Friday, since programs refuse or skip a
// DTSTART off the rule (calcurse refuses the event); an earlier 班 weekend day is an RDATE.
QDate RuleStart(const TAlamRecord& a, const QDate& from) {
    if (a.ReDay != rdWorkdays)
        return FirstDueDay(a, from);
    for (int i = 0; i < 366; ++i)
        if (const QDate day = from.addDays(i); day.dayOfWeek() <= 5 && Workdays::IsWorkday(day))
            return day;
    return QDate();
}

// What the schedule changes in a reminder's rule: EXDATE on each 休 day the rule falls on from
// start on, RDATE on each 班 weekend day of a 法定工作日 reminder from today on. Beyond the
// schedule the rule alone is what Quillet rings.
void AddScheduleDays(icalcomponent* e, const TAlamRecord& a, const QDate& today,
                     const QDate& start) {
    const bool workdays = a.ReDay == rdWorkdays;
    if (!workdays && !SkipsHolidays(a))
        return;
    const QDate end = ScheduleEnd();
    QStringList extra;
    for (QDate day = today; day.isValid() && day <= end; day = day.addDays(1)) {
        const TDayKind kind = Workdays::DayKind(day);
        if (kind == dkHoliday && day >= start && RuleHits(a, day))
            AddProperty(e, QStringLiteral("EXDATE:") + DayAt(day, a));
        else if (kind == dkMakeUpWork && workdays && day.dayOfWeek() > 5)
            extra << QStringLiteral("RDATE:") + DayAt(day, a);
    }
    for (const QString& line : extra)
        AddProperty(e, line);
}

// The rule of a repeating kind, empty for a one-off and for lunar days (plain dates there).
QString RuleOf(const TAlamRecord& a) {
    switch (a.ReDay) {
    case rdDaily:
        return QStringLiteral("FREQ=DAILY");
    case rdWorkdays:
        return QStringLiteral("FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR");
    case rdWeekly: {
        QStringList codes;
        for (int d : Weekdays(a.iMonWeek))
            codes << QLatin1String(WeekdayCodes[d - 1]);
        return QStringLiteral("FREQ=WEEKLY;BYDAY=") + codes.join(u',');
    }
    case rdMonthly:
        return QStringLiteral("FREQ=MONTHLY;BYMONTHDAY=%1").arg(a.iMonWeek);
    case rdYearly:
        // 29 February falls on the last day of February in other years.
        if (a.AlamDate.month() == 2 && a.AlamDate.day() == 29)
            return QStringLiteral("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=-1");
        return QStringLiteral("FREQ=YEARLY");
    default:
        return QString();
    }
}

QString Utf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

// The moment t names, in this machine's local time; floating times are local already.
QDateTime LocalMoment(const icaltimetype& t) {
    if (t.zone || icaltime_is_utc(t)) {
        const time_t secs = icaltime_as_timet_with_zone(t, t.zone);
        return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(secs));
    }
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

// The schedule gives day this kind, or does not know its year (another machine that does
// wrote it).
bool ScheduleSays(const QDate& day, TDayKind kind) {
    return Workdays::DayKind(day) == kind || !Workdays::IsYearKnown(day.year());
}

bool HasBy(const short* list) {
    return list[0] != ICAL_RECURRENCE_ARRAY_MAX;
}

QList<int> ByValues(const short* list, int size) {
    QList<int> values;
    for (int i = 0; i < size && list[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        values << list[i];
    return values;
}

// Why an event cannot become a reminder; empty when it can, with *out filled.
class TEventReader {
public:
    TEventReader(icalcomponent* event, const TEventReading& how) : e_(event), how_(how) {}
    QString Read(TAlamRecord* out);
    QString Title() const { return title_; }

private:
    QString ReadStart();
    QString ReadRule(const icalrecurrencetype& rule, TAlamRecord* a);
    QString ReadKept(TAlamRecord* a);
    void ReadSchedule(TAlamRecord* a);
    bool Marked(const char* name) const;
    QString CheckZone(TAlamRecord* a);
    QString CheckExceptions(const TAlamRecord& a);
    QString CheckExtraDates(const TAlamRecord& a);
    int AheadDays();
    bool Ended(const icalrecurrencetype& rule);
    QDate KeptDate() const;

    icalcomponent* e_;
    TEventReading how_;
    QString title_;
    icaltimetype start_{};
    QDateTime local_;
};

QString TEventReader::ReadStart() {
    const bool todo = icalcomponent_isa(e_) == ICAL_VTODO_COMPONENT;
    icalproperty* startProperty = icalcomponent_get_first_property(e_, ICAL_DTSTART_PROPERTY);
    if (!startProperty && todo)
        startProperty = icalcomponent_get_first_property(e_, ICAL_DUE_PROPERTY);
    if (!startProperty)
        return QStringLiteral("没有开始时间");
    start_ = icalproperty_get_datetime_with_component(startProperty, e_);
    if (icaltime_is_null_time(start_))
        return QStringLiteral("没有开始时间");
    // libical takes 25:00 or 30 February as they stand; neither is a moment.
    if (!icaltime_is_valid_time(start_) || start_.hour > 23 || start_.minute > 59 ||
        start_.second > 60 || !QDate::isValid(start_.year, start_.month, start_.day))
        return QStringLiteral("开始时间无效");
    if (start_.is_date)
        return QStringLiteral("全天事件没有具体时间");
    if (icalproperty_get_first_parameter(startProperty, ICAL_TZID_PARAMETER) && !start_.zone)
        return QStringLiteral("时区未知");
    local_ = LocalMoment(start_);
    if (!local_.isValid())
        return QStringLiteral("开始时间无效");
    return QString();
}

QString TEventReader::Read(TAlamRecord* a) {
    title_ = IcsText::Get(e_, ICAL_SUMMARY_PROPERTY, SummaryRaw);
    if (IsBlank(title_))
        title_ = Utf8(icalcomponent_get_description(e_));
    if (IsBlank(title_))
        return QStringLiteral("没有标题");
    if (icalcomponent_get_status(e_) == ICAL_STATUS_CANCELLED)
        return QStringLiteral("已取消");
    if (icalcomponent_get_first_property(e_, ICAL_RECURRENCEID_PROPERTY))
        return QStringLiteral("是重复事件中单独修改的一次");
    if (icalcomponent_isa(e_) == ICAL_VTODO_COMPONENT &&
        icalcomponent_get_status(e_) == ICAL_STATUS_COMPLETED)
        return QStringLiteral("待办事项已完成");
    if (QString why = ReadStart(); !why.isEmpty())
        return why;

    a->ReMark = title_;
    a->iHour = local_.time().hour();
    a->iMinute = local_.time().minute(); // seconds are dropped: reminders fire by the minute
    a->AlamDate = local_.date();
    a->iMonWeek = 1;
    a->bLook = IcsText::X(e_, SeenProperty).trimmed() == QLatin1String("1");
    a->AheadDays = AheadDays();
    a->SkipHolidays = false;
    if (!IcsText::X(e_, KindProperty).isEmpty())
        return ReadKept(a);

    const int rules = icalcomponent_count_properties(e_, ICAL_RRULE_PROPERTY);
    if (rules > 1)
        return QStringLiteral("有多条重复规则");
    const QString lunar = IcsText::X(e_, LunarProperty);
    if (rules == 0 && !lunar.isEmpty()) {
        // Quillet's own lunar form: the first day and the coming ones as plain dates.
        const int monthDay = lunar.toInt();
        if (NextLunarYearlyDay(monthDay, a->AlamDate) != a->AlamDate)
            return QStringLiteral("农历日期与开始日期不符");
        a->ReDay = rdLunarYearly;
        a->iMonWeek = monthDay;
    } else if (rules == 0) {
        if (icalcomponent_get_first_property(e_, ICAL_RDATE_PROPERTY))
            return QStringLiteral("有另加的日期（RDATE）");
        if (how_.OnlyToCome && QDateTime(a->AlamDate, QTime(a->iHour, a->iMinute)) < how_.Now)
            return QStringLiteral("时间已过");
        a->ReDay = rdOnce;
        return QString();
    } else {
        const icalrecurrencetype rule =
            icalproperty_get_rrule(icalcomponent_get_first_property(e_, ICAL_RRULE_PROPERTY));
        if (QString why = ReadRule(rule, a); !why.isEmpty())
            return why;
        ReadSchedule(a);
    }
    if (QString why = CheckExceptions(*a); !why.isEmpty())
        return why;
    if (QString why = CheckZone(a); !why.isEmpty())
        return why;
    if (QString why = CheckExtraDates(*a); !why.isEmpty())
        return why;
    // Quillet repeats from today on: a rule that begins later would fire too early.
    const QDate first = RuleStart(*a, how_.Now.date());
    if (!first.isValid())
        return QStringLiteral("重复规则无法表示");
    if (how_.OnlyToCome && first < local_.date())
        return QStringLiteral("重复从将来某天才开始");
    // The day Quillet keeps, unless another program has moved a yearly event since.
    const QDate kept = KeptDate();
    if (kept.isValid() && (a->ReDay != rdYearly || NextYearlyDay(kept, first) == first))
        a->AlamDate = kept;
    return QString();
}

QDate TEventReader::KeptDate() const {
    return QDate::fromString(IcsText::X(e_, DateProperty).trimmed(), Qt::ISODate);
}

// A reminder that never falls due, as the sync keeps it: its values as they were.
QString TEventReader::ReadKept(TAlamRecord* a) {
    a->ReDay = IcsText::X(e_, KindProperty).toInt();
    a->iMonWeek = IcsText::X(e_, MonWeekProperty).toInt();
    if (a->ReDay < rdOnce || a->ReDay > rdLunarYearly)
        return QStringLiteral("重复规则无法表示");
    if (const QDate kept = KeptDate(); kept.isValid())
        a->AlamDate = kept;
    a->SkipHolidays = CanSkipHolidays(a->ReDay) && Marked(SkipHolidaysProperty);
    return QString();
}

bool TEventReader::Marked(const char* name) const {
    return IcsText::X(e_, name).trimmed() == QLatin1String(OfficialCalendar);
}

// Quillet's own marks of the official calendar, taken while the rule is still the one it
// wrote; the schedule's exceptions are then checked against the schedule.
void TEventReader::ReadSchedule(TAlamRecord* a) {
    if (a->ReDay == rdWeekly && a->iMonWeek == 12345 && Marked(WorkdaysProperty)) {
        a->ReDay = rdWorkdays;
        a->iMonWeek = 1;
    }
    a->SkipHolidays = CanSkipHolidays(a->ReDay) && Marked(SkipHolidaysProperty);
}

QString TEventReader::ReadRule(const icalrecurrencetype& rule, TAlamRecord* a) {
    const bool lunar = rule.rscale && qstricmp(rule.rscale, "CHINESE") == 0;
    if (rule.rscale && !lunar && qstricmp(rule.rscale, "GREGORIAN") != 0)
        return QStringLiteral("使用了不支持的历法（%1）").arg(Utf8(rule.rscale));
    if (rule.count > 0 || !icaltime_is_null_time(rule.until))
        return Ended(rule) ? QStringLiteral("重复已经结束")
                           : QStringLiteral("重复有次数或截止日期（COUNT/UNTIL）");
    if (rule.interval > 1)
        return QStringLiteral("隔几次才重复一次（INTERVAL）");
    if (HasBy(rule.by_second) || HasBy(rule.by_minute) || HasBy(rule.by_hour) ||
        HasBy(rule.by_year_day) || HasBy(rule.by_week_no) || HasBy(rule.by_set_pos))
        return QStringLiteral("重复规则无法表示");
    const QList<int> byDay = ByValues(rule.by_day, ICAL_BY_DAY_SIZE);
    const QList<int> byMonthDay = ByValues(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    const QList<int> byMonth = ByValues(rule.by_month, ICAL_BY_MONTH_SIZE);
    auto weekdays = [&](int* digits) {
        QSet<int> days;
        for (int code : byDay) {
            if (icalrecurrencetype_day_position(static_cast<short>(code)) != 0)
                return false;
            // libical counts Sunday = 1 … Saturday = 7; Quillet Monday = 1 … Sunday = 7
            const int sundayFirst = icalrecurrencetype_day_day_of_week(static_cast<short>(code));
            days.insert(sundayFirst == 1 ? 7 : sundayFirst - 1);
        }
        int number = 0;
        for (int d = 1; d <= 7; ++d)
            if (days.contains(d))
                number = number * 10 + d;
        *digits = number;
        return number != 0;
    };
    const QString cannot = QStringLiteral("重复规则无法表示");
    if (lunar) {
        // RFC 7529's lunar rule, as other programs (and earlier Quillet files) write it.
        if (rule.freq != ICAL_YEARLY_RECURRENCE || !byDay.isEmpty() || byMonth.size() != 1 ||
            byMonthDay.size() != 1)
            return cannot;
        const int month = icalrecurrencetype_month_month(static_cast<short>(byMonth.first()));
        const bool leap = icalrecurrencetype_month_is_leap(static_cast<short>(byMonth.first()));
        const int day = byMonthDay.first();
        if (month < 1 || month > 12 || day < 1 || day > 30)
            return cannot;
        // Skipping a missing day instead of moving back to the month's end differs from
        // Quillet's rule, unless the day exists every year.
        if ((leap || day == 30) && rule.skip != ICAL_SKIP_BACKWARD)
            return QStringLiteral("农历缺日时的处理方式不同（SKIP）");
        a->ReDay = rdLunarYearly;
        a->iMonWeek = EncodeLunarMonthDay(month, day, leap);
        return QString();
    }
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        if (!byMonthDay.isEmpty() || !byMonth.isEmpty())
            return cannot;
        if (byDay.isEmpty()) {
            a->ReDay = rdDaily;
            return QString();
        }
        if (!weekdays(&a->iMonWeek))
            return cannot;
        a->ReDay = rdWeekly;
        return QString();
    case ICAL_WEEKLY_RECURRENCE:
        if (!byMonthDay.isEmpty() || !byMonth.isEmpty())
            return cannot;
        if (byDay.isEmpty())
            a->iMonWeek = local_.date().dayOfWeek();
        else if (!weekdays(&a->iMonWeek))
            return cannot;
        a->ReDay = rdWeekly;
        return QString();
    case ICAL_MONTHLY_RECURRENCE:
        if (!byDay.isEmpty())
            return QStringLiteral("按第几个星期几重复");
        if (!byMonth.isEmpty() || byMonthDay.size() > 1)
            return cannot;
        a->iMonWeek = byMonthDay.isEmpty() ? start_.day : byMonthDay.first();
        if (a->iMonWeek < 1 || a->iMonWeek > 31)
            return QStringLiteral("按倒数第几天重复");
        a->ReDay = rdMonthly;
        return QString();
    case ICAL_YEARLY_RECURRENCE: {
        if (!byDay.isEmpty() || byMonth.size() > 1 || byMonthDay.size() > 1)
            return cannot;
        const QDate start = local_.date();
        const int month = byMonth.isEmpty() ? start.month() : byMonth.first();
        const int day = byMonthDay.isEmpty() ? start.day() : byMonthDay.first();
        a->ReDay = rdYearly;
        if (month == 2 && day == -1) {
            // The last day of February: Quillet's 29 February, kept on a leap year's day (the
            // one before the start, or after it for a start in the first years of the era).
            int year = start.year();
            while (year > 4 && !QDate::isLeapYear(year))
                --year;
            while (!QDate::isLeapYear(year))
                ++year;
            a->AlamDate = QDate(year, 2, 29);
            return QString();
        }
        // Elsewhere 29 February is left out in other years; Quillet moves it to the 28th.
        if (day < 1 || (month == 2 && day == 29))
            return cannot;
        a->AlamDate = QDate(start.year(), month, day);
        return a->AlamDate.isValid() ? QString() : cannot;
    }
    default:
        return cannot;
    }
}

// Extra dates are only kept as the plain-date copy of a lunar reminder's own days, or as the
// 班 weekend days of a 法定工作日 one.
QString TEventReader::CheckExtraDates(const TAlamRecord& a) {
    for (icalproperty* p = icalcomponent_get_first_property(e_, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(e_, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        icaltimetype t = rdate.time;
        if (icaltime_is_null_time(t) || (a.ReDay != rdLunarYearly && a.ReDay != rdWorkdays))
            return QStringLiteral("有另加的日期（RDATE）");
        if (!t.zone && !icaltime_is_utc(t))
            t.zone = start_.zone;
        const QDateTime local =
            t.is_date ? QDateTime(QDate(t.year, t.month, t.day), QTime(a.iHour, a.iMinute))
                      : LocalMoment(t);
        if (local.time() != QTime(a.iHour, a.iMinute))
            return QStringLiteral("有另加的日期（RDATE）");
        if (a.ReDay == rdWorkdays
                ? local.date() >= how_.Now.date() &&
                      (local.date().dayOfWeek() <= 5 || !ScheduleSays(local.date(), dkMakeUpWork))
                : NextLunarYearlyDay(a.iMonWeek, local.date()) != local.date())
            return QStringLiteral("有另加的日期（RDATE）");
    }
    return QString();
}

// A reminder some whole days before the event (1 to 30): Quillet's days ahead.
int TEventReader::AheadDays() {
    int days = 0;
    for (icalcomponent* alarm = icalcomponent_get_first_component(e_, ICAL_VALARM_COMPONENT); alarm;
         alarm = icalcomponent_get_next_component(e_, ICAL_VALARM_COMPONENT)) {
        icalproperty* p = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
        if (!p)
            continue;
        const icaltriggertype trigger = icalproperty_get_trigger(p);
        if (!icaltime_is_null_time(trigger.time))
            continue;
        const int seconds = icaldurationtype_as_int(trigger.duration);
        if (seconds < 0 && seconds % 86400 == 0 && -seconds / 86400 <= MaxAheadDays)
            days = qMax(days, -seconds / 86400);
    }
    return days;
}

bool TEventReader::Ended(const icalrecurrencetype& rule) {
    if (!icaltime_is_null_time(rule.until)) {
        icaltimetype until = rule.until;
        if (!until.zone && !icaltime_is_utc(until))
            until.zone = start_.zone;
        const QDateTime last =
            until.is_date
                ? QDateTime(QDate(until.year, until.month, until.day).addDays(1), QTime(0, 0))
                : LocalMoment(until);
        return last < how_.Now;
    }
    icalrecur_iterator* it = icalrecur_iterator_new(rule, start_);
    if (!it)
        return true;
    // Counted: ended once its last occurrence has passed. A count too large to walk within
    // the limit has not.
    bool ended = false;
    for (int i = 0; i < 100000; ++i) {
        icaltimetype next = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(next)) {
            ended = true;
            break;
        }
        next.zone = start_.zone;
        if (LocalMoment(next) >= how_.Now)
            break;
    }
    icalrecur_iterator_free(it);
    return ended;
}

// Exceptions to come are only kept as the 休 days of a reminder that knows the holidays.
QString TEventReader::CheckExceptions(const TAlamRecord& a) {
    const bool holidays = a.ReDay == rdWorkdays || a.SkipHolidays;
    for (icalproperty* p = icalcomponent_get_first_property(e_, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(e_, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype t = icalproperty_get_datetime_with_component(p, e_);
        const QDateTime local = t.is_date ? QDateTime() : LocalMoment(t);
        const QDate day = t.is_date ? QDate(t.year, t.month, t.day) : local.date();
        if (!day.isValid())
            return QStringLiteral("有例外日期（EXDATE）");
        // Exceptions that have passed change nothing to come.
        if (day < how_.Now.date())
            continue;
        if (!holidays || t.is_date || local.time().hour() != a.iHour ||
            local.time().minute() != a.iMinute || !ScheduleSays(day, dkHoliday))
            return QStringLiteral("有例外日期（EXDATE）");
    }
    return QString();
}

// A repeat kept in another time zone must land on the same local time of day all year;
// daylight-saving rules that differ from this machine's move it.
QString TEventReader::CheckZone(TAlamRecord* a) {
    if (!start_.zone && !icaltime_is_utc(start_))
        return QString();
    std::optional<int> shift;
    QTime time;
    for (int i = 0; i <= 371; i += 7) {
        const QDate day = how_.Now.date().addDays(i);
        icaltimetype t = start_;
        t.year = day.year();
        t.month = day.month();
        t.day = day.day();
        const QDateTime local = LocalMoment(t);
        const int days = static_cast<int>(day.daysTo(local.date()));
        const QTime at(local.time().hour(), local.time().minute());
        if (shift && (*shift != days || time != at))
            return QStringLiteral("换算成本地时间后时刻不固定");
        shift = days;
        time = at;
    }
    a->iHour = time.hour();
    a->iMinute = time.minute();
    if (*shift == 0 || a->ReDay == rdDaily)
        return QString();
    if (a->ReDay == rdWeekly) {
        int number = 0;
        QList<int> days;
        for (int d : Weekdays(a->iMonWeek))
            days << ((d - 1 + *shift) % 7 + 7) % 7 + 1;
        std::sort(days.begin(), days.end());
        for (int d : days)
            number = number * 10 + d;
        a->iMonWeek = number;
        return QString();
    }
    return QStringLiteral("换算成本地时间后日期改变");
}

} // namespace

void QuietLibical() {
    static const bool once = [] {
        icalerror_set_errors_are_fatal(0);
        return true;
    }();
    (void)once;
}

icaltimetype IcsLocalTime(const QDate& day, int hour, int minute) {
    icaltimetype t = icaltime_null_time();
    t.year = day.year();
    t.month = day.month();
    t.day = day.day();
    t.hour = hour;
    t.minute = minute;
    return t;
}

icaltimetype IcsUtcTime(const QDateTime& moment) {
    const QDateTime utc = moment.toUTC();
    icaltimetype t = IcsLocalTime(utc.date(), utc.time().hour(), utc.time().minute());
    t.second = utc.time().second();
    t.zone = icaltimezone_get_utc_timezone();
    return t;
}

QDate FirstDueDay(const TAlamRecord& a, const QDate& from) {
    if (SkipsHolidays(a)) {
        TAlamRecord plain = a;
        plain.SkipHolidays = false;
        QDate day = FirstDueDay(plain, from);
        // Holidays last days, not a year.
        for (int i = 0; i < 366 && day.isValid() && Workdays::DayKind(day) == dkHoliday; ++i)
            day = FirstDueDay(plain, day.addDays(1));
        return day;
    }
    switch (a.ReDay) {
    case rdOnce:
        return a.AlamDate;
    case rdDaily:
        return from;
    case rdWeekly:
        for (int i = 0; i < 7; ++i)
            if (WeekdayChosen(a.iMonWeek, from.addDays(i).dayOfWeek()))
                return from.addDays(i);
        return QDate();
    case rdMonthly: {
        if (a.iMonWeek < 1 || a.iMonWeek > 31)
            return QDate();
        // Every day 1..31 occurs within a year, in the months that have it.
        for (int m = 0; m <= 12; ++m) {
            const QDate month = QDate(from.year(), from.month(), 1).addMonths(m);
            const QDate day(month.year(), month.month(), a.iMonWeek);
            if (day.isValid() && day >= from)
                return day;
        }
        return QDate();
    }
    case rdYearly:
        return NextYearlyDay(a.AlamDate, from);
    case rdLunarYearly:
        return NextLunarYearlyDay(a.iMonWeek, from);
    case rdWorkdays:
        for (int i = 0; i < 366; ++i)
            if (Workdays::IsWorkday(from.addDays(i)))
                return from.addDays(i);
        return QDate();
    default:
        return QDate();
    }
}

std::vector<TComponent> AlamToEvents(const TAlamRecord& a, const QDateTime& now,
                                     const TEventForm& form) {
    QuietLibical();
    std::vector<TComponent> events;
    QDate start = RuleStart(a, now.date());
    const bool neverDue = !start.isValid() || a.ReDay < rdOnce || a.ReDay > rdWorkdays;
    if (neverDue && !form.KeepNeverDue)
        return events;
    if (neverDue)
        start = a.AlamDate.isValid() ? a.AlamDate : now.date();
    const bool lunar = !neverDue && a.ReDay == rdLunarYearly;
    QList<QDate> lunarDays;
    for (QDate day = start; lunar && day.isValid() && lunarDays.size() < LunarRdates;
         day = NextLunarYearlyDay(a.iMonWeek, day.addDays(1)))
        lunarDays << day;
    const QString uid =
        form.Uid.isEmpty() ? QStringLiteral("quillet-alam-%1@quillet").arg(a.ID) : form.Uid;
    const QString text = IcsText::Readable(a.ReMark);
    const int count = lunar && form.LunarDaysAsEvents ? static_cast<int>(lunarDays.size()) : 1;
    for (int n = 0; n < count; ++n) {
        TComponent event(icalcomponent_new_vevent());
        icalcomponent* e = event.get();
        const QString own =
            n == 0 ? uid : QString(uid).replace(u'@', QStringLiteral("-%1@").arg(n + 1));
        icalcomponent_add_property(e, icalproperty_new_uid(own.toUtf8().constData()));
        const icaltimetype stamp = IcsUtcTime(form.Changed.isValid() ? form.Changed : now);
        icalcomponent_add_property(e, icalproperty_new_dtstamp(stamp));
        if (form.Changed.isValid())
            icalcomponent_add_property(e, icalproperty_new_lastmodified(stamp));
        const QDate day = lunar ? lunarDays.value(n, start) : start;
        icalcomponent_add_property(e,
                                   icalproperty_new_dtstart(IcsLocalTime(day, a.iHour, a.iMinute)));
        IcsText::Set(e, icalproperty_new_summary(text.toUtf8().constData()), SummaryRaw, a.ReMark);
        if (neverDue) {
            IcsText::AddX(e, KindProperty, QString::number(a.ReDay));
            IcsText::AddX(e, MonWeekProperty, QString::number(a.iMonWeek));
        } else if (const QString rule = RuleOf(a); !rule.isEmpty()) {
            AddProperty(e, QStringLiteral("RRULE:") + rule);
            AddScheduleDays(e, a, now.date(), start);
            if (a.ReDay == rdWorkdays)
                IcsText::AddX(e, WorkdaysProperty, QLatin1String(OfficialCalendar));
        } else if (lunar) {
            if (!form.LunarDaysAsEvents)
                for (const QDate& other : lunarDays)
                    AddProperty(
                        e, QStringLiteral("RDATE:") + other.toString(QStringLiteral("yyyyMMdd")) +
                               QTime(a.iHour, a.iMinute).toString(QStringLiteral("'T'HHmm'00'")));
            IcsText::AddX(e, LunarProperty, QString::number(a.iMonWeek));
            if (n > 0)
                IcsText::AddX(e, CopyProperty, uid);
        }
        if (SkipsHolidays(a))
            IcsText::AddX(e, SkipHolidaysProperty, QLatin1String(OfficialCalendar));
        if (form.Uid.isEmpty())
            IcsText::AddX(e, IdProperty, QString::number(a.ID));
        IcsText::AddX(e, SeenProperty, a.bLook ? QStringLiteral("1") : QStringLiteral("0"));
        if (a.AlamDate.isValid())
            IcsText::AddX(e, DateProperty, a.AlamDate.toString(Qt::ISODate));
        AddAlarm(e, QStringLiteral("PT0S"), text);
        if (a.AheadDays > 0)
            AddAlarm(e, QStringLiteral("-P%1D").arg(a.AheadDays), text);
        events.push_back(std::move(event));
    }
    return events;
}

QString CopyOf(icalcomponent* event) {
    return IcsText::X(event, CopyProperty);
}

QString EventToAlam(icalcomponent* event, const TEventReading& how, TAlamRecord* a,
                    QString* title) {
    QuietLibical();
    TEventReader reader(event, how);
    const QString why = reader.Read(a);
    if (title)
        *title = reader.Title();
    return why;
}

namespace IcsText {

QStringList Unreadable(icalcomponent* c) {
    static const QRegularExpression named(QStringLiteral(" in ([A-Z-]+) property"));
    QStringList names;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY))
        names << named.match(QString::fromUtf8(icalproperty_get_xlicerror(p))).captured(1);
    return names;
}

QString Readable(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString out;
    out.reserve(t.size());
    for (QChar c : t)
        if (c.unicode() >= 0x20 || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            out += c;
    return out;
}

void Set(icalcomponent* c, icalproperty* p, const char* rawName, const QString& text) {
    icalcomponent_add_property(c, p);
    if (Readable(text) != text)
        AddX(c, rawName, QString::fromLatin1(text.toUtf8().toBase64()));
}

QString Get(icalcomponent* c, icalproperty_kind kind, const char* rawName) {
    icalproperty* p = icalcomponent_get_first_property(c, kind);
    const char* value = p ? icalvalue_get_text(icalproperty_get_value(p)) : nullptr;
    const QString text = Utf8(value);
    const QString raw = X(c, rawName);
    if (!raw.isEmpty()) {
        const QString exact = QString::fromUtf8(QByteArray::fromBase64(raw.toLatin1()));
        if (Readable(exact) == text)
            return exact;
    }
    return text;
}

void AddX(icalcomponent* c, const char* name, const QString& value) {
    icalproperty* p = icalproperty_new_x(value.toUtf8().constData());
    icalproperty_set_x_name(p, name);
    icalcomponent_add_property(c, p);
}

QString X(icalcomponent* c, const char* name) {
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY))
        if (qstrcmp(icalproperty_get_x_name(p), name) == 0)
            return Utf8(icalproperty_get_x(p));
    return QString();
}

} // namespace IcsText
