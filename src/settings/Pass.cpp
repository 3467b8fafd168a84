#include "Pass.h"

#include "UntConfig.h"
#include "UntPassHash.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "ui_Pass.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

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

namespace {

// The end-to-end tests' typist: each shown password window gets the next answer typed and
// OK clicked, as often as it stays open; none left is a click on Cancel.
std::shared_ptr<QStringList> scriptedPasswords;

void TypeScripted(TFormPass* dialog) {
    QTimer::singleShot(0, dialog, [dialog] {
        if (!dialog->isVisible())
            return;
        if (scriptedPasswords->isEmpty())
            return dialog->btnCancel()->click();
        dialog->ui()->edtPass->setText(scriptedPasswords->takeFirst());
        dialog->btnOK()->click();
        TypeScripted(dialog);
    });
}

} // namespace

void InstallScriptedPasswordsFromEnvironment() {
    scriptedPasswords =
        qEnvironmentVariableIsSet("QUILLET_TEST_PASSWORDS")
            ? std::make_shared<QStringList>(
                  qEnvironmentVariable("QUILLET_TEST_PASSWORDS").split(QLatin1Char('|')))
            : nullptr;
}

void TFormPass::FormShow() {
    ui_->edtPass->setFocus();
    if (scriptedPasswords)
        TypeScripted(this);
}

QString TFormPass::Typed() const {
    return ui_->edtPass->text();
}

void TFormPass::btnOKClick() {
    if (Accept ? !Accept(Typed()) : !VerifyPassword(Typed(), ExpectedPass))
        throw EAppError(QStringLiteral("密码输入错误!"));
    Done(mrOk);
}

int AskPassword(const QString& stored, const QString& prompt, QString* typed) {
    TFormPass dialog;
    dialog.ExpectedPass = stored;
    if (!prompt.isEmpty())
        dialog.setWindowTitle(prompt);
    const int result = dialog.ShowModal();
    if (typed && result == mrOk)
        *typed = dialog.Typed();
    return result;
}

bool UnlockDataFile() {
    TFormPass dialog;
    dialog.setWindowTitle(QStringLiteral("先输入登录密码"));
    dialog.Accept = [](const QString& typed) { return DbAccess->UnlockWith(typed); };
    return dialog.ShowModal() == mrOk;
}

QString AskBackupPassword(const QString& path) {
    TFormPass dialog;
    dialog.setWindowTitle(QStringLiteral("输入备份时的登录密码"));
    dialog.Accept = [path](const QString& typed) {
        return !typed.isEmpty() && !TDbAccess::RefusesKey(path, typed);
    };
    return dialog.ShowModal() == mrOk ? dialog.Typed() : QString();
}

bool LoginConfirmed() {
    ConfigData->Load();
    // The data file opened with the password just typed: that was the login.
    if (DbAccess->KeyIsPassword())
        return true;
    return !ConfigData->bPass ||
           AskPassword(ConfigData->PassWord, QStringLiteral("先输入密码登录软件")) == mrOk;
}
