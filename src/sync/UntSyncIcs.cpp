#include "UntSyncIcs.h"

#include "common/UntClock.h"
#include "reminders/UntAlamEvent.h"
#include "storage/UntSchema.h"

#include <libical/ical.h>
#include <vector>

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

namespace {

// What the mapping writes into an event; everything else in one is another program's.
bool Ours(icalproperty* p) {
    switch (icalproperty_isa(p)) {
    case ICAL_UID_PROPERTY:
    case ICAL_DTSTAMP_PROPERTY:
    case ICAL_LASTMODIFIED_PROPERTY:
    case ICAL_DTSTART_PROPERTY:
    case ICAL_SUMMARY_PROPERTY:
    case ICAL_RRULE_PROPERTY:
    case ICAL_RDATE_PROPERTY:
    case ICAL_EXDATE_PROPERTY: // the holiday schedule's; others' to come are never taken
        return true;
    case ICAL_X_PROPERTY:
        return QByteArray(icalproperty_get_x_name(p)).startsWith("X-QUILLET-");
    default:
        return false;
    }
}

icalcomponent* EventOf(icalcomponent* cal) {
    return cal ? (icalcomponent_isa(cal) == ICAL_VEVENT_COMPONENT
                      ? cal
                      : icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT))
               : nullptr;
}

// ours's values written into a copy of theirs: its own properties other than the mapping's
// stay; an end moves with the start (as a duration, since the start is a wall-clock time).
icalcomponent* Patched(icalcomponent* theirs, icalcomponent* ours) {
    icalcomponent* event = icalcomponent_new_clone(theirs);
    const icaltimetype oldStart = icalcomponent_get_dtstart(event);
    icalproperty* end = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY);
    if (end && !icaltime_is_null_time(oldStart)) {
        const icaltimetype endTime = icalproperty_get_dtend(end);
        const icaldurationtype length = icaltime_subtract(endTime, oldStart);
        icalcomponent_remove_property(event, end);
        icalproperty_free(end);
        if (icaldurationtype_as_int(length) > 0 &&
            !icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY))
            icalcomponent_add_property(event, icalproperty_new_duration(length));
    }
    std::vector<icalproperty*> drop;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY))
        if (Ours(p))
            drop.push_back(p);
    for (icalproperty* p : drop) {
        icalcomponent_remove_property(event, p);
        icalproperty_free(p);
    }
    std::vector<icalcomponent*> alarms;
    for (icalcomponent* a = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT); a;
         a = icalcomponent_get_next_component(event, ICAL_VALARM_COMPONENT))
        alarms.push_back(a);
    for (icalcomponent* a : alarms) {
        icalcomponent_remove_component(event, a);
        icalcomponent_free(a);
    }
    for (icalproperty* p = icalcomponent_get_first_property(ours, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(ours, ICAL_ANY_PROPERTY))
        icalcomponent_add_property(event, icalproperty_new_clone(p));
    for (icalcomponent* a = icalcomponent_get_first_component(ours, ICAL_VALARM_COMPONENT); a;
         a = icalcomponent_get_next_component(ours, ICAL_VALARM_COMPONENT))
        icalcomponent_add_component(event, icalcomponent_new_clone(a));
    return event;
}

} // namespace

QByteArray ForeignParts(const QByteArray& ics) {
    QuietLibical();
    TComponent cal(icalparser_parse_string(ics.constData()));
    icalcomponent* event = EventOf(cal.get());
    if (!event)
        return QByteArray();
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY))
        if (!Ours(p))
            return ics;
    for (icalcomponent* c = icalcomponent_get_first_component(event, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(event, ICAL_ANY_COMPONENT))
        if (icalcomponent_isa(c) != ICAL_VALARM_COMPONENT)
            return ics;
    return QByteArray();
}

QByteArray ReminderToIcs(const TSyncReminder& r, const QDateTime& changed,
                         const QByteArray& serverCopy) {
    // The calendar file's event, named by the row's UID on every machine and kept even when
    // it can never fall due.
    TEventForm form;
    form.Uid = r.Uid;
    form.Changed = changed.isValid() ? changed : Clock::Now();
    form.KeepNeverDue = true;
    std::vector<TComponent> events = AlamToEvents(r, Clock::Now(), form);
    TComponent copy;
    icalcomponent* theirs = nullptr;
    if (!serverCopy.isEmpty()) {
        QuietLibical();
        copy.reset(icalparser_parse_string(serverCopy.constData()));
        theirs = EventOf(copy.get());
        if (theirs && QString::fromUtf8(icalcomponent_get_uid(theirs)) != r.Uid)
            theirs = nullptr;
    }
    if (theirs && !events.empty()) {
        // The other program's calendar as it was (its time zones included), our event in it.
        icalcomponent* patched = Patched(theirs, events.front().get());
        if (icalcomponent_isa(copy.get()) == ICAL_VCALENDAR_COMPONENT) {
            icalcomponent_remove_component(copy.get(), theirs);
            icalcomponent_free(theirs);
            icalcomponent_add_component(copy.get(), patched);
            return Serialise(copy.get());
        }
        icalcomponent_free(patched);
    }
    TComponent cal = NewCalendar();
    for (TComponent& event : events)
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
    // Whatever libical could not read would be lost by a write-back.
    if (const QStringList names = IcsText::Unreadable(ev); why.isEmpty() && !names.isEmpty())
        why = names.first().isEmpty() ? QStringLiteral("有无法读取的内容")
                                      : QStringLiteral("有无法读取的内容（%1）").arg(names.first());
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
