#include "UntTodayLine.h"

#include "UntClockWatch.h"
#include "common/UntClock.h"
#include "common/UntLunar.h"
#include "common/UntWorkdays.h"
#include "reminders/BaseAlam.h"

#include <QLabel>
#include <algorithm>

QString TodayLineText(const QDate& day) {
    QString text = QStringLiteral("%1年%2月%3日 ").arg(day.year()).arg(day.month()).arg(day.day()) +
                   TFormBaseAlam::WeekdayName(day);
    for (const QString& more :
         {LunarDateText(day), Workdays::StatusText(day), Workdays::MissingScheduleText(day)})
        if (!more.isEmpty())
            text += QLatin1Char(' ') + more;
    return text;
}

TTodayLine::TTodayLine(QLabel* label, QObject* parent) : QObject(parent), label_(label) {
    // Asleep until midnight: the clock being set or the machine waking up is told.
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
    connect(TClockWatch::Instance(), &TClockWatch::Jumped, this, [this] { Refresh(); });
    Refresh();
}

void TTodayLine::Refresh() {
    const QDateTime now = Clock::Now();
    const QDate today = now.date();
    // Waking a little early (the monotonic and the wall clock drift apart) just waits again.
    const qint64 wait = now.msecsTo(Clock::LocalMoment(today.addDays(1), QTime(0, 0)));
    timer_.start(int(std::clamp<qint64>(wait, 1, 26 * 3600 * 1000)));
    if (today == shown_)
        return;
    shown_ = today;
    label_->setText(TodayLineText(today));
}

void TTodayLine::Reload() {
    shown_ = QDate();
    Refresh();
}
