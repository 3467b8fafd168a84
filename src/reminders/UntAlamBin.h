#pragma once

#include <QString>

class TConnection;

// Deleted reminders go to the recycle bin first and come back from it whole.

// Puts the reminder with that ID in the bin; its row is deleted by the caller, in the same
// transaction.
void PutReminderInBin(TConnection& connection, const QString& id);
// Adds the bin entry's reminder again and takes the entry out; the new ID. It keeps its uid
// unless another reminder has taken it meanwhile, and syncs as a change like any new one.
qint64 RestoreReminder(TConnection& connection, qint64 entry);
