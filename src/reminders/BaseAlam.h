#pragma once

#include "dialogs/BaseDlg.h"

#include <QDate>
#include <QTimer>
#include <memory>

namespace Ui {
class TFormBaseAlam;
}
class QLineEdit;
class TAlam;

// The reminder editor: time of day, repeat kind, date or weekdays or day of the month, and
// the text. TFormAddAlam and TFormModAlam add what OK does.
class TFormBaseAlam : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormBaseAlam(QWidget* parent = nullptr);
    ~TFormBaseAlam() override;

    Ui::TFormBaseAlam* ui() const { return ui_.get(); }
    QTimer* tmr1() { return &tmr1_; }

    void tmr1Timer();
    void rbOnlyClick();
    void rbDayClick();
    void rbWeekClick();
    void rbMonthClick();
    void rbYearClick();
    void rbLunarClick();
    void rbWorkdayClick();
    // The user picked a lunar month or day: from now on it is theirs.
    void cbLunarChange();
    void edtHourChange();
    void edtMinuteChange();
    void edtMonWeekChange();
    void edtHourExit();
    void edtMinuteExit();
    void edtMonWeekExit();
    void btnAlamContextClick();

    // Throws EAppError with the message of the first failed check.
    void CheckInput();

    // "星期一" ... "星期日".
    static QString WeekdayName(const QDate& day);
    // "2026年12月8日", whatever the system's language.
    static QString ChineseDateText(const QDate& day);
    // The lunar month-day picked under "农历" (iMonWeek of kind 5); 0 when none is picked.
    int LunarMonthDay() const;

protected:
    void FormShow() override;
    // Shows a stored reminder of kind 4 or 5 (the others are shown by the modify dialog).
    void ShowYearly(const TAlam& alam);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Copies the controls into the reminder record.
    void StoreInto(TAlam& alam) const;

private:
    void FormCreate();
    // The repeat kind's controls: the date row, the day-of-month row, the weekday panel, the
    // lunar row and the days-ahead row.
    void ShowKindControls(bool date, bool monthDay, bool weekdays, bool lunar = false,
                          bool ahead = false);
    // Selects the lunar month-day monthDay in the lunar pickers.
    void PickLunar(int monthDay);
    // "下次：" and the day it rings, and a note when that differs from the month-day picked
    // (a leap month the year lacks, a 30th in a month of 29 days).
    void ShowNextLunarDay();
    // The day the lunar reminder picked rings next, at the time of day typed.
    QDate NextLunarRing() const;
    bool edtHourKeyPress(QEvent* event) const;
    bool edtMonWeekKeyPress(QEvent* event) const;

    std::unique_ptr<Ui::TFormBaseAlam> ui_;
    QTimer tmr1_;
    bool pickingLunar_ = false; // the program, not the user, is setting the lunar pickers
    // The lunar pickers hold the user's choice (or a stored one), which the date picker no
    // longer replaces.
    bool lunarChosen_ = false;
};
