#include "ModAlam.h"

#include "UntAlam.h"
#include "common/UntPublic.h"
#include "ui_BaseAlam.h"
#include "ui_ModAlam.h"

TFormModAlam::TFormModAlam(QWidget* parent) : TFormBaseAlam(parent) {
    Ui::TFormModAlam caption;
    caption.setupUi(Client());
    AdoptClientForm();
}

void TFormModAlam::FormShow() {
    TFormBaseAlam::FormShow();
    AlamData->Load(AlamID);
    ui()->edtHour->setText(QString::number(AlamData->iHour));
    ui()->edtMinute->setText(QString::number(AlamData->iMinute));
    switch (AlamData->ReDay) {
    case rdDaily:
        ui()->rbDay->setChecked(true);
        break;
    case rdWeekly:
        ui()->rbWeek->setChecked(true);
        break;
    case rdMonthly:
        ui()->rbMonth->setChecked(true);
        break;
    case rdWorkdays:
        ui()->rbWorkday->setChecked(true);
        break;
    default:
        ui()->rbOnly->setChecked(true);
    }
    ui()->chkSkipHolidays->setChecked(AlamData->SkipHolidays);
    const QString days = QString::number(AlamData->iMonWeek);
    if (ui()->rbWeek->isChecked()) {
        QCheckBox* boxes[] = {ui()->chk1, ui()->chk2, ui()->chk3, ui()->chk4,
                              ui()->chk5, ui()->chk6, ui()->chk7};
        for (int i = 0; i < 7; ++i)
            boxes[i]->setChecked(days.contains(QChar(u'1' + i)));
    } else {
        ui()->edtMonWeek->setText(days);
    }
    ui()->DBDay->setDate(AlamData->AlamDate.date());
    ShowYearly(*AlamData);
    ui()->mmoNote->setPlainText(AlamData->ReMark);
}

void TFormModAlam::btnOKClick() {
    CheckInput();
    // Its alert may have deleted the reminder while the dialog was open; an update would
    // then store nothing. What was typed stays, as a new reminder or in the open dialog.
    if (!AlamData->Exists(AlamID)) {
        if (!AskYesNo(DeletedMeanwhileText))
            return;
        CheckInput(); // time went on while the question was open
        StoreInto(*AlamData);
        AlamData->Add();
        Done(mrOk);
        return;
    }
    StoreInto(*AlamData);
    AlamData->Update(AlamID);
    Done(mrOk);
}

int ShowModAlam(const QString& id) {
    TFormModAlam dialog;
    dialog.AlamID = id;
    return dialog.ShowModal();
}
