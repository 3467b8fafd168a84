#pragma once

#include "BaseAlam.h"

// "新建提醒": OK inserts the reminder.
class TFormAddAlam : public TFormBaseAlam {
    Q_OBJECT
public:
    explicit TFormAddAlam(QWidget* parent = nullptr);

protected:
    void btnOKClick() override;
};

// Shows the new-reminder dialog; mrOk when a reminder was inserted.
int ShowAddAlam();
