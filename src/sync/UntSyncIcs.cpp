#include "UntSyncIcs.h"

#include "common/UntClock.h"
#include "reminders/UntAlamIcs.h"
#include "storage/UntSchema.h"

#include <algorithm>
#include <libical/ical.h>
#include <memory>

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

// iCalendar text knows only LF line breaks; a text with other control characters (a CR LF
// from another platform) also carries its exact form, used while the readable one is
// unchanged.
const char* const RawSuffix = "-RAW";

bool NeedsRaw(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t'))
            return true;
    return false;
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

void AddX(icalcomponent* c, const char* name, const QString& value) {
    icalproperty* p = icalproperty_new_x(value.toUtf8().constData());
    icalproperty_set_x_name(p, name);
    icalcomponent_add_property(c, p);
}

QString X(icalcomponent* c, const char* name) {
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY))
        if (qstrcmp(icalproperty_get_x_name(p), name) == 0)
            return QString::fromUtf8(icalproperty_get_x(p));
    return QString();
}

void SetText(icalcomponent* c, icalproperty* p, const char* rawName, const QString& text) {
    icalcomponent_add_property(c, p);
    if (NeedsRaw(text))
        AddX(c, rawName, QString::fromLatin1(text.toUtf8().toBase64()));
}

QString GetText(icalcomponent* c, icalproperty_kind kind, const char* rawName) {
    icalproperty* p = icalcomponent_get_first_property(c, kind);
    const QString text =
        p ? QString::fromUtf8(icalvalue_get_text(icalproperty_get_value(p))) : QString();
    const QString raw = X(c, rawName);
    if (!raw.isEmpty()) {
        const QString exact = QString::fromUtf8(QByteArray::fromBase64(raw.toLatin1()));
        if (Readable(exact) == text)
            return exact;
    }
    return text;
}

icaltimetype UtcTime(const QDateTime& moment) {
    const QDateTime utc = moment.toUTC();
    icaltimetype t = icaltime_null_time();
    t.year = utc.date().year();
    t.month = utc.date().month();
    t.day = utc.date().day();
    t.hour = utc.time().hour();
    t.minute = utc.time().minute();
    t.second = utc.time().second();
    t.zone = icaltimezone_get_utc_timezone();
    return t;
}

// A time as the local wall clock: UTC and zoned times are converted, floating ones kept.
QDateTime ToLocal(icaltimetype t) {
    if (icaltime_is_null_time(t))
        return QDateTime();
    const QDate day(t.year, t.month, t.day);
    const QTime time = t.is_date ? QTime(0, 0) : QTime(t.hour, t.minute, t.second);
    if (t.is_date || (!icaltime_is_utc(t) && !t.zone))
        return QDateTime(day, time);
    const time_t secs = icaltime_as_timet_with_zone(t, t.zone);
    return QDateTime::fromSecsSinceEpoch(secs).toLocalTime();
}

Component NewCalendar() {
    Component cal(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(cal.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(cal.get(), icalproperty_new_prodid("-//Quillet//Quillet//ZH"));
    return cal;
}

QByteArray Serialise(icalcomponent* cal) {
    char* text = icalcomponent_as_ical_string_r(cal);
    QByteArray out(text);
    icalmemory_free_buffer(text);
    return out;
}

void AddStamps(icalcomponent* c, const QString& uid, const QDateTime& changed) {
    icalcomponent_add_property(c, icalproperty_new_uid(uid.toUtf8().constData()));
    const icaltimetype stamp =
        UtcTime(changed.isValid() ? changed : QDateTime::currentDateTimeUtc());
    icalcomponent_add_property(c, icalproperty_new_dtstamp(stamp));
    icalcomponent_add_property(c, icalproperty_new_lastmodified(stamp));
}

QDateTime ChangedOf(icalcomponent* c) {
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_LASTMODIFIED_PROPERTY))
        return ToLocal(icalproperty_get_lastmodified(p));
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_DTSTAMP_PROPERTY))
        return ToLocal(icalproperty_get_dtstamp(p));
    return QDateTime();
}

