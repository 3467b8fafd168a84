#pragma once

#include "dialogs/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormModAlamContext;
}

// "修改提醒内容": OK rewrites the preset text ContextID.
class TFormModAlamContext : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormModAlamContext(QWidget* parent = nullptr);
    ~TFormModAlamContext() override;

    Ui::TFormModAlamContext* ui() const { return ui_.get(); }

    QString ContextID;

protected:
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormModAlamContext> ui_;
};

int ShowModAlamContext(const QString& id, const QString& text);
