#include "UntAlamIcs.h"

#include "UntAlam.h"
#include "common/UntClock.h"
#include "common/UntLunar.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QTime>
#include <algorithm>
#include <libical/ical.h>
#include <memory>
#include <optional>

namespace {

struct ComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

struct BufferFree {
    void operator()(char* s) const { icalmemory_free_buffer(s); }
};
using Buffer = std::unique_ptr<char, BufferFree>;

constexpr int LunarRdates = 10;

const char* const IdProperty = "X-QUILLET-ID";
const char* const SeenProperty = "X-QUILLET-SEEN";
const char* const WeekdayCodes[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

// libical's default is to abort on its own errors; a damaged file must only be refused.
void QuietLibical() {
    static const bool once = [] {
        icalerror_set_errors_are_fatal(0);
        return true;
    }();
    (void)once;
}

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

icaltimetype UtcTime(const QDateTime& moment) {
    const QDateTime utc = moment.toUTC();
    icaltimetype t = IcsLocalTime(utc.date(), utc.time().hour(), utc.time().minute());
    t.second = utc.time().second();
    t.zone = icaltimezone_get_utc_timezone();
    return t;
}

void AddProperty(icalcomponent* c, const QString& line) {
    icalproperty* p = icalproperty_new_from_string(line.toUtf8().constData());
    if (!p)
        throw EAppError(QStringLiteral("日历数据无法生成：") + line);
    icalcomponent_add_property(c, p);
}

void AddX(icalcomponent* c, const char* name, const QString& value) {
    icalproperty* p = icalproperty_new_x(value.toUtf8().constData());
    icalproperty_set_x_name(p, name);
    icalcomponent_add_property(c, p);
}

void AddAlarm(icalcomponent* event, const QString& trigger, const QString& text) {
    icalcomponent* alarm = icalcomponent_new_valarm();
    AddProperty(alarm, QStringLiteral("ACTION:DISPLAY"));
    AddProperty(alarm, QStringLiteral("TRIGGER:") + trigger);
    icalcomponent_add_property(alarm, icalproperty_new_description(text.toUtf8().constData()));
    icalcomponent_add_component(event, alarm);
}

// The rule of a repeating kind, empty for a one-off.
QString RuleOf(const TAlamRecord& a) {
    switch (a.ReDay) {
    case rdDaily:
        return QStringLiteral("FREQ=DAILY");
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
    case rdLunarYearly:
        // Backward: day 30 of a short month is its last day, a missing leap month the ordinary
        // month of its number.
        return QStringLiteral("RSCALE=CHINESE;FREQ=YEARLY;BYMONTH=%1%2;BYMONTHDAY=%3;SKIP=BACKWARD")
            .arg(LunarMonthOf(a.iMonWeek))
            .arg(LunarLeapOf(a.iMonWeek) ? QStringLiteral("L") : QString())
            .arg(LunarDayOf(a.iMonWeek));
    default:
        return QString();
    }
}

Component EventOf(const TAlamRecord& a, const QDate& start, const QDateTime& stamp) {
    Component event(icalcomponent_new_vevent());
    icalcomponent* e = event.get();
    icalcomponent_add_property(
        e, icalproperty_new_uid(QStringLiteral("quillet-alam-%1@quillet").arg(a.ID).toUtf8()));
    icalcomponent_add_property(e, icalproperty_new_dtstamp(UtcTime(stamp)));
    icalcomponent_add_property(e,
                               icalproperty_new_dtstart(IcsLocalTime(start, a.iHour, a.iMinute)));
    icalcomponent_add_property(e, icalproperty_new_summary(a.ReMark.toUtf8().constData()));
    const QString rule = RuleOf(a);
    if (!rule.isEmpty())
        AddProperty(e, QStringLiteral("RRULE:") + rule);
    if (a.ReDay == rdLunarYearly) {
        // For clients without the Chinese calendar: the next occurrences as plain dates.
        QDate day = start;
        for (int i = 0; i < LunarRdates && day.isValid(); ++i) {
            AddProperty(e, QStringLiteral("RDATE:") + day.toString(QStringLiteral("yyyyMMdd")) +
                               QTime(a.iHour, a.iMinute).toString(QStringLiteral("'T'HHmm'00'")));
            day = NextLunarYearlyDay(a.iMonWeek, day.addDays(1));
        }
    }
    AddX(e, IdProperty, QString::number(a.ID));
    AddX(e, SeenProperty, a.bLook ? QStringLiteral("1") : QStringLiteral("0"));
    AddAlarm(e, QStringLiteral("PT0S"), a.ReMark);
    if (a.AheadDays > 0)
        AddAlarm(e, QStringLiteral("-P%1D").arg(a.AheadDays), a.ReMark);
    return event;
}

QString Quoted(const QString& text) {
    QString line = text;
    line.replace(u'\n', u' ').replace(u'\r', u' ');
    if (line.size() > 40)
        line = line.left(40) + QStringLiteral("…");
    return QStringLiteral("“") + line + QStringLiteral("”");
}

// ---------------------------------------------------------------- reading

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

// The parser marks what it could not read. Empty values (common in exports of text fields
// left blank) and unknown parameters lose nothing; anything else is damage.
bool HasErrors(icalcomponent* c, QString* detail) {
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY)) {
        const QString text = Utf8(icalproperty_get_xlicerror(p));
        icalparameter* type = icalproperty_get_first_parameter(p, ICAL_XLICERRORTYPE_PARAMETER);
        const icalparameter_xlicerrortype kind =
            type ? icalparameter_get_xlicerrortype(type) : ICAL_XLICERRORTYPE_NONE;
        if (kind == ICAL_XLICERRORTYPE_PARAMETERNAMEPARSEERROR ||
            kind == ICAL_XLICERRORTYPE_PARAMETERVALUEPARSEERROR ||
            (kind == ICAL_XLICERRORTYPE_VALUEPARSEERROR && text.startsWith(u"No value for")))
            continue;
        *detail = text;
        return true;
    }
    for (icalcomponent* k = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); k;
         k = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
        if (HasErrors(k, detail))
            return true;
    return false;
}