Component Parse(const QByteArray& ics, icalcomponent_kind kind, icalcomponent*& inner,
                QString& why) {
    // A damaged object is refused, never fatal.
    icalerror_set_errors_are_fatal(0);
    Component cal(icalparser_parse_string(ics.constData()));
    inner = cal ? (icalcomponent_isa(cal.get()) == kind
                       ? cal.get()
                       : icalcomponent_get_first_component(cal.get(), kind))
                : nullptr;
    if (!inner)
        why = kind == ICAL_VEVENT_COMPONENT ? QStringLiteral("不是日历事件")
                                            : QStringLiteral("不是日志条目");
    return cal;
}

void RemoveX(icalcomponent* c, const char* name) {
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;) {
        icalproperty* next = icalcomponent_get_next_property(c, ICAL_X_PROPERTY);
        if (qstrcmp(icalproperty_get_x_name(p), name) == 0) {
            icalcomponent_remove_property(c, p);
            icalproperty_free(p);
        }
        p = next;
    }
}

} // namespace

QByteArray ReminderToIcs(const TSyncReminder& r, const QDateTime& changed) {
    // The event itself is the calendar export's; what only the sync needs is added to it.
    TAlamRecord a = r;
    a.ReMark = Readable(r.ReMark);
    // The lunar kind's plain dates are the coming ones.
    const QDate from = r.ReDay == 5 ? Clock::Today() : r.AlamDate;
    QStringList skipped;
    Component cal(icalparser_parse_string(
        AlamsToIcs({a}, from.isValid() ? from : Clock::Today(), Clock::Now(), &skipped)
            .constData()));
    icalcomponent* ev =
        cal ? icalcomponent_get_first_component(cal.get(), ICAL_VEVENT_COMPONENT) : nullptr;
    if (!ev) {
        // One that can never fall due: kept as its day, with its values beside it.
        cal = NewCalendar();
        ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
        icalcomponent_add_component(cal.get(), ev);
        icalcomponent_add_property(ev, icalproperty_new_uid(""));
        icalcomponent_add_property(ev, icalproperty_new_dtstamp(UtcTime(changed)));
        icalcomponent_add_property(
            ev, icalproperty_new_dtstart(IcsLocalTime(
                    r.AlamDate.isValid() ? r.AlamDate : Clock::Today(), r.iHour, r.iMinute)));
        icalcomponent_add_property(ev, icalproperty_new_summary(a.ReMark.toUtf8().constData()));
        AddX(ev, "X-QUILLET-SEEN", r.bLook ? QStringLiteral("1") : QStringLiteral("0"));
        AddX(ev, "X-QUILLET-KIND", QString::number(r.ReDay));
        AddX(ev, "X-QUILLET-MONWEEK", QString::number(r.iMonWeek));
    }
    // Every machine knows it by the same UID; the row number is this file's own.
    icalcomponent_set_uid(ev, r.Uid.toUtf8().constData());
    RemoveX(ev, "X-QUILLET-ID");
    if (r.ReDay == 5) {
        // Servers check repeat rules with calendars that know no RSCALE and refuse the
        // object: the lunar rule travels in its own property, the plain dates stay.
        while (icalproperty* rule = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY)) {
            icalcomponent_remove_property(ev, rule);
            icalproperty_free(rule);
        }
        AddX(ev, "X-QUILLET-LUNAR", QString::number(r.iMonWeek));
    }
    const icaltimetype stamp = UtcTime(changed.isValid() ? changed : Clock::Now());
    icalcomponent_add_property(ev, icalproperty_new_lastmodified(stamp));
    if (NeedsRaw(r.ReMark))
        AddX(ev, "X-QUILLET-SUMMARY-RAW", QString::fromLatin1(r.ReMark.toUtf8().toBase64()));
    AddX(ev, "X-QUILLET-AHEAD", QString::number(r.AheadDays));
    AddX(ev, "X-QUILLET-DATE", r.AlamDate.toString(Qt::ISODate));
    return Serialise(cal.get());
}

