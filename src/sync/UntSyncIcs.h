#pragma once

#include "UntSyncStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// iCalendar forms of what travels: a reminder is one VEVENT, a group with its note one
// VJOURNAL. `changed` is the moment of the last change (LAST-MODIFIED), whether local or UTC.
// With the server's copy (serverCopy, see ForeignParts): the reminder's values are written
// into it, so what other programs added there (a location, a description, an end) stays.
QByteArray ReminderToIcs(const TSyncReminder& r, const QDateTime& changed,
                         const QByteArray& serverCopy = QByteArray());
// The object as it is there when its event holds anything this program does not show (what a
// write-back must keep), else empty.
QByteArray ForeignParts(const QByteArray& ics);
QByteArray GroupToIcs(const TSyncGroup& g, const QDateTime& changed);

// Reads what another machine or client wrote. False, with the reason in why, when the
// object is not one this program can keep (another component, an unsupported repeat rule, a
// property libical cannot read).
// changed is invalid when the object carries no time of change.
bool ReminderFromIcs(const QByteArray& ics, TSyncReminder& r, QDateTime& changed, QString& why);
bool GroupFromIcs(const QByteArray& ics, TSyncGroup& g, QDateTime& changed, QString& why);
