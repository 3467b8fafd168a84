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
class TTypingHint;

// "预设提醒内容": the list of preset reminder texts, to choose one and to keep the list.
class TFormAlamContext : public TFormBaseDlg {
    Q_OBJECT
public:
    explicit TFormAlamContext(QWidget* parent = nullptr);
    ~TFormAlamContext() override;

    Ui::TFormAlamContext* ui() const { return ui_.get(); }
    QMenu* pm1() const { return pm1_; }
    QLabel* statHintPanel() const;
    QTimer* tmrHint();

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
    std::unique_ptr<TTypingHint> hint_;
};

// Lets the user choose a preset text; on mrOk text holds it.
int PickAlamContext(QString& text);

inline const QString AlamContextHint = QStringLiteral("点右键可以新建、修改和删除预设提醒内容");
