#include "Pass.h"

#include "UntConfig.h"
#include "UntPassHash.h"
#include "storage/UException.h"
#include "ui_Pass.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

TFormPass::TFormPass() : ui_(std::make_unique<Ui::TFormPass>()) {
    // The base opens over the main window; this one stands alone (it also guards the start,
    // before the main window is on screen).
    setParent(nullptr, windowFlags());
    ui_->setupUi(Client());
    AdoptClientForm();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

TFormPass::~TFormPass() = default;

void TFormPass::FormShow() {
    ui_->edtPass->setFocus();
}

void TFormPass::btnOKClick() {
    if (!VerifyPassword(ui_->edtPass->text(), ExpectedPass))
        throw EAppError(QStringLiteral("密码输入错误!"));
    Done(mrOk);
}

int AskPassword(const QString& stored, const QString& prompt) {
    TFormPass dialog;
    dialog.ExpectedPass = stored;
    if (!prompt.isEmpty())
        dialog.setWindowTitle(prompt);
    return dialog.ShowModal();
}

bool LoginConfirmed() {
    ConfigData->Load();
    return !ConfigData->bPass ||
           AskPassword(ConfigData->PassWord, QStringLiteral("先输入密码登录软件")) == mrOk;
}
