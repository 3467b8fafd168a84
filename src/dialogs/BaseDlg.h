#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TFormBaseDlg;
}
class QPushButton;

// Modal results of every dialog.
enum ModalResult { mrOk = 1, mrCancel = 2 };

// The base of every dialog: top bevel, the dialog's own client area, and the bottom panel
// with "确定(&O)" (default button) and "取消(&C)" (Esc, closes with mrCancel). OK closes
// nothing by itself: btnOKClick checks the input and then calls Done(mrOk).
class TFormBaseDlg : public QDialog {
    Q_OBJECT
public:
    explicit TFormBaseDlg(QWidget* parent = nullptr);
    ~TFormBaseDlg() override;

    // Shows the dialog modally; mrOk or mrCancel.
    int ShowModal();

    QWidget* Client() const;
    QPushButton* btnOK() const;
    QPushButton* btnCancel() const;

protected:
    // A form set up into Client() gives the dialog its caption and client size
    // (the client form's size plus the bottom panel).
    void AdoptClientForm();
    virtual void btnOKClick() {}
    // Runs once, when the dialog is first shown.
    virtual void FormShow() {}
    void showEvent(QShowEvent* event) override;
    void Done(int result) { done(result == mrOk ? QDialog::Accepted : QDialog::Rejected); }

private:
    std::unique_ptr<Ui::TFormBaseDlg> base_;
    bool shown_ = false;
};

// The window dialogs open over: the main window once it exists.
QWidget* DialogOwner();
void SetDialogOwner(QWidget* owner);
