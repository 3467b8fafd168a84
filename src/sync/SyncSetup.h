#pragma once

#include "UntSyncStore.h"
#include "dialogs/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormSyncSetup;
}
class TSyncEngine;

// The sync settings dialog "同步设置": server, user, password, interval, on/off and a
// connection test. OK stores them (the password in the keyring when there is one).
class TFormSyncSetup : public TFormBaseDlg {
    Q_OBJECT
public:
    TFormSyncSetup(TDbAccess& db, TSyncEngine& engine, QWidget* parent = nullptr);
    ~TFormSyncSetup() override;
    Ui::TFormSyncSetup* ui() const { return ui_.get(); }

    // The settings as filled in; false (with the reason shown) when the address is refused.
    bool ReadInput(TSyncSettings& settings, QString& password);

protected:
    void FormShow() override;
    void btnOKClick() override;

private:
    void btnTestClick();
    // Tests the account read from the form; with store, keeps it once the server answers.
    void StartTest(const TSyncSettings& settings, const QString& password, bool store);
    void TestFinished(bool ok, const QString& report);
    void Store(const TSyncSettings& settings, const QString& password);
    // What a connection test depends on, as the form holds it now: the address as it would
    // be stored, the user and the typed password.
    QString AccountKey() const;

    std::unique_ptr<Ui::TFormSyncSetup> ui_;
    TDbAccess& db_;
    TSyncEngine& engine_;
    TSyncSettings settings_;
    QString storedKey_; // the account as stored: OK keeps it without a test
    QString testedKey_; // the account the last test answered for, well or not
    bool testing_ = false;
    QString testingKey_;
    bool storeAfterTest_ = false;
    TSyncSettings testSettings_;
    QString testPassword_;
    QString plainHttpAllowed_; // the unencrypted address the user already said yes to
};
