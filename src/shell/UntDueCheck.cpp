#include "UntDueCheck.h"

#include "ShowAlam.h"
#include "common/UntClock.h"
#include "common/UntHandler.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlEngine.h"

#include <QScopedValueRollback>

namespace {

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
    for (const TDueAlam& due : AlamData->DueList(minute))
        if (minutes.FirstShowing(due.ID, minute))
            ShowAlert(due.ID, due.Text, due.Repeating);
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
