#pragma once

#include "dialogs/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormAddAlamContext;
}

// "新建提醒内容": OK stores a new preset text.
class TFormAddAlamContext : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormAddAlamContext(QWidget* parent = nullptr);
    ~TFormAddAlamContext() override;

    Ui::TFormAddAlamContext* ui() const { return ui_.get(); }

protected:
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormAddAlamContext> ui_;
};

int ShowAddAlamContext();
