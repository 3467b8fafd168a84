#include "AddAlamContext.h"

#include "UntAlamContext.h"
#include "storage/UException.h"
#include "storage/UntSqlText.h"
#include "ui_AddAlamContext.h"

TFormAddAlamContext::TFormAddAlamContext(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormAddAlamContext>()) {
    ui_->setupUi(Client());
    AdoptClientForm();
}

TFormAddAlamContext::~TFormAddAlamContext() = default;

void TFormAddAlamContext::btnOKClick() {
    if (IsBlank(ui_->mmoNote->toPlainText()))
        throw EAppError(QStringLiteral("提醒内容不能为空！"));
    AlamContextData->ReMark = ui_->mmoNote->toPlainText();
    AlamContextData->Add();
    Done(mrOk);
}

int ShowAddAlamContext() {
    TFormAddAlamContext dialog;
    return dialog.ShowModal();
}
