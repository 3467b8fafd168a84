#pragma once

#include <QObject>

class QDateTime;

// Says when the program's clock jumped instead of running on: it was set (the system's clock,
// or the program's pinned one) or the machine woke from sleep. Timers that wait for a moment
// of the clock wait for the monotonic time, which knows nothing of such jumps: they look again
// on Jumped. One for the whole program, made on first use.
class TClockWatch : public QObject {
    Q_OBJECT
public:
    static TClockWatch* Instance();
    // Whether jumps of the system's clock are seen here; where they are not, a waiting timer
    // must look at the clock every second, as it cannot be told.
    bool SeesSystemJumps() const { return fd_ >= 0; }
    ~TClockWatch() override;

Q_SIGNALS:
    void Jumped();

private:
    TClockWatch();
    bool Arm();
    void Close();

    int fd_ = -1;
};

// Milliseconds from now to the next second 0 of a minute (60,000 at a second 0 itself).
int MsToNextMinute(const QDateTime& now);
