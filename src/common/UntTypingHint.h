#pragma once

#include <QString>

class QLabel;
class QStatusBar;
class QTimer;

// The typing hint of a status bar: every 200 ms tick extends its first panel by the hint's
// next character until the hint is complete, empties it on the following tick, and starts
// again; never part of a character. The timer runs only while the bar can be seen.
class TTypingHint {
public:
    TTypingHint(QStatusBar* bar, const QString& hint);
    TTypingHint(const TTypingHint&) = delete;
    TTypingHint& operator=(const TTypingHint&) = delete;

    // The owner's timer handler calls this on every tick.
    void Tick();
    QLabel* Panel() const { return panel_; }
    // The 200 ms timer, a child of the bar named tmrHint; the owner connects and starts it,
    // and it stops while the bar is hidden and starts again when the bar is shown.
    QTimer* Timer() { return timer_; }

private:
    QString hint_;
    QLabel* panel_;
    QTimer* timer_;
};
