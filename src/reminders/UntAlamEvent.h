#pragma once

#include "common/UntIcal.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <libical/ical.h>
#include <memory>
#include <vector>

// The one mapping between a reminder and an iCalendar event, for calendar files and for the
// sync alike; what differs between the two is an option below. The table is in the README.

// One reminder as it travels as an event.
struct TAlamRecord {
    qint64 ID = 0;
    int ReDay = 0;
    int iHour = 0;
    int iMinute = 0;
    int iMonWeek = 1;
    QDate AlamDate;
    QString ReMark;
    bool bLook = false;
    int AheadDays = 0;         // yearly kinds: also due this many days before
    bool SkipHolidays = false; // daily and weekly kinds: not on official holidays
};

// How a reminder is written.
struct TEventForm {
    // The event's UID. Empty: "quillet-alam-<ID>@quillet" with X-QUILLET-ID, a calendar file's
    // form, where the row's number names the reminder within that file only.
    QString Uid;
    // When the reminder last changed: LAST-MODIFIED and DTSTAMP. Invalid: DTSTAMP is now and
    // there is no LAST-MODIFIED.
    QDateTime Changed;
    // A reminder that can never fall due (no weekday chosen, day 32) is written all the same,
    // on its own day with its kind in X- properties (the sync keeps every row); otherwise it
    // is left out.
    bool KeepNeverDue = false;
    // A lunar yearly reminder's coming days: false, RDATEs of its one event (one object per
    // reminder, as a server keeps it); true, an event of their own each, marked
    // X-QUILLET-COPY-OF the first, for the programs that know no RDATE (calcurse).
    bool LunarDaysAsEvents = false;
};

// The events of a reminder: one, none when it never falls due and the form leaves such out,
// or a lunar one's days as events of their own. A repeat's DTSTART is its first due day on or
// after now's day (a 法定工作日 one's first from Monday to Friday, with a 班 weekend day before
// it as an RDATE). A lunar yearly reminder is written as its coming days (ten years of them)
// with its month-day in X-QUILLET-LUNAR, never as an RSCALE rule, which most programs and
// servers refuse. The official holiday schedule's days, as far as it knows them, are EXDATEs
// and RDATEs of a 法定工作日 reminder and of a daily or weekly one that skips holidays.
std::vector<TComponent> AlamToEvents(const TAlamRecord& a, const QDateTime& now,
                                     const TEventForm& form);

// The event a lunar day's own event copies (its UID), or empty for any other event.
QString CopyOf(icalcomponent* event);

// How an event is read.
struct TEventReading {
    QDateTime Now; // what "to come" and "has ended" mean
    // A calendar file's import takes only what rings from now on: a one-off that has passed and
    // a repeat that begins later are left out. A synced object is taken as it stands.
    bool OnlyToCome = true;
};

// Reads a VEVENT (or a VTODO, by its DUE when it has no DTSTART) into a. Empty on success,
// else the reason in the words the import summary uses; title gets the event's title.
QString EventToAlam(icalcomponent* event, const TEventReading& how, TAlamRecord* a,
                    QString* title = nullptr);

// The first day on or after from on which a repeating reminder falls due; invalid when never
// (a one-off: its own day).
QDate FirstDueDay(const TAlamRecord& alam, const QDate& from);

// A floating (local wall-clock) date-time at a minute of day.
icaltimetype IcsLocalTime(const QDate& day, int hour, int minute);
// A moment in UTC, to the second.
icaltimetype IcsUtcTime(const QDateTime& moment);

// libical aborts on its own errors by default; damaged input must only be refused.
void QuietLibical();

// Texts in events and journals. iCalendar texts know only LF line breaks: a text with other
// control characters (a CR LF from another platform) also travels exactly, base64, in the
// X- property rawName, used on reading while the readable text is unchanged.
namespace IcsText {
QString Readable(const QString& text);
void Set(icalcomponent* c, icalproperty* p, const char* rawName, const QString& text);
QString Get(icalcomponent* c, icalproperty_kind kind, const char* rawName);
void AddX(icalcomponent* c, const char* name, const QString& value);
QString X(icalcomponent* c, const char* name); // empty when absent
// libical drops a property it cannot read and leaves an X-LIC-ERROR in its place: the name of
// each such property ("RRULE"), empty where libical does not name it.
QStringList Unreadable(icalcomponent* c);
} // namespace IcsText
