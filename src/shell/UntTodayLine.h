#pragma once

#include <QDate>
#include <QObject>
#include <QTimer>

class QLabel;

// "2026年12月7日 星期一 农历十月廿九": today's date, weekday and lunar date.
QString TodayLineText(const QDate& day);

// Keeps a label showing TodayLineText of the program's clock; it changes when the day does,
// the only moment its timer wakes.
class TTodayLine : public QObject {
public:
    TTodayLine(QLabel* label, QObject* parent);
    // Looks at the clock and waits for the next midnight.
    void Refresh();

private:
    QLabel* label_;
    QDate shown_;
    QTimer timer_;
};
