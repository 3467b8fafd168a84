#pragma once

#include "dialogs/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormConfig;
}
class QLineEdit;

// "软件设置": switches the login password on or off and changes it, and the desktop
// notification that goes with every alert.
class TFormConfig : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormConfig(QWidget* parent = nullptr);
    ~TFormConfig() override;

    Ui::TFormConfig* ui() const { return ui_.get(); }

    void chkPassClick();

protected:
    void FormShow() override;
    void btnOKClick() override;

private:
    // Puts what stands for the stored password into both fields.
    void ShowStoredPassword();
    // Whether the field holds the stored password, as its stand-in or typed out.
    bool HoldsStoredPassword(const QLineEdit* edit) const;
    bool SamePassword(const QLineEdit* a, const QLineEdit* b) const;

    std::unique_ptr<Ui::TFormConfig> ui_;
};

// Opens the settings dialog over the main window.
void ShowConfigDialog();
