// The main window's minute check for due reminders and its answers to the alerts.
#include "Main.h"

#include "ShowAlam.h"
#include "UntApplication.h"
#include "UntClock.h"
#include "UntDueCheck.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlEngine.h"
#include "ui_Main.h"

#include <QScopedValueRollback>

namespace {

// Due in the minute the engine's Time() names, by kind: a one-off on its date, a daily one,
// a weekly one whose digits hold today (Monday = 1), a monthly one on its day.
const QString DueQuery = QStringLiteral(
    "select ID,ReDay,Remark from Alam  where Hour(Time())=iHour and Minute(Time())=iMinute  "
    "and ((AlamDate=Date() and ReDay=0) or (ReDay=1) or  (ReDay=2 and "
    "InStr(CStr(iMonWeek),CStr(WeekDay(date(Date(),'-1 day'))))<>0 ) or  (ReDay=3 and "
    "Day(Date())=iMonWeek ) ) ");

} // namespace

void TFormMain::SetupAlerts() {
    SetAlertTarget(this);
    dueMinutes_ = std::make_unique<TDueMinutes>(Clock::Now());
    tmr1_.setInterval(1000);
    connect(&tmr1_, &QTimer::timeout, this, [this] { tmr1Timer(); });
    tmr1_.start();
}

void TFormMain::tmr1Timer() {
    LiftAlertsAboveModalDialog();
    // A failure is reported here, in a box whose loop this timer keeps ticking in: no other
    // check (and box) starts until that box is answered; the missed minutes follow then.
    if (dueCheckRunning_)
        return;
    const QScopedValueRollback<bool> running(dueCheckRunning_, true);
    ReportEscaped(this, [this] {
        for (const QDateTime& minute : dueMinutes_->Tick(Clock::Now())) {
            {
                TEngineMoment at(minute);
                DbAccess->OpenSideQuery(DueQuery);
            }
            TCursor& due = DbAccess->SideCursor;
            for (due.First(); !due.Eof(); due.Next())
                if (dueMinutes_->FirstShowing(due.AsString("ID"), minute))
                    ShowAlert(due.AsString("ID"), due.AsString("Remark"),
                              due.AsInteger("ReDay") != 0);
        }
    });
}

bool TFormMain::event(QEvent* event) {
    switch (static_cast<int>(event->type())) {
    case WM_ALAMDELETE:
        WMAlamDelete(static_cast<TAlamEvent*>(event)->ID);
        return true;
    case WM_ALAMSEEN:
        WMAlamSeen(static_cast<TAlamEvent*>(event)->ID);
        return true;
    case WM_ALAMSNOOZE:
        WMAlamSnooze(static_cast<TAlamEvent*>(event)->ID, static_cast<TAlamEvent*>(event)->Delay);
        return true;
    default:
        return QWidget::event(event);
    }
}

void TFormMain::WMAlamDelete(int id) {
    const QString key = QString::number(id);
    AlamData->Delete(key);
    QTreeWidget* list = ui_->lv1;
    for (int row = list->topLevelItemCount() - 1; row >= 0; --row)
        if (list->topLevelItem(row)->text(0) == key)
            delete list->takeTopLevelItem(row);
}

void TFormMain::WMAlamSeen(int id) {
    const QString key = QString::number(id);
    AlamData->MarkSeen(key);
    QTreeWidget* list = ui_->lv1;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        if (list->topLevelItem(row)->text(0) == key)
            list->topLevelItem(row)->setText(4, QStringLiteral("看过的"));
}

void TFormMain::WMAlamSnooze(int id, int delay) {
    AlamData->Reschedule(QString::number(id), delay);
    dueMinutes_->Forget(QString::number(id));
    AlamData->LoadList(ui_->lv1, FilterIndex());
}
