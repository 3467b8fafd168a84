#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

class TDbAccess;

// A connected DbAccess over a new database in a temporary AppDir.
class TBenchDb {
public:
    TBenchDb();
    ~TBenchDb();
    QString Folder() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<TDbAccess> db_;
};

// Statements inserting count reminders: half one-off (a third of those missed by
// 2026-12-07), the rest daily, weekly and monthly.
QString ReminderInserts(int count);
