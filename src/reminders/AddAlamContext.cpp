#include "AddAlamContext.h"

#include "UntAlamContext.h"
#include "ui_AddAlamContext.h"

TFormAddAlamContext::TFormAddAlamContext(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormAddAlamContext>()) {
    ui_->setupUi(Client());
    AdoptClientForm();
}

TFormAddAlamContext::~TFormAddAlamContext() = default;

void TFormAddAlamContext::btnOKClick() {
    CheckReminderText(ui_->mmoNote->toPlainText());
    AlamContextData->ReMark = ui_->mmoNote->toPlainText();
    AlamContextData->Add();
    Done(mrOk);
}

int ShowAddAlamContext() {
    TFormAddAlamContext dialog;
    return dialog.ShowModal();
}
