#include "AddType.h"

#include "common/UntDateStamp.h"
#include "common/UntPublic.h"
#include "storage/UntSqlText.h"
#include "ui_AddType.h"

#include <limits>

TFormAddType::TFormAddType(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormAddType>()) {
    ui_->setupUi(Client());
    AdoptClientForm();
    QPalette face = ui_->edtPos->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    ui_->edtPos->setPalette(face);
    ui_->edtName->setMaxLength(std::numeric_limits<int>::max());
    TDateStampKeys::Install(ui_->edtName,
                            [this](QKeyEvent* event) { return edtNameKeyDown(event); });
}

TFormAddType::~TFormAddType() = default;

QLineEdit* TFormAddType::edtPos() const {
    return ui_->edtPos;
}
QLineEdit* TFormAddType::edtName() const {
    return ui_->edtName;
}

bool TFormAddType::edtNameKeyDown(QKeyEvent* event) {
    return InsertDateStamp(ui_->edtName, event);
}

void TFormAddType::FormShow() {
    ui_->edtName->setFocus();
}

void TFormAddType::btnOKClick() {
    if (IsBlank(ui_->edtName->text())) {
        ShowInfo(QStringLiteral("名称不能为空!"));
        return;
    }
    Done(mrOk);
}

int AskGroupName(const QString& position, QString& name) {
    name.clear();
    TFormAddType form;
    form.edtPos()->setText(position);
    const int result = form.ShowModal();
    if (result == mrOk)
        name = form.edtName()->text();
    return result;
}