bool ReminderFromIcs(const QByteArray& ics, TSyncReminder& r, QDateTime& changed, QString& why) {
    icalcomponent* ev = nullptr;
    Component cal = Parse(ics, ICAL_VEVENT_COMPONENT, ev, why);
    if (!ev)
        return false;
    r.Uid = QString::fromUtf8(icalcomponent_get_uid(ev));
    changed = ChangedOf(ev);
    const QDateTime start = ToLocal(icalcomponent_get_dtstart(ev));
    if (!start.isValid()) {
        why = QStringLiteral("没有开始时间");
        return false;
    }
    r.iHour = start.time().hour();
    r.iMinute = start.time().minute();
    r.AlamDate = start.date();
    r.ReMark = GetText(ev, ICAL_SUMMARY_PROPERTY, "X-QUILLET-SUMMARY-RAW");
    r.bLook = X(ev, "X-QUILLET-SEEN") == QLatin1String("1");
    r.AheadDays = 0;
    const QString ahead = X(ev, "X-QUILLET-AHEAD");
    if (!ahead.isEmpty()) {
        r.AheadDays = ahead.toInt();
    } else {
        for (icalcomponent* a = icalcomponent_get_first_component(ev, ICAL_VALARM_COMPONENT); a;
             a = icalcomponent_get_next_component(ev, ICAL_VALARM_COMPONENT)) {
            icalproperty* t = icalcomponent_get_first_property(a, ICAL_TRIGGER_PROPERTY);
            if (!t)
                continue;
            const int secs = icaldurationtype_as_int(icalproperty_get_trigger(t).duration);
            if (secs < 0 && secs % 86400 == 0 && -secs / 86400 <= 30)
                r.AheadDays = -secs / 86400;
        }
    }
    const QString kept = X(ev, "X-QUILLET-DATE");
    const QString lunar = X(ev, "X-QUILLET-LUNAR");
    const QString kind = X(ev, "X-QUILLET-KIND");
    if (!kind.isEmpty()) {
        if (kept.size() == 10)
            r.AlamDate = QDate::fromString(kept, Qt::ISODate);
        r.ReDay = kind.toInt();
        r.iMonWeek = X(ev, "X-QUILLET-MONWEEK").toInt();
        return true;
    }
    icalproperty* rp = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
    if (!rp && !lunar.isEmpty()) {
        if (kept.size() == 10)
            r.AlamDate = QDate::fromString(kept, Qt::ISODate);
        r.ReDay = 5;
        r.iMonWeek = lunar.toInt();
        return true;
    }
    if (!rp) {
        r.ReDay = 0;
        r.iMonWeek = 1;
        return true;
    }
    if (icalcomponent_get_next_property(ev, ICAL_RRULE_PROPERTY)) {
        why = QStringLiteral("有多条重复规则");
        return false;
    }
    const icalrecurrencetype rule = icalproperty_get_rrule(rp);
    const bool plain = rule.interval <= 1 && rule.count == 0 && icaltime_is_null_time(rule.until);
    const bool chinese = rule.rscale && qstricmp(rule.rscale, "CHINESE") == 0;
    if (rule.rscale && !chinese) {
        why = QStringLiteral("不支持的历法");
        return false;
    }
    if (!plain) {
        why = QStringLiteral("重复规则带间隔、次数或截止日期");
        return false;
    }
    if (kept.size() == 10)
        r.AlamDate = QDate::fromString(kept, Qt::ISODate);
    r.iMonWeek = 1;
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        r.ReDay = 1;
        return true;
    case ICAL_WEEKLY_RECURRENCE: {
        QString digits;
        for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
            const int sundayFirst = icalrecurrencetype_day_day_of_week(rule.by_day[i]);
            digits += QChar('0' + (sundayFirst == 1 ? 7 : sundayFirst - 1));
        }
        if (digits.isEmpty())
            digits = QString::number(start.date().dayOfWeek());
        std::sort(digits.begin(), digits.end());
        r.ReDay = 2;
        r.iMonWeek = digits.toInt();
        return true;
    }
    case ICAL_MONTHLY_RECURRENCE:
        r.ReDay = 3;
        r.iMonWeek = rule.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX ? rule.by_month_day[0]
                                                                       : start.date().day();
        if (r.iMonWeek < 1 || r.iMonWeek > 31 ||
            (rule.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX &&
             rule.by_month_day[1] != ICAL_RECURRENCE_ARRAY_MAX)) {
            why = QStringLiteral("每月规则不是某一天");
            return false;
        }
        return true;
    case ICAL_YEARLY_RECURRENCE:
        if (chinese) {
            r.ReDay = 5;
            if (!lunar.isEmpty()) {
                r.iMonWeek = lunar.toInt();
            } else {
                const short m = rule.by_month[0];
                const short d = rule.by_month_day[0];
                if (m == ICAL_RECURRENCE_ARRAY_MAX || d == ICAL_RECURRENCE_ARRAY_MAX) {
                    why = QStringLiteral("农历规则不完整");
                    return false;
                }
                r.iMonWeek = icalrecurrencetype_month_month(m) * 100 + d +
                             (icalrecurrencetype_month_is_leap(m) ? 10000 : 0);
            }
        } else {
            r.ReDay = 4;
        }
        return true;
    default:
        why = QStringLiteral("不支持的重复频率");
        return false;
    }
}

