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

// A clock goes back by at most a few hours; what was shown before that cannot repeat.
constexpr qint64 RepeatWindowMinutes = 4 * 60;

qint64 RealMinute(const QDateTime& t) {
    const qint64 secs = t.toSecsSinceEpoch();
    return secs >= 0 ? secs / 60 : (secs - 59) / 60;
}

QDateTime WallMinute(qint64 realMinute) {
    const QDateTime local = QDateTime::fromSecsSinceEpoch(realMinute * 60).toLocalTime();
    return QDateTime(local.date(), QTime(local.time().hour(), local.time().minute()), Qt::UTC);
}

} // namespace

TDueMinutes::TDueMinutes(const QDateTime& start)
    : last_(RealMinute(start)), lastWall_(WallMinute(last_)) {}

QList<QDateTime> TDueMinutes::Tick(const QDateTime& now) {
    const qint64 minute = RealMinute(now);
    const qint64 ahead = minute - last_;
    QList<QDateTime> due;
    if (ahead <= 0) {
        // The clock went back: a small step waits for the checked minutes to pass again
        // (no alert twice); a large one starts afresh from the current minute.
        if (ahead < -MaxCatchUp) {
            last_ = minute;
            lastWall_ = WallMinute(minute);
            due << lastWall_;
        }
        return due;
    }
    if (ahead > MaxCatchUp) {
        last_ = minute;
        lastWall_ = WallMinute(minute);
        return {lastWall_};
    }
    for (qint64 m = last_ + 1; m <= minute; ++m) {
        const QDateTime wall = WallMinute(m);
        // The readings a spring-forward skips are checked with the first one after them.
        for (QDateTime skipped = lastWall_.addSecs(60); skipped < wall;
             skipped = skipped.addSecs(60))
            due << skipped;
        due << wall;
        lastWall_ = wall;
    }
    last_ = minute;
    for (auto it = shown_.begin(); it != shown_.end();) {
        it->removeIf([this](const QPair<QDateTime, qint64>& s) {
            return last_ - s.second > RepeatWindowMinutes;
        });
        it = it->isEmpty() ? shown_.erase(it) : std::next(it);
    }
    return due;
}

bool TDueMinutes::FirstShowing(const QString& id, const QDateTime& minute) {
    QList<QPair<QDateTime, qint64>>& readings = shown_[id];
    for (const auto& s : readings)
        if (s.first == minute)
            return false;
    readings.append({minute, last_});
    return true;
}

void TDueMinutes::Forget(const QString& id) {
    shown_.remove(id);
}

void ShowDueAlerts(const QDateTime& minute, TDueMinutes& minutes) {
    {
        TEngineMoment at(minute);
        DbAccess->OpenSideQuery(DueQuery);
    }
    TCursor& due = DbAccess->SideCursor;
    for (due.First(); !due.Eof(); due.Next())
        if (minutes.FirstShowing(due.AsString("ID"), minute))
            ShowAlert(due.AsString("ID"), due.AsString("Remark"), due.AsInteger("ReDay") != 0);
}

void TDueCheck::Tick(QObject* owner) {
    LiftAlertsAboveModalDialog();
    if (running_)
        return;
    const QScopedValueRollback<bool> running(running_, true);
    RunHandler(owner, [this] {
        for (const QDateTime& minute : minutes_.Tick(Clock::Now()))
            ShowDueAlerts(minute, minutes_);
    });
}
