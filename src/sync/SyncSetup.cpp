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
    storedKey_ = settings_.ServerUrl + QLatin1Char('\n') + settings_.UserName + QLatin1Char('\n');
    connect(ui_->btnTest, &QPushButton::clicked, this, [this] { btnTestClick(); });
    connect(&engine_, &TSyncEngine::TestFinished, this,
            [this](bool ok, const QString& report) { TestFinished(ok, report); });
}

TFormSyncSetup::~TFormSyncSetup() = default;

void TFormSyncSetup::FormShow() {
    // Typing starts where the form does, not on 确定.
    ui_->edtServer->setFocus();
}

namespace {

// The address as ReadInput stores it.
QString StoredAddress(const QString& typed) {
    const QString address = typed.trimmed();
    return address.contains(QLatin1String("://")) || address.isEmpty()
               ? address
               : QStringLiteral("https://") + address;
}

} // namespace

QString TFormSyncSetup::AccountKey() const {
    return StoredAddress(ui_->edtServer->text()) + QLatin1Char('\n') + ui_->edtUser->text() +
           QLatin1Char('\n') + ui_->edtPass->text();
}

bool TFormSyncSetup::ReadInput(TSyncSettings& settings, QString& password) {
    settings = settings_;
    const QString address = StoredAddress(ui_->edtServer->text());
    // Said in the result line, in place of an earlier result that no longer stands.
    ui_->lblTest->clear();
    if (address.isEmpty()) {
        ui_->edtServer->setFocus();
        ui_->lblTest->setText(QStringLiteral("请填写服务器地址！"));
        return false;
    }
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
        if (address != plainHttpAllowed_ &&
            !AskYesNo(QStringLiteral("这个地址没有加密（http），密码和全部提醒、笔记会以明文"
                                     "在网络上传送。仍然使用吗？")))
            return false;
        plainHttpAllowed_ = address;
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
    if (!testing_ && ReadInput(settings, password))
        StartTest(settings, password, false);
}

void TFormSyncSetup::StartTest(const TSyncSettings& settings, const QString& password, bool store) {
    // The engine may answer at once, before TestConnection returns.
    testing_ = true;
    testingKey_ = AccountKey();
    storeAfterTest_ = store;
    testSettings_ = settings;
    testPassword_ = password;
    ui_->lblTest->setText(QStringLiteral("正在连接…"));
    ui_->btnTest->setEnabled(false);
    btnOK()->setEnabled(false);
    engine_.TestConnection(settings, password);
}

void TFormSyncSetup::TestFinished(bool ok, const QString& report) {
    if (!testing_)
        return;
    testing_ = false;
    testedKey_ = testingKey_;
    ui_->btnTest->setEnabled(true);
    btnOK()->setEnabled(true);
    if (!storeAfterTest_) {
        ui_->lblTest->setText(report);
        return;
    }
    storeAfterTest_ = false;
    // What was typed meanwhile has not been tried.
    if (ok && testingKey_ == AccountKey())
        return Store(testSettings_, testPassword_);
    ui_->lblTest->setText(ok ? report
                             : report + QStringLiteral("\n设置没有保存。再按“确定”仍然保存。"));
}

void TFormSyncSetup::btnOKClick() {
    TSyncSettings settings;
    QString password;
    if (testing_ || !ReadInput(settings, password))
        return;
    // An account never tried may be a slip ("abc" would be stored as https://abc): it is
    // tried first and kept once the server answers. After a failed try OK keeps it all the
    // same (the server may just be out of reach now), the user having been told.
    const QString key = AccountKey();
    if (key != storedKey_ && key != testedKey_)
        return StartTest(settings, password, true);
    Store(settings, password);
}

void TFormSyncSetup::Store(const TSyncSettings& settings, const QString& password) {
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
