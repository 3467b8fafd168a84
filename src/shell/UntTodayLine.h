#pragma once

#include <QDate>
#include <QObject>
#include <QTimer>

class QLabel;

// "2026年12月7日 星期一 农历十月廿九": today's date, weekday and lunar date.
QString TodayLineText(const QDate& day);

// Keeps a label showing TodayLineText of the program's clock; it changes when the day does.
class TTodayLine : public QObject {
public:
    TTodayLine(QLabel* label, QObject* parent);
    // Looks at the clock; the timer does this every second.
    void Refresh();

private:
    QLabel* label_;
    QDate shown_;
    QTimer timer_;
};
