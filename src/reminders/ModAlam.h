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

// Asked when OK finds the reminder deleted meanwhile.
inline const QString DeletedMeanwhileText =
    QStringLiteral("这条提醒已经被删除了，修改没有保存。要把它另存为一条新提醒吗？");

// Shows the modify dialog for the reminder with that key; mrOk when it was rewritten.
int ShowModAlam(const QString& id);
