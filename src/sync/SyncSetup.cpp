#include "SyncSetup.h"

#include "UntSyncEngine.h"
#include "UntSyncPassword.h"
#include "common/UntPublic.h"
#include "storage/UntSqlText.h"
#include "ui_SyncSetup.h"

#include <QHostAddress>
#include <QUrl>

TFormSyncSetup::TFormSyncSetup(TDbAccess& db, TSyncEngine& engine, QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormSyncSetup>()), db_(db), engine_(engine) {
    ui_->setupUi(Client());
    AdoptClientForm();
    settings_.Load(db_);
    ui_->chkEnabled->setChecked(settings_.Enabled);
    ui_->edtServer->setText(settings_.ServerUrl);
    ui_->edtUser->setText(settings_.UserName);
    ui_->edtInterval->setValue(settings_.Interval);
    // The stored password is never shown; an empty field keeps it.
    if (settings_.InKeyring || !settings_.PassWord.isEmpty())
        ui_->edtPass->setPlaceholderText(QStringLiteral("（已保存）"));
    connect(ui_->btnTest, &QPushButton::clicked, this, [this] { btnTestClick(); });
    connect(&engine_, &TSyncEngine::TestFinished, this, [this](bool, const QString& report) {
        ui_->lblTest->setText(report);
        ui_->btnTest->setEnabled(true);
    });
}

TFormSyncSetup::~TFormSyncSetup() = default;

void TFormSyncSetup::FormShow() {
    // Typing starts where the form does, not on 确定.
    ui_->edtServer->setFocus();
}

bool TFormSyncSetup::ReadInput(TSyncSettings& settings, QString& password) {
    settings = settings_;
    QString address = ui_->edtServer->text().trimmed();
    // Said in the result line, in place of an earlier result that no longer stands.
    ui_->lblTest->clear();
    if (address.isEmpty()) {
        ui_->edtServer->setFocus();
        ui_->lblTest->setText(QStringLiteral("请填写服务器地址！"));
        return false;
    }
    if (!address.contains(QLatin1String("://")))
        address = QStringLiteral("https://") + address;
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        ui_->edtServer->setFocus();
        ui_->lblTest->setText(QStringLiteral("服务器地址无效！"));
        return false;
    }
    QHostAddress host;
    const bool loopback = url.host() == QLatin1String("localhost") ||
                          (host.setAddress(url.host()) && host.isLoopback());
    settings.PlainHttp = false;
    if (url.scheme() == QLatin1String("http") && !loopback) {
        if (!AskYesNo(QStringLiteral("这个地址没有加密（http），密码和全部提醒、笔记会以明文"
                                     "在网络上传送。仍然使用吗？")))
            return false;
        settings.PlainHttp = true;
    }
    settings.ServerUrl = address;
    settings.UserName = ui_->edtUser->text();
    settings.Interval = ui_->edtInterval->value();
    settings.Enabled = ui_->chkEnabled->isChecked();
    password = ui_->edtPass->text();
    if (password.isEmpty() && !settings_.InKeyring)
        password = settings_.PassWord;
    return true;
}

void TFormSyncSetup::btnTestClick() {
    TSyncSettings settings;
    QString password;
    if (!ReadInput(settings, password))
        return;
    ui_->lblTest->setText(QStringLiteral("正在连接…"));
    ui_->btnTest->setEnabled(false);
    engine_.TestConnection(settings, password);
}

void TFormSyncSetup::btnOKClick() {
    TSyncSettings settings;
    QString password;
    if (!ReadInput(settings, password))
        return;
    if (ui_->edtPass->text().isEmpty() && settings_.InKeyring) {
        settings.Save(db_); // the keyring keeps the password it has
        Done(mrOk);
        engine_.SettingsStored(QString());
        return;
    }
    // The keyring answers later, perhaps after this dialog and even the engine are gone; with
    // the engine as the context the answer is dropped then instead of reaching a dead engine.
    TSyncEngine* engine = &engine_;
    TDbAccess* db = &db_;
    StoreSyncPassword(
        db_, settings, password, engine, [db] { return AskYesNo(PasswordInFileNotice(*db)); },
        [engine, password](bool) { engine->SettingsStored(password); });
    Done(mrOk);
}
