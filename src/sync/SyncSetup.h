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

    std::unique_ptr<Ui::TFormSyncSetup> ui_;
    TDbAccess& db_;
    TSyncEngine& engine_;
    TSyncSettings settings_;
};
