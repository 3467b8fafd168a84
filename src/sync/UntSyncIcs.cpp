#include "UntSyncIcs.h"

#include "common/UntClock.h"
#include "reminders/UntAlamEvent.h"
#include "storage/UntSchema.h"

#include <libical/ical.h>

namespace {

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

TComponent NewCalendar() {
    TComponent cal(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
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

QDateTime ChangedOf(icalcomponent* c) {
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_LASTMODIFIED_PROPERTY))
        return ToLocal(icalproperty_get_lastmodified(p));
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_DTSTAMP_PROPERTY))
        return ToLocal(icalproperty_get_dtstamp(p));
    return QDateTime();
}

TComponent Parse(const QByteArray& ics, icalcomponent_kind kind, icalcomponent*& inner,
                 QString& why) {
    QuietLibical();
    TComponent cal(icalparser_parse_string(ics.constData()));
    inner = cal ? (icalcomponent_isa(cal.get()) == kind
                       ? cal.get()
                       : icalcomponent_get_first_component(cal.get(), kind))
                : nullptr;
    if (!inner)
        why = kind == ICAL_VEVENT_COMPONENT ? QStringLiteral("不是日历事件")
                                            : QStringLiteral("不是日志条目");
    return cal;
}

} // namespace

QByteArray ReminderToIcs(const TSyncReminder& r, const QDateTime& changed) {
    // The calendar file's event, named by the row's UID on every machine and kept even when
    // it can never fall due.
    TEventForm form;
    form.Uid = r.Uid;
    form.Changed = changed.isValid() ? changed : Clock::Now();
    form.KeepNeverDue = true;
    TComponent cal = NewCalendar();
    for (TComponent& event : AlamToEvents(r, Clock::Now(), form))
        icalcomponent_add_component(cal.get(), event.release());
    return Serialise(cal.get());
}

bool ReminderFromIcs(const QByteArray& ics, TSyncReminder& r, QDateTime& changed, QString& why) {
    icalcomponent* ev = nullptr;
    TComponent cal = Parse(ics, ICAL_VEVENT_COMPONENT, ev, why);
    if (!ev)
        return false;
    r.Uid = QString::fromUtf8(icalcomponent_get_uid(ev));
    changed = ChangedOf(ev);
    // Taken as it stands: a reminder that has passed is still a reminder on another machine.
    why = EventToAlam(ev, {Clock::Now(), false}, &r);
    return why.isEmpty();
}

QByteArray GroupToIcs(const TSyncGroup& g, const QDateTime& changed) {
    TComponent cal = NewCalendar();
    icalcomponent* j = icalcomponent_new(ICAL_VJOURNAL_COMPONENT);
    icalcomponent_add_component(cal.get(), j);
    icalcomponent_add_property(j, icalproperty_new_uid(g.Uid.toUtf8().constData()));
    const icaltimetype stamp =
        IcsUtcTime(changed.isValid() ? changed : QDateTime::currentDateTimeUtc());
    icalcomponent_add_property(j, icalproperty_new_dtstamp(stamp));
    icalcomponent_add_property(j, icalproperty_new_lastmodified(stamp));
    IcsText::Set(j, icalproperty_new_summary(IcsText::Readable(g.Name).toUtf8().constData()),
                 "X-QUILLET-SUMMARY-RAW", g.Name);
    IcsText::Set(j, icalproperty_new_description(IcsText::Readable(g.Note).toUtf8().constData()),
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
    TComponent cal = Parse(ics, ICAL_VJOURNAL_COMPONENT, j, why);
    if (!j)
        return false;
    g.Uid = QString::fromUtf8(icalcomponent_get_uid(j));
    changed = ChangedOf(j);
    g.Name = IcsText::Get(j, ICAL_SUMMARY_PROPERTY, "X-QUILLET-SUMMARY-RAW");
    g.Note = IcsText::Get(j, ICAL_DESCRIPTION_PROPERTY, "X-QUILLET-DESCRIPTION-RAW");
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