QByteArray GroupToIcs(const TSyncGroup& g, const QDateTime& changed) {
    Component cal = NewCalendar();
    icalcomponent* j = icalcomponent_new(ICAL_VJOURNAL_COMPONENT);
    icalcomponent_add_component(cal.get(), j);
    AddStamps(j, g.Uid, changed);
    SetText(j, icalproperty_new_summary(Readable(g.Name).toUtf8().constData()),
            "X-QUILLET-SUMMARY-RAW", g.Name);
    SetText(j, icalproperty_new_description(Readable(g.Note).toUtf8().constData()),
            "X-QUILLET-DESCRIPTION-RAW", g.Note);
    if (!g.ParentUid.isEmpty()) {
        icalproperty* parent = icalproperty_new_relatedto(g.ParentUid.toUtf8().constData());
        icalproperty_add_parameter(parent, icalparameter_new_reltype(ICAL_RELTYPE_PARENT));
        icalcomponent_add_property(j, parent);
    }
    return Serialise(cal.get());
}

bool GroupFromIcs(const QByteArray& ics, TSyncGroup& g, QDateTime& changed, QString& why) {
    icalcomponent* j = nullptr;
    Component cal = Parse(ics, ICAL_VJOURNAL_COMPONENT, j, why);
    if (!j)
        return false;
    g.Uid = QString::fromUtf8(icalcomponent_get_uid(j));
    changed = ChangedOf(j);
    g.Name = GetText(j, ICAL_SUMMARY_PROPERTY, "X-QUILLET-SUMMARY-RAW");
    g.Note = GetText(j, ICAL_DESCRIPTION_PROPERTY, "X-QUILLET-DESCRIPTION-RAW");
    g.ParentUid.clear();
    for (icalproperty* p = icalcomponent_get_first_property(j, ICAL_RELATEDTO_PROPERTY); p;
         p = icalcomponent_get_next_property(j, ICAL_RELATEDTO_PROPERTY)) {
        icalparameter* type = icalproperty_get_first_parameter(p, ICAL_RELTYPE_PARAMETER);
        if (!type || icalparameter_get_reltype(type) == ICAL_RELTYPE_PARENT)
            g.ParentUid = QString::fromUtf8(icalproperty_get_relatedto(p));
    }
    if (g.ParentUid.isEmpty() && g.Uid != RootGroupUid)
        g.ParentUid = RootGroupUid;
    if (g.Uid == RootGroupUid)
        g.ParentUid.clear();
    return true;
}
