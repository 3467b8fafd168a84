#include "UntDueCheck.h"

#include "ShowAlam.h"
#include "common/UntClock.h"
#include "common/UntHandler.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlEngine.h"

#include <QScopedValueRollback>

namespace {

// Due in the minute the engine's Time() names, by kind: a one-off on its date, a daily one,
// a weekly one whose digits hold today (Monday = 1), a monthly one on its day.
const QString DueQuery = QStringLiteral(
    "select ID,ReDay,Remark from Alam  where Hour(Time())=iHour and Minute(Time())=iMinute  "
    "and ((AlamDate=Date() and ReDay=0) or (ReDay=1) or  (ReDay=2 and "
    "InStr(CStr(iMonWeek),CStr(WeekDay(date(Date(),'-1 day'))))<>0 ) or  (ReDay=3 and "
    "Day(Date())=iMonWeek ) ) ");

QDateTime MinuteOf(const QDateTime& t) {
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()), t.timeSpec());
}

} // namespace

TDueMinutes::TDueMinutes(const QDateTime& start) : last_(MinuteOf(start)) {}

QList<QDateTime> TDueMinutes::Tick(const QDateTime& now) {
    const QDateTime minute = MinuteOf(now);
    const qint64 ahead = last_.secsTo(minute) / 60;
    QList<QDateTime> due;
    if (ahead <= 0) {
        // The clock went back: a small step waits for the checked minutes to pass again
        // (no alert twice); a large one starts afresh from the current minute.
        if (ahead < -MaxCatchUp) {
            last_ = minute;
            due << minute;
        }
        return due;
    }
    if (ahead > MaxCatchUp) {
        due << minute;
    } else {
        for (qint64 i = 1; i <= ahead; ++i)
            due << last_.addSecs(60 * i);
    }
    last_ = minute;
    return due;
}

void ShowDueAlerts(const QDateTime& minute) {
    {
        TEngineMoment at(minute);
        DbAccess->OpenSideQuery(DueQuery);
    }
    TCursor& due = DbAccess->SideCursor;
    for (due.First(); !due.Eof(); due.Next())
        ShowAlert(due.AsString("ID"), due.AsString("Remark"), due.AsInteger("ReDay") != 0);
}

void TDueCheck::Tick(QObject* owner) {
    LiftAlertsAboveModalDialog();
    if (running_)
        return;
    const QScopedValueRollback<bool> running(running_, true);
    RunHandler(owner, [this] {
        for (const QDateTime& minute : minutes_.Tick(Clock::Now()))
            ShowDueAlerts(minute);
    });
}