int CountProperties(icalcomponent* c, icalproperty_kind kind) {
    return icalcomponent_count_properties(c, kind);
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
    TEventReader(icalcomponent* event, const QDateTime& now) : e_(event), now_(now) {}
    QString Read(TAlamRecord* out);
    QString Title() const { return title_; }

private:
    QString ReadRule(const icalrecurrencetype& rule, TAlamRecord* a);
    QString CheckZone(TAlamRecord* a);
    QString CheckExceptions();
    QString CheckExtraDates(const TAlamRecord& a);
    int AheadDays();
    bool Ended(const icalrecurrencetype& rule);

    icalcomponent* e_;
    QDateTime now_;
    QString title_;
    icaltimetype start_{};
    QDateTime local_;
};

QString TEventReader::Read(TAlamRecord* a) {
    title_ = Utf8(icalcomponent_get_summary(e_));
    if (IsBlank(title_))
        title_ = Utf8(icalcomponent_get_description(e_));
    if (IsBlank(title_))
        return QStringLiteral("没有标题");
    if (icalcomponent_get_status(e_) == ICAL_STATUS_CANCELLED)
        return QStringLiteral("已取消");
    if (icalcomponent_get_first_property(e_, ICAL_RECURRENCEID_PROPERTY))
        return QStringLiteral("是重复事件中单独修改的一次");
    const bool todo = icalcomponent_isa(e_) == ICAL_VTODO_COMPONENT;
    if (todo && icalcomponent_get_status(e_) == ICAL_STATUS_COMPLETED)
        return QStringLiteral("待办事项已完成");
    icalproperty* startProperty = icalcomponent_get_first_property(e_, ICAL_DTSTART_PROPERTY);
    if (!startProperty && todo)
        startProperty = icalcomponent_get_first_property(e_, ICAL_DUE_PROPERTY);
    if (!startProperty)
        return QStringLiteral("没有开始时间");
    start_ = icalproperty_get_datetime_with_component(startProperty, e_);
    if (icaltime_is_null_time(start_) || !icaltime_is_valid_time(start_))
        return QStringLiteral("没有开始时间");
    if (start_.is_date)
        return QStringLiteral("全天事件没有具体时间");
    if (icalproperty_get_first_parameter(startProperty, ICAL_TZID_PARAMETER) && !start_.zone)
        return QStringLiteral("时区未知");
    local_ = LocalMoment(start_);
    if (!local_.isValid())
        return QStringLiteral("没有开始时间");

    a->ReMark = title_;
    a->iHour = local_.time().hour();
    a->iMinute = local_.time().minute(); // seconds are dropped: reminders fire by the minute
    a->AlamDate = local_.date();
    a->iMonWeek = 1;
    a->bLook = false;
    for (icalproperty* p = icalcomponent_get_first_property(e_, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(e_, ICAL_X_PROPERTY))
        if (qstrcmp(icalproperty_get_x_name(p), SeenProperty) == 0)
            a->bLook = Utf8(icalproperty_get_x(p)).trimmed() == QLatin1String("1");

    const int rules = CountProperties(e_, ICAL_RRULE_PROPERTY);
    if (rules > 1)
        return QStringLiteral("有多条重复规则");
    if (rules == 0) {
        if (icalcomponent_get_first_property(e_, ICAL_RDATE_PROPERTY))
            return QStringLiteral("有另加的日期（RDATE）");
        QDateTime minute = local_;
        minute.setTime(QTime(a->iHour, a->iMinute));
        if (minute < now_)
            return QStringLiteral("时间已过");
        a->ReDay = rdOnce;
        return QString();
    }
    const icalrecurrencetype rule =
        icalproperty_get_rrule(icalcomponent_get_first_property(e_, ICAL_RRULE_PROPERTY));
    if (QString why = ReadRule(rule, a); !why.isEmpty())
        return why;
    if (QString why = CheckExceptions(); !why.isEmpty())
        return why;
    if (QString why = CheckZone(a); !why.isEmpty())
        return why;
    if (QString why = CheckExtraDates(*a); !why.isEmpty())
        return why;
    if (a->ReDay == rdYearly || a->ReDay == rdLunarYearly)
        a->AheadDays = AheadDays();
    // Quillet repeats from today on: a rule that begins later would fire too early.
    const QDate first = FirstDueDay(*a, now_.date());
    if (!first.isValid())
        return QStringLiteral("重复规则无法表示");
    if (first < a->AlamDate)
        return QStringLiteral("重复从将来某天才开始");
    return QString();
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
            if (icalrecurrencetype_day_position(code) != 0)
                return false;
            // libical counts Sunday = 1 … Saturday = 7; Quillet Monday = 1 … Sunday = 7
            const int sundayFirst = icalrecurrencetype_day_day_of_week(code);
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
            // The last day of February: Quillet's 29 February, stored on a leap year's day.
            int year = start.year();
            while (!QDate::isLeapYear(year))
                --year;
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

// Extra dates are only kept as the plain-date copy of a lunar rule's own occurrences.
QString TEventReader::CheckExtraDates(const TAlamRecord& a) {
    for (icalproperty* p = icalcomponent_get_first_property(e_, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(e_, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        icaltimetype t = rdate.time;
        if (icaltime_is_null_time(t) || a.ReDay != rdLunarYearly)
            return QStringLiteral("有另加的日期（RDATE）");
        if (!t.zone && !icaltime_is_utc(t))
            t.zone = start_.zone;
        const QDateTime local =
            t.is_date ? QDateTime(QDate(t.year, t.month, t.day), QTime(a.iHour, a.iMinute))
                      : LocalMoment(t);
        if (local.time() != QTime(a.iHour, a.iMinute) ||
            NextLunarYearlyDay(a.iMonWeek, local.date()) != local.date())
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
    icalrecur_iterator* it = icalrecur_iterator_new(rule, start_);
    if (!it)
        return true;
    bool ended = true;
    for (int i = 0; i < 100000; ++i) {
        icaltimetype next = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(next))
            break;
        next.zone = start_.zone;
        if (LocalMoment(next) >= now_) {
            ended = false;
            break;
        }
    }
    icalrecur_iterator_free(it);
    return ended;
}

QString TEventReader::CheckExceptions() {
    for (icalproperty* p = icalcomponent_get_first_property(e_, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(e_, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype t = icalproperty_get_datetime_with_component(p, e_);
        const QDate day = t.is_date ? QDate(t.year, t.month, t.day) : LocalMoment(t).date();
        // Exceptions that have passed change nothing to come.
        if (!day.isValid() || day >= now_.date())
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
        const QDate day = now_.date().addDays(i);
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

QString Key(const TAlamRecord& a) {
    QString day;
    switch (a.ReDay) {
    case rdOnce:
        day = a.AlamDate.toString(Qt::ISODate);
        break;
    case rdWeekly: {
        for (int d : Weekdays(a.iMonWeek))
            day += QString::number(d);
        break;
    }
    case rdMonthly:
    case rdLunarYearly:
        day = QString::number(a.iMonWeek);
        break;
    case rdYearly:
        day = a.AlamDate.toString(QStringLiteral("MM-dd"));
        break;
    default:
        break;
    }
    return QStringLiteral("%1|%2|%3:%4|%5|")
               .arg(a.ReDay)
               .arg(day)
               .arg(a.iHour)
               .arg(a.iMinute)
               .arg(a.AheadDays) +
           a.ReMark;
}

Component ParseCalendar(const QByteArray& raw) {
    QuietLibical();
    QByteArray data = raw;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QByteArray head = data.trimmed().left(15).toUpper();
    if (head != "BEGIN:VCALENDAR")
        throw EAppError(QStringLiteral("这不是日历文件（iCalendar），没有导入任何提醒。"));
    if (data.contains('\0'))
        throw EAppError(QStringLiteral("日历文件已损坏，没有导入任何提醒。"));
    Component root(icalparser_parse_string(data.constData()));
    QString detail;
    if (!root)
        throw EAppError(QStringLiteral("日历文件已损坏（不完整），没有导入任何提醒。"));
    if (HasErrors(root.get(), &detail))
        throw EAppError(QStringLiteral("日历文件已损坏，没有导入任何提醒。\n详细信息：") + detail);
    const icalcomponent_kind kind = icalcomponent_isa(root.get());
    if (kind != ICAL_VCALENDAR_COMPONENT && kind != ICAL_XROOT_COMPONENT)
        throw EAppError(QStringLiteral("这不是日历文件（iCalendar），没有导入任何提醒。"));
    return root;
}

void CollectEvents(icalcomponent* c, QList<icalcomponent*>* events) {
    const icalcomponent_kind kind = icalcomponent_isa(c);
    if (kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VTODO_COMPONENT) {
        events->append(c);
        return;
    }
    if (kind != ICAL_VCALENDAR_COMPONENT && kind != ICAL_XROOT_COMPONENT)
        return;
    for (icalcomponent* k = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); k;
         k = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
        CollectEvents(k, events);
}

} // namespace

icaltimetype IcsLocalTime(const QDate& day, int hour, int minute) {
    icaltimetype t = icaltime_null_time();
    t.year = day.year();
    t.month = day.month();
    t.day = day.day();
    t.hour = hour;
    t.minute = minute;
    return t;
}

QString TImportSummary::Text() const {
    const QString head =
        QStringLiteral("导入了%1条提醒，跳过%2条").arg(Imported).arg(Skipped.size());
    if (Skipped.isEmpty())
        return head + QStringLiteral("。");
    return head + QStringLiteral("：\n") + Skipped.join(u'\n');
}

QDate FirstDueDay(const TAlamRecord& a, const QDate& from) {
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
    default:
        return QDate();
    }
}

QByteArray AlamsToIcs(const QList<TAlamRecord>& alams, const QDate& from, const QDateTime& stamp,
                      QStringList* skipped) {
    QuietLibical();
    Component calendar(icalcomponent_new_vcalendar());
    AddProperty(calendar.get(), QStringLiteral("PRODID:-//Quillet//Quillet 1.0//ZH"));
    AddProperty(calendar.get(), QStringLiteral("VERSION:2.0"));
    AddProperty(calendar.get(), QStringLiteral("CALSCALE:GREGORIAN"));
    for (const TAlamRecord& a : alams) {
        const QDate start = FirstDueDay(a, from);
        if (!start.isValid() || a.ReDay < rdOnce || a.ReDay > rdLunarYearly) {
            if (skipped)
                *skipped << Quoted(a.ReMark) + QStringLiteral("：永远不会到期");
            continue;
        }
        icalcomponent_add_component(calendar.get(), EventOf(a, start, stamp).release());
    }
    Buffer text(icalcomponent_as_ical_string_r(calendar.get()));
    return QByteArray(text.get());
}

QList<TAlamRecord> IcsToAlams(const QByteArray& data, const QDateTime& now,
                              TImportSummary* summary) {
    Component root = ParseCalendar(data);
    QList<icalcomponent*> events;
    CollectEvents(root.get(), &events);
    QList<TAlamRecord> alams;
    for (icalcomponent* e : events) {
        TEventReader reader(e, now);
        TAlamRecord a;
        const QString why = reader.Read(&a);
        if (!why.isEmpty()) {
            const QString title =
                IsBlank(reader.Title()) ? QStringLiteral("（无标题）") : Quoted(reader.Title());
            summary->Skipped << title + QStringLiteral("：") + why;
            continue;
        }
        alams << a;
    }
    return alams;
}

TAlamRecord AlamRecordAt(const TCursor& cursor) {
    TAlamRecord a;
    a.ID = cursor.AsInteger(QStringLiteral("ID"));
    a.iHour = static_cast<int>(cursor.AsInteger(QStringLiteral("iHour")));
    a.iMinute = static_cast<int>(cursor.AsInteger(QStringLiteral("iMinute")));
    a.iMonWeek = static_cast<int>(cursor.AsInteger(QStringLiteral("iMonWeek")));
    a.ReDay = static_cast<int>(cursor.AsInteger(QStringLiteral("ReDay")));
    a.AlamDate = cursor.AsDateTime(QStringLiteral("AlamDate")).date();
    a.ReMark = cursor.AsString(QStringLiteral("ReMark"));
    a.bLook = cursor.AsBoolean(QStringLiteral("bLook"));
    if (const int ahead = cursor.FieldIndex(QStringLiteral("AheadDays")); ahead >= 0)
        a.AheadDays = static_cast<int>(cursor.AsInteger(ahead));
    return a;
}

QList<TAlamRecord> ReadAlams(int filter) {
    DbAccess->OpenQuery(QStringLiteral("select * from Alam where 1=1 ") +
                        AlamFilterCondition(filter) + QStringLiteral(" order by ID"));
    TCursor& cursor = DbAccess->MainCursor;
    QList<TAlamRecord> alams;
    for (cursor.First(); !cursor.Eof(); cursor.Next()) {
        TAlamRecord a = AlamRecordAt(cursor);
        // Only the yearly kinds use days ahead; the column may keep an old value for others.
        if (a.ReDay != rdYearly && a.ReDay != rdLunarYearly)
            a.AheadDays = 0;
        alams << a;
    }
    cursor.Close();
    return alams;
}

TExchangeResult ExportIcs(const QString& path, int filter) {
    TExchangeResult result;
    const QList<TAlamRecord> alams = ReadAlams(filter);
    const QByteArray text = AlamsToIcs(alams, Clock::Today(), Clock::Now(), &result.Skipped);
    result.Count = static_cast<int>(alams.size() - result.Skipped.size());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw EAppError(QStringLiteral("无法写入日历文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    result.Text = QStringLiteral("导出了%1条提醒到日历文件。").arg(result.Count);
    if (!result.Skipped.isEmpty())
        result.Text += QStringLiteral("未导出%1条：").arg(result.Skipped.size()) +
                       result.Skipped.join(QStringLiteral("；"));
    return result;
}

TImportSummary ImportIcs(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EAppError(QStringLiteral("无法读取日历文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EAppError(QStringLiteral("无法读取日历文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    TImportSummary summary;
    const QList<TAlamRecord> incoming = IcsToAlams(data, Clock::Now(), &summary);

    // Quillet's own files name the reminder in UID and X-QUILLET-ID, but another data file
    // has other reminders under the same keys: a reminder counts as there already when one
    // with the same kind, day, time and text exists.
    QSet<QString> present;
    for (const TAlamRecord& a : ReadAlams(0))
        present.insert(Key(a));
    QStringList batch;
    TAlam alam;
    for (const TAlamRecord& a : incoming) {
        const QString key = Key(a);
        if (present.contains(key)) {
            summary.Skipped << Quoted(a.ReMark) + QStringLiteral("：已有相同的提醒");
            continue;
        }
        present.insert(key);
        alam.iHour = a.iHour;
        alam.iMinute = a.iMinute;
        alam.iMonWeek = a.iMonWeek;
        alam.ReDay = a.ReDay;
        alam.AlamDate = QDateTime(a.AlamDate, QTime(0, 0));
        alam.ReMark = a.ReMark;
        alam.AheadDays = a.AheadDays;
        batch << alam.AddStatement(a.bLook);
    }
    if (!batch.isEmpty())
        ExecSql(batch.join(BatchSeparator)); // one transaction: all or nothing
    summary.Imported = static_cast<int>(batch.size());
    return summary;
}
