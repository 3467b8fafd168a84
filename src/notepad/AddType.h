#pragma once

#include "dialogs/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormAddType;
}
class QKeyEvent;
class QLineEdit;

// The group name dialog "新建组": where the new group goes, and its name.
class TFormAddType : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormAddType(QWidget* parent = nullptr);
    ~TFormAddType() override;

    QLineEdit* edtPos() const;
    QLineEdit* edtName() const;

    // The date-stamp keys of the name field; true when the key was used.
    bool edtNameKeyDown(QKeyEvent* event);

protected:
    void btnOKClick() override;
    void FormShow() override;

private:
    std::unique_ptr<Ui::TFormAddType> ui_;
};

// Shows the dialog with the position text; name receives the name exactly as typed when the
// result is 1 (OK). Returns the modal result (1 OK, 2 Cancel).
int AskGroupName(const QString& position, QString& name);
