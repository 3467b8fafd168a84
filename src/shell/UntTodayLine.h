#pragma once

#include <QDate>
#include <QObject>
#include <QTimer>

class QLabel;

// "2026年12月7日 星期一 农历十月廿九": today's date, weekday and lunar date; then the day's
// official status ("休 国庆节", "班 春节") and, from 1 November while next year's schedule is
// missing, "2027年放假安排未导入".
QString TodayLineText(const QDate& day);

// Keeps a label showing TodayLineText of the program's clock; it changes when the day does,
// the only moment its timer wakes.
class TTodayLine : public QObject {
public:
    TTodayLine(QLabel* label, QObject* parent);
    // Looks at the clock and waits for the next midnight.
    void Refresh();
    // Shows the day again whatever was shown (a holiday schedule came in).
    void Reload();

private:
    QLabel* label_;
    QDate shown_;
    QTimer timer_;
};
