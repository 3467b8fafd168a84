#include "BaseDlg.h"

#include "common/UntHandler.h"
#include "ui_BaseDlg.h"

#include <QPointer>

namespace {
QPointer<QWidget> owner;
}

QWidget* DialogOwner() {
    return owner.data();
}

void SetDialogOwner(QWidget* w) {
    owner = w;
}

TFormBaseDlg::TFormBaseDlg(QWidget* parent)
    : QDialog(parent ? parent : DialogOwner()), base_(std::make_unique<Ui::TFormBaseDlg>()) {
    base_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    connect(base_->btnOK, &QPushButton::clicked, this, Handler(this, [this] { btnOKClick(); }));
    connect(base_->btnCancel, &QPushButton::clicked, this,
            Handler(this, [this] { Done(mrCancel); }));
}

TFormBaseDlg::~TFormBaseDlg() = default;

QWidget* TFormBaseDlg::Client() const {
    return base_->pnlClient;
}
QPushButton* TFormBaseDlg::btnOK() const {
    return base_->btnOK;
}
QPushButton* TFormBaseDlg::btnCancel() const {
    return base_->btnCancel;
}

void TFormBaseDlg::AdoptClientForm() {
    QWidget* client = Client();
    setWindowTitle(client->windowTitle());
    const QSize size = client->size();
    client->setMinimumSize(size);
    setFixedSize(size.width(), size.height() + base_->bvl2->sizeHint().height() +
                                   base_->pnlBottom->minimumHeight());
}

int TFormBaseDlg::ShowModal() {
    return exec() == QDialog::Accepted ? mrOk : mrCancel;
}

void TFormBaseDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        RunHandler(this, [this] { FormShow(); });
    }
}
