#pragma once

#include "UntAlamEvent.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class TCursor;
struct TProgress;

// Reminders to and from iCalendar files (RFC 5545), each reminder one event of the mapping in
// UntAlamEvent; the README has the table. progress, when given, is advanced and its cancel
// obeyed (EAbort): the commands run these off the interface thread.

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
    QString Warning; // a file whose characters could not all be read
    // "导入了N条提醒，跳过M条：" and the skipped events, one per line, then the warning.
    QString Text() const;
};

// Writes the reminders under list filter 0..7 (0 = all) into one calendar file, replacing
// path whole or not at all. Throws EAppError when it cannot be written.
TExchangeResult ExportIcs(const QString& path, int filter = 0, TProgress* progress = nullptr);

// Adds the events of a calendar file that Quillet can represent, in one transaction, and
// says what it left out and why. A file that cannot be read, is not iCalendar or is damaged
// throws EAppError and changes nothing; so does a cancel.
TImportSummary ImportIcs(const QString& path, TProgress* progress = nullptr);

// The pieces, without files or database.
// The calendar text of alams as of now; reminders that can never fall due are left out and
// listed in skipped.
QByteArray AlamsToIcs(const QList<TAlamRecord>& alams, const QDateTime& now, QStringList* skipped,
                      TProgress* progress = nullptr);
// Reads calendar bytes (UTF-8, else GB18030) into reminders as of now; throws EAppError for
// text that is not iCalendar or is damaged.
QList<TAlamRecord> IcsToAlams(const QByteArray& data, const QDateTime& now, TImportSummary* summary,
                              TProgress* progress = nullptr);
// The reminders under list filter 0..7, in key order, read off the interface's connection.
QList<TAlamRecord> ReadAlams(int filter = 0, TProgress* progress = nullptr);
// The reminder at the cursor's row of a "select * from Alam", its days ahead as stored.
TAlamRecord AlamRecordAt(const TCursor& cursor);
