#include "UntTodayLine.h"

#include "common/UntClock.h"
#include "common/UntLunar.h"
#include "reminders/BaseAlam.h"

#include <QLabel>

QString TodayLineText(const QDate& day) {
    QString text = QStringLiteral("%1年%2月%3日 ").arg(day.year()).arg(day.month()).arg(day.day()) +
                   TFormBaseAlam::WeekdayName(day);
    const QString lunar = LunarDateText(day);
    return lunar.isEmpty() ? text : text + QLatin1Char(' ') + lunar;
}

TTodayLine::TTodayLine(QLabel* label, QObject* parent) : QObject(parent), label_(label) {
    // A once-a-second look also notices the clock being set or the machine waking up.
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
    timer_.start();
    Refresh();
}

void TTodayLine::Refresh() {
    const QDate today = Clock::Today();
    if (today == shown_)
        return;
    shown_ = today;
    label_->setText(TodayLineText(today));
}
