#pragma once

#include "dialogs/BaseDlg.h"

#include <QTimer>
#include <memory>

namespace Ui {
class TFormAlamContext;
}
class QLabel;
class QMenu;
class QTreeWidgetItem;

// "预设提醒内容": the list of preset reminder texts, to choose one and to keep the list.
class TFormAlamContext : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormAlamContext(QWidget* parent = nullptr);
    ~TFormAlamContext() override;

    Ui::TFormAlamContext* ui() const { return ui_.get(); }
    QMenu* pm1() const { return pm1_; }
    QLabel* statHintPanel() const { return statHintPanel_; }
    QTimer* tmrHint() { return &tmrHint_; }

    QString SelectedText; // the chosen entry, after OK

    void N1Click();
    void N2Click();
    void N3Click();
    void tmrHintTimer();

protected:
    void FormShow() override;
    void btnOKClick() override;

private:
    QTreeWidgetItem* Selected() const;

    std::unique_ptr<Ui::TFormAlamContext> ui_;
    QMenu* pm1_ = nullptr;
    QLabel* statHintPanel_ = nullptr;
    QTimer tmrHint_;
};

// Lets the user choose a preset text; on mrOk text holds it.
int PickAlamContext(QString& text);

inline const QString AlamContextHint = QStringLiteral("点右键可以新建、修改和删除预设提醒内容");
