#pragma once

#include "dialogs/BaseDlg.h"

#include <functional>
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
    // When set, decides instead whether the typed text is accepted.
    std::function<bool(const QString&)> Accept;
    QString Typed() const;

protected:
    void FormShow() override;
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormPass> ui_;
};

// Asks for the password stored as stored, under prompt when given; mrOk when it was typed
// and confirmed (then in *typed, when given), mrCancel when the user gave up.
int AskPassword(const QString& stored, const QString& prompt, QString* typed = nullptr);

// A data file encrypted with the login password: asks for it until the file opens with it.
// False when the user gave up.
bool UnlockDataFile();

// Asks for the login password the backup at path was made with, until it opens with it;
// empty when the user gave up.
QString AskBackupPassword(const QString& path);

// For the end-to-end tests' build: QUILLET_TEST_PASSWORDS, answers separated by "|", is
// typed into the password windows as they open.
void InstallScriptedPasswordsFromEnvironment();

// The login gate of a start: loads the settings and, when the login password is on, asks
// for it. True when the program may go on; throws when the settings cannot be read.
bool LoginConfirmed();
