#include "ModAlamContext.h"

#include "UntAlamContext.h"
#include "ui_ModAlamContext.h"

TFormModAlamContext::TFormModAlamContext(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormModAlamContext>()) {
    ui_->setupUi(Client());
    AdoptClientForm();
}

TFormModAlamContext::~TFormModAlamContext() = default;

void TFormModAlamContext::btnOKClick() {
    CheckReminderText(ui_->mmoNote->toPlainText());
    AlamContextData->ReMark = ui_->mmoNote->toPlainText();
    AlamContextData->Update(ContextID);
    Done(mrOk);
}

int ShowModAlamContext(const QString& id, const QString& text) {
    TFormModAlamContext dialog;
    dialog.ContextID = id;
    dialog.ui()->mmoNote->setPlainText(text);
    return dialog.ShowModal();
}
