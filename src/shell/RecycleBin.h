#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

namespace Ui {
class TFormRecycleBin;
}
class TNotepadPage;
class TRemindersPage;

// "回收站": deleted reminders and groups, newest first. 恢复 puts the selected ones back
// where they were; 彻底删除 and 清空回收站 ask first.
class TFormRecycleBin : public QDialog {
    Q_OBJECT
public:
    TFormRecycleBin(TRemindersPage* reminders, TNotepadPage* notepad, QWidget* parent = nullptr);
    ~TFormRecycleBin() override;

    void btnRestoreClick();
    void btnPurgeClick();
    void btnEmptyClick();

private:
    void LoadBin();
    QList<qint64> SelectedEntries() const;

    std::unique_ptr<Ui::TFormRecycleBin> ui_;
    QPointer<TRemindersPage> reminders_;
    QPointer<TNotepadPage> notepad_;
};

// Opens the recycle bin over owner, modal.
void ShowRecycleBin(QWidget* owner, TRemindersPage* reminders, TNotepadPage* notepad);
