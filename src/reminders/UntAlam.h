#pragma once

#include "common/UntListRows.h"

#include <QDateTime>
#include <QString>

class QTreeWidget;

// Repeat kinds of a reminder (column ReDay).
enum TReDay { rdOnce = 0, rdDaily = 1, rdWeekly = 2, rdMonthly = 3 };

// The reminder store: one reminder record plus the statements that read and write the table
// Alam. Callers fill the public fields before Add and Update; Load fills them.
class TAlam {
public:
    QDateTime AlamDate;
    QString ReMark;
    int ReDay = rdOnce;
    int iHour = 0;
    int iMinute = 0;
    int iMonWeek = 1;
    QString SqlText; // the statement built last

    void Add();
    // The reminders under filter 0..6 ("全部提醒", "今天", "明天", "错过", "每天", "每周",
    // "每月"), the missed one-off reminders marked in column 4.
    TRows ListRows(int filter);
    // Fills view with ListRows(filter).
    void LoadList(QTreeWidget* view, int filter);
    void Delete(const QString& id);
    void Load(const QString& id);
    void Update(const QString& id);
    // Whether the reminder with that key is still stored (an alert may have deleted it).
    bool Exists(const QString& id);
    void MarkSeen(const QString& id);
    // Moves the reminder to now plus the delay of delayIndex 0..4 (3, 5, 10, 30, 60 minutes).
    void Reschedule(const QString& id, int delayIndex);
};

extern TAlam* AlamData;

// Texts of the reminder list's columns 1 and 4.
inline const QString AlamOnceText = QStringLiteral("仅一次");
inline const QString AlamDailyText = QStringLiteral("每天");
inline const QString AlamWeeklyText = QStringLiteral("每周");
inline const QString AlamMonthlyText = QStringLiteral("每月");
inline const QString AlamSeenText = QStringLiteral("看过的");
inline const QString AlamMissedText = QStringLiteral("错过的");
