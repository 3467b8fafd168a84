#include "AddAlam.h"

#include "UntAlam.h"
#include "ui_AddAlam.h"

TFormAddAlam::TFormAddAlam(QWidget* parent) : TFormBaseAlam(parent) {
    Ui::TFormAddAlam caption;
    caption.setupUi(Client());
    AdoptClientForm();
}

void TFormAddAlam::btnOKClick() {
    CheckInput();
    StoreInto(*AlamData);
    AlamData->Add();
    Done(mrOk);
}

int ShowAddAlam() {
    TFormAddAlam dialog;
    return dialog.ShowModal();
}
