#pragma once

#include "dialogs/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormPass;
}

// Asks for the login password; centred on the screen, owned by no window.
class TFormPass : public TFormBaseDlg {
    Q_OBJECT
public:
    TFormPass();
    ~TFormPass() override;

    Ui::TFormPass* ui() const { return ui_.get(); }

    // The stored form of the password the typed text must match.
    QString ExpectedPass;

protected:
    void FormShow() override;
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormPass> ui_;
};

// Asks for the password stored as stored, under prompt when given; mrOk when it was typed
// and confirmed, mrCancel when the user gave up.
int AskPassword(const QString& stored, const QString& prompt);

// The login gate of a start: loads the settings and, when the login password is on, asks
// for it. True when the program may go on; throws when the settings cannot be read.
bool LoginConfirmed();
