#include "UntClock.h"

#include <atomic>
#include <limits>

namespace {
// Milliseconds since the epoch; read by every thread that runs a statement, set by tests.
constexpr qint64 NotPinned = std::numeric_limits<qint64>::min();
std::atomic<qint64> pinned{NotPinned};
std::function<void()> setHook;
} // namespace

namespace Clock {

QDateTime Now() {
    const qint64 at = pinned.load(std::memory_order_relaxed);
    return at == NotPinned ? QDateTime::currentDateTime() : QDateTime::fromMSecsSinceEpoch(at);
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
    pinned = moment.isValid() ? moment.toMSecsSinceEpoch() : NotPinned;
    if (setHook)
        setHook();
}

void Reset() {
    pinned = NotPinned;
    if (setHook)
        setHook();
}

bool IsPinned() {
    return pinned != NotPinned;
}

void OnSet(std::function<void()> hook) {
    setHook = std::move(hook);
}

} // namespace Clock
