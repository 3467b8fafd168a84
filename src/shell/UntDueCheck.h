#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>

// Decides which minutes a tick of the due check must look at, so that every minute whose
// second 0 falls inside the run is checked exactly once, by the first tick that sees it.
// A late tick catches up on the minutes it skipped (up to MaxCatchUp); after a longer gap
// (the machine slept) only the current minute is checked.
//
// Minutes are named as the wall clock shows them. When the clock springs forward, the
// minutes it skips are checked at the first minute after the gap, so a reminder set inside
// the gap is not lost; when it goes back, the repeated minutes are checked again as they
// come, and FirstShowing keeps a reminder from being shown twice for the same reading.
class TDueMinutes {
public:
    static constexpr int MaxCatchUp = 5;

    // The run starts at start: the minute it falls in has already begun and is not checked.
    explicit TDueMinutes(const QDateTime& start);

    // The minutes to check on a tick at now, oldest first; usually none. Each is a wall-clock
    // reading (date and time of day) held as a UTC value, so that a minute inside a
    // daylight-saving gap can be named too.
    QList<QDateTime> Tick(const QDateTime& now);

    // False when the reminder was already shown for that reading (the hour the clock
    // repeats); records it otherwise.
    bool FirstShowing(const QString& id, const QDateTime& minute);
    // The reminder was moved: any reading may show it again.
    void Forget(const QString& id);

private:
    qint64 last_;        // the real minute (since the epoch) last checked, or passed at start
    QDateTime lastWall_; // its wall-clock reading
    // Reminders shown lately, with the readings they were shown for and the real minute.
    QHash<QString, QList<QPair<QDateTime, qint64>>> shown_;
};

// Opens an alert for every reminder due in minute that minutes has not shown for it yet.
void ShowDueAlerts(const QDateTime& minute, TDueMinutes& minutes);

class QObject;

// The due check that the main window's tmr1 runs at every second 0 (and every second while
// alerts are open). A failure is reported by the check itself, in a box whose loop the timer
// keeps ticking in: no other check (and box) starts until that box is answered; the missed
// minutes follow then.
class TDueCheck {
public:
    explicit TDueCheck(const QDateTime& start) : minutes_(start) {}
    void Tick(QObject* owner);
    // The reminder was moved (edited or snoozed): it may be shown again for any reading.
    void Forget(const QString& id) { minutes_.Forget(id); }

private:
    TDueMinutes minutes_;
    bool running_ = false;
};
