#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <libical/ical.h>

class TCursor;

// Reminders to and from iCalendar files (RFC 5545, lunar rules after RFC 7529). The mapping
// is described in the README.

// One reminder as it travels through a calendar file.
struct TAlamRecord {
    qint64 ID = 0;
    int ReDay = 0;
    int iHour = 0;
    int iMinute = 0;
    int iMonWeek = 1;
    QDate AlamDate;
    QString ReMark;
    bool bLook = false;
    int AheadDays = 0; // yearly kinds: also due this many days before
};

// What an export wrote: Count reminders, Skipped those left out ("“text”：reason"), and one
// line for a box or the command line.
struct TExchangeResult {
    int Count = 0;
    QStringList Skipped;
    QString Text;
};

// What an import did: Imported reminders added, one "“title”：reason" per event left out.
struct TImportSummary {
    int Imported = 0;
    QStringList Skipped;
    // "导入了N条提醒，跳过M条：" and the skipped events, one per line.
    QString Text() const;
};

// Writes the reminders under list filter 0..7 (0 = all) into one calendar file, replacing
// path whole or not at all. Throws EAppError when it cannot be written.
TExchangeResult ExportIcs(const QString& path, int filter = 0);

// Adds the events of a calendar file that Quillet can represent, in one transaction, and
// says what it left out and why. A file that cannot be read, is not iCalendar or is damaged
// throws EAppError and changes nothing.
TImportSummary ImportIcs(const QString& path);

// The pieces, without files or database.
// The calendar text of alams, each repeat starting at its first day on or after from;
// reminders that can never fall due are left out and listed in skipped.
QByteArray AlamsToIcs(const QList<TAlamRecord>& alams, const QDate& from, const QDateTime& stamp,
                      QStringList* skipped);
// Reads calendar text into reminders as of now; throws EAppError for text that is not
// iCalendar or is damaged.
QList<TAlamRecord> IcsToAlams(const QByteArray& data, const QDateTime& now,
                              TImportSummary* summary);
// The first day on or after from on which a repeating reminder falls due; invalid when never
// (a one-off: its own day).
QDate FirstDueDay(const TAlamRecord& alam, const QDate& from);
// The reminders under list filter 0..7, in key order.
QList<TAlamRecord> ReadAlams(int filter = 0);
// The reminder at the cursor's row of a "select * from Alam", its days ahead as stored.
TAlamRecord AlamRecordAt(const TCursor& cursor);

// A floating (local wall-clock) date-time at a minute of day.
icaltimetype IcsLocalTime(const QDate& day, int hour, int minute);
