#include "AlamContext.h"

#include "AddAlamContext.h"
#include "ModAlamContext.h"
#include "UntAlamContext.h"
#include "UntReportView.h"
#include "common/UntHandler.h"
#include "common/UntMenu.h"
#include "common/UntPublic.h"
#include "common/UntTypingHint.h"
#include "storage/UException.h"
#include "ui_AlamContext.h"

#include <QLabel>
#include <QMenu>

TFormAlamContext::TFormAlamContext(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormAlamContext>()) {
    ui_->setupUi(Client());
    AdoptClientForm();

    SetupReportView(ui_->lv1, {{0, Qt::AlignLeft}, {460, Qt::AlignHCenter}});
    connect(ui_->lv1, &QTreeWidget::itemDoubleClicked, this,
            Handler(this, [this] { btnOKClick(); }));

    pm1_ = MakeMenu(this, "pm1",
                    {{"N1", QStringLiteral("新建"), [this] { N1Click(); }},
                     {"N2", QStringLiteral("修改"), [this] { N2Click(); }},
                     {"N3", QStringLiteral("删除"), [this] { N3Click(); }}});
    PopUpOnRightClick(ui_->lv1, pm1_);

    hint_ = std::make_unique<TTypingHint>(ui_->statHint, AlamContextHint);
    connect(tmrHint(), &QTimer::timeout, this, Handler(this, [this] { tmrHintTimer(); }));
    tmrHint()->start();
}

TFormAlamContext::~TFormAlamContext() = default;

void TFormAlamContext::FormShow() {
    AlamContextData->LoadList(ui_->lv1);
}

QTreeWidgetItem* TFormAlamContext::Selected() const {
    const QList<QTreeWidgetItem*> selected = ui_->lv1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TFormAlamContext::N1Click() {
    if (ShowAddAlamContext() == mrOk)
        AlamContextData->LoadList(ui_->lv1);
}

void TFormAlamContext::N2Click() {
    const QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    if (ShowModAlamContext(item->text(0), item->text(1)) == mrOk)
        AlamContextData->LoadList(ui_->lv1);
}

void TFormAlamContext::N3Click() {
    const QTreeWidgetItem* selected = Selected();
    if (!selected)
        return;
    // The question runs its own loop; only the key outlives it.
    const QString id = selected->text(0);
    if (!AskYesNo(QStringLiteral("你确定要删除你选择的内容吗?")))
        Abort();
    QTreeWidgetItem* item = RowOfKey(ui_->lv1, id);
    if (!item)
        return;
    AlamContextData->Delete(id);
    delete item;
}

void TFormAlamContext::btnOKClick() {
    const QTreeWidgetItem* item = Selected();
    if (!item) {
        ShowInfo(QStringLiteral("请先选择一条预设提醒内容!"));
        return;
    }
    SelectedText = item->text(1);
    Done(mrOk);
}

QLabel* TFormAlamContext::statHintPanel() const {
    return hint_->Panel();
}

QTimer* TFormAlamContext::tmrHint() {
    return hint_->Timer();
}

void TFormAlamContext::tmrHintTimer() {
    hint_->Tick();
}

int PickAlamContext(QString& text) {
    TFormAlamContext dialog;
    const int result = dialog.ShowModal();
    if (result == mrOk)
        text = dialog.SelectedText;
    return result;
}
