#pragma once

#include <QDateTime>
#include <QList>

// Decides which minutes a tick of the due check must look at, so that every minute whose
// second 0 falls inside the run is checked exactly once, by the first tick that sees it.
// A late tick catches up on the minutes it skipped (up to MaxCatchUp); after a longer gap
// (the machine slept) only the current minute is checked.
class TDueMinutes {
public:
    static constexpr int MaxCatchUp = 5;

    // The run starts at start: the minute it falls in has already begun and is not checked.
    explicit TDueMinutes(const QDateTime& start);

    // The minutes (at second 0) to check on a tick at now, oldest first; usually none.
    QList<QDateTime> Tick(const QDateTime& now);

    QDateTime LastChecked() const { return last_; }

private:
    QDateTime last_; // start of the last minute checked (or passed at start)
};

// Opens an alert for every reminder due in minute (at second 0).
void ShowDueAlerts(const QDateTime& minute);

class QObject;

// The due check that the main window's tmr1 runs every second. A failure is reported by the
// check itself, in a box whose loop the timer keeps ticking in: no other check (and box)
// starts until that box is answered; the missed minutes follow then.
class TDueCheck {
public:
    explicit TDueCheck(const QDateTime& start) : minutes_(start) {}
    void Tick(QObject* owner);

private:
    TDueMinutes minutes_;
    bool running_ = false;
};
