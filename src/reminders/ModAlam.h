#pragma once

#include "BaseAlam.h"

// "修改提醒": shows the reminder AlamID; OK rewrites it.
class TFormModAlam : public TFormBaseAlam {
    Q_OBJECT
public:
    explicit TFormModAlam(QWidget* parent = nullptr);

    QString AlamID;

protected:
    void btnOKClick() override;
    void FormShow() override;
};

// Shows the modify dialog for the reminder with that key; mrOk when it was rewritten.
int ShowModAlam(const QString& id);
