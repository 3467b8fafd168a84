#include "UntClock.h"

namespace {
QDateTime pinned;
}

namespace Clock {

QDateTime Now() {
    return pinned.isValid() ? pinned : QDateTime::currentDateTime();
}

QDate Today() {
    return Now().date();
}

QDateTime LocalMoment(const QDate& day, const QTime& time) {
    const QDateTime reading(day, time, Qt::UTC);
    // Gaps last an hour or two; a day covers any the zone data holds.
    for (int minutes = 0; minutes <= 24 * 60; ++minutes) {
        const QDateTime next = reading.addSecs(60 * minutes);
        const QDateTime local(next.date(), next.time());
        if (!local.isValid())
            continue;
        // A reading the clock shows twice: the later showing, which is still to come
        // after the first has passed.
        for (int shift : {30, 60, 120}) {
            const QDateTime later = local.addSecs(60 * shift);
            if (later.date() == local.date() && later.time() == local.time())
                return later;
        }
        return local;
    }
    return QDateTime(day, time);
}

void SetNow(const QDateTime& moment) {
    pinned = moment;
}

void Reset() {
    pinned = QDateTime();
}

bool IsPinned() {
    return pinned.isValid();
}

} // namespace Clock
