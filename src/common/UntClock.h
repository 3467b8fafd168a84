#pragma once

#include <QDateTime>
#include <functional>

// The program's one source of "now". Everything that reads the time (the due check,
// the engine's Date()/Time(), log names, editors) asks here, so tests can pin it.
namespace Clock {

QDateTime Now();
QDate Today();

// The moment the local clock shows day and time. A time the clock skips when it springs
// forward gives the first moment after the gap; one it shows twice, the later showing.
QDateTime LocalMoment(const QDate& day, const QTime& time);

// Pins the clock at a fixed moment until changed again.
void SetNow(const QDateTime& moment);
// Returns to the system clock.
void Reset();
bool IsPinned();
// Called after every SetNow and Reset, so that whatever waits for a moment of this clock can
// look again. One hook; a second replaces the first.
void OnSet(std::function<void()> hook);

} // namespace Clock
