#include "Config.h"

#include "Pass.h"
#include "UntConfig.h"
#include "UntPassHash.h"
#include "common/UntHandler.h"
#include "common/UntPublic.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"
#include "ui_Config.h"

namespace {

// Stands for the stored password in a field: the stored text is a hash, which must never
// be shown, and the password itself is not known. Private-use characters cannot be typed,
// and the fixed length tells nothing about the password's.
const QChar MarkChar(0xE000);
const QString StoredMark(8, MarkChar);

bool IsMark(const QLineEdit* edit) {
    return edit->text() == StoredMark;
}

} // namespace

TFormConfig::TFormConfig(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormConfig>()) {
    ui_->setupUi(Client());
    AdoptClientForm();
    connect(ui_->chkPass, &QCheckBox::toggled, this, Handler(this, [this] { chkPassClick(); }));
    for (QLineEdit* edit : {ui_->edtPass, ui_->edtRePass})
        // Typing into the stand-in starts a new password rather than extending it.
        connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
            if (text.contains(MarkChar))
                edit->setText(QString(text).remove(MarkChar));
        });
}

TFormConfig::~TFormConfig() = default;

void TFormConfig::ShowStoredPassword() {
    const QString shown = ConfigData->PassWord.isEmpty() ? QString() : StoredMark;
    ui_->edtPass->setText(shown);
    ui_->edtRePass->setText(shown);
}

bool TFormConfig::HoldsStoredPassword(const QLineEdit* edit) const {
    return IsMark(edit) || VerifyPassword(edit->text(), ConfigData->PassWord);
}

bool TFormConfig::SamePassword(const QLineEdit* a, const QLineEdit* b) const {
    if (IsMark(a) && IsMark(b))
        return true;
    if (IsMark(a))
        return VerifyPassword(b->text(), ConfigData->PassWord);
    if (IsMark(b))
        return VerifyPassword(a->text(), ConfigData->PassWord);
    return a->text() == b->text();
}

void TFormConfig::FormShow() {
    if (ConfigData->bPass)
        ui_->chkPass->setChecked(true);
    ui_->chkEncrypt->setChecked(DbAccess->KeyIsPassword());
    ui_->chkEncrypt->setEnabled(ui_->chkPass->isChecked());
    ui_->chkNotify->setChecked(ConfigData->bNotify);
    ShowStoredPassword();
    // The check box is what the dialog is about: the keyboard starts there.
    ui_->chkPass->setFocus();
}

void TFormConfig::chkPassClick() {
    const bool on = ui_->chkPass->isChecked();
    ui_->edtPass->setEnabled(on);
    ui_->edtRePass->setEnabled(on);
    ui_->chkEncrypt->setEnabled(on);
    if (!on)
        ui_->chkEncrypt->setChecked(false); // no password, nothing to encrypt with
    if (on) {
        ShowStoredPassword();
    } else {
        ui_->edtPass->clear();
        ui_->edtRePass->clear();
    }
}

void TFormConfig::btnOKClick() {
    const bool on = ui_->chkPass->isChecked();
    const QString stored = ConfigData->PassWord;
    if (on) {
        if (IsBlank(ui_->edtPass->text())) {
            ui_->edtPass->setFocus();
            throw EAppError(QStringLiteral("密码不能为空!"));
        }
        if (!SamePassword(ui_->edtPass, ui_->edtRePass)) {
            ui_->edtPass->setFocus();
            throw EAppError(QStringLiteral("两次输入的密码不一样,请重新输入!"));
        }
        if (!stored.isEmpty() && !HoldsStoredPassword(ui_->edtPass) &&
            AskPassword(stored, QStringLiteral("请先输入旧密码")) != mrOk)
            Abort();
    } else if (!stored.isEmpty() &&
               AskPassword(stored, QStringLiteral("请先输入密码才可以取消登录密码")) != mrOk) {
        Abort();
    }
    // The data file's key follows: the password typed out, or the program's own.
    const bool encrypted = DbAccess->KeyIsPassword();
    const bool encrypt = on && ui_->chkEncrypt->isChecked();
    QString plain = encrypt && !IsMark(ui_->edtPass) ? ui_->edtPass->text() : QString();
    if (encrypt && !encrypted) {
        if (!AskYesNo(QStringLiteral("加密以后，忘记登录密码就再也打不开数据文件，也无法找回。"
                                     "确定要用登录密码加密数据文件吗？")))
            Abort();
        if (plain.isEmpty() &&
            AskPassword(stored, QStringLiteral("输入登录密码以加密数据"), &plain) != mrOk)
            Abort();
    }
    const bool rekey = encrypt ? !plain.isEmpty() && plain != DbAccess->Key() : encrypted;

    const bool oldPass = ConfigData->bPass;
    const bool oldNotify = ConfigData->bNotify;
    ConfigData->bPass = on;
    ConfigData->bNotify = ui_->chkNotify->isChecked();
    ConfigData->PassWord = IsMark(ui_->edtPass) ? stored : HashPassword(ui_->edtPass->text());
    try {
        ConfigData->Save();
        if (rekey)
            DbAccess->Rekey(encrypt ? plain : DatabaseKey);
    } catch (...) {
        // What the program uses stays what the table holds.
        const bool changed = ConfigData->bPass != oldPass || ConfigData->PassWord != stored ||
                             ConfigData->bNotify != oldNotify;
        ConfigData->bPass = oldPass;
        ConfigData->PassWord = stored;
        ConfigData->bNotify = oldNotify;
        if (changed) {
            try {
                ConfigData->Save();
            } catch (...) {
            }
        }
        throw;
    }
    Done(mrOk);
}

void ShowConfigDialog() {
    TFormConfig dialog;
    dialog.ShowModal();
}
