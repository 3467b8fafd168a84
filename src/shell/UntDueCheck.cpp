#include "UntDueCheck.h"

namespace {

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
