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
