// The main window's minute check for due reminders and its answers to the alerts.
#include "Main.h"

#include "ShowAlam.h"
#include "UntApplication.h"
#include "UntClock.h"
#include "UntDueCheck.h"
#include "reminders/UntAlam.h"
#include "storage/UntDbAccess.h"
#include "ui_Main.h"

#include <QScopedValueRollback>

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
        for (const QDateTime& minute : dueMinutes_->Tick(Clock::Now()))
            for (const TDueAlam& due : AlamData->DueList(minute))
                if (dueMinutes_->FirstShowing(due.ID, minute))
                    ShowAlert(due.ID, due.Text, due.Repeating);
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
