#include "UntClockWatch.h"

#include "common/UntClock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

TClockWatch* TClockWatch::Instance() {
    static QPointer<TClockWatch> watch;
    if (!watch)
        watch = new TClockWatch;
    return watch;
}

TClockWatch::TClockWatch() : QObject(QCoreApplication::instance()) {
    // Queued: the clock may be moved from inside a handler that does not expect the timers of
    // its own window to run meanwhile.
    Clock::OnSet([watch = QPointer<TClockWatch>(this)] {
        if (watch)
            QMetaObject::invokeMethod(watch, &TClockWatch::Jumped, Qt::QueuedConnection);
    });
#ifdef Q_OS_LINUX
    // A timer for a moment that never comes, cancelled by the kernel whenever the system's
    // clock is set or steps after a sleep: the one way to learn of a jump without looking.
    fd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0 && !Arm())
        Close();
    if (fd_ < 0)
        return;
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        quint64 expired = 0;
        // Fails with ECANCELED after a jump; either way the timer is set again.
        [[maybe_unused]] const ssize_t n = read(fd_, &expired, sizeof expired);
        if (!Arm()) {
            notifier->setEnabled(false);
            Close();
        }
        Q_EMIT Jumped();
    });
#endif
}

TClockWatch::~TClockWatch() {
    Clock::OnSet({});
    Close();
}

bool TClockWatch::Arm() {
#ifdef Q_OS_LINUX
    itimerspec never{};
    never.it_value.tv_sec = 7258118400; // 2200-01-01
    return timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) == 0;
#else
    return false;
#endif
}

void TClockWatch::Close() {
#ifdef Q_OS_LINUX
    if (fd_ >= 0)
        close(fd_);
#endif
    fd_ = -1;
}

int MsToNextMinute(const QDateTime& now) {
    const qint64 ms = now.toMSecsSinceEpoch() % 60000;
    return int(60000 - (ms < 0 ? ms + 60000 : ms));
}
