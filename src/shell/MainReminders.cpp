// The main window's reminders tab and the handling of due reminders.
#include "Main.h"

#include "dialogs/BaseDlg.h"
#include "reminders/AddAlam.h"
#include "reminders/ModAlam.h"
#include "reminders/UntAlam.h"
#include "reminders/UntReportView.h"
#include "shell/UntDueCheck.h"
#include "shell/UntPublic.h"
#include "storage/UException.h"
#include "ui_Main.h"

#include <QButtonGroup>
#include <QMenu>

void TFormMain::SetupRemindersTab() {
    QTreeWidget* lv1 = ui_->lv1;
    SetupReportView(lv1,
                    {{1, Qt::AlignLeft},
                     {80, Qt::AlignLeft},
                     {180, Qt::AlignHCenter},
                     {400, Qt::AlignHCenter},
                     {80, Qt::AlignHCenter}},
                    [this](const QModelIndex& index, QStyleOptionViewItem* option) {
                        lv1CustomDrawItem(index, option);
                    });
    QFont font = lv1->font();
    font.setPixelSize(16);
    lv1->setFont(font);
    lv1->setToolTip(QStringLiteral("点右键可以新建、修改和删除提醒"));

    pmAlam_ = MakeMenu(this, "pmAlam",
                       {{"NAddAlam", QStringLiteral("新建提醒"), [this] { NAddAlamClick(); }},
                        {"NModAlam", QStringLiteral("修改"), [this] { NModAlamClick(); }},
                        {"NDelAlam", QStringLiteral("删除"), [this] { NDelAlamClick(); }}});
    PopUpOnRightClick(lv1, pmAlam_);
    connect(lv1, &QTreeWidget::itemDoubleClicked, this, [this] { NModAlamClick(); });

    rgAlam_ = new QButtonGroup(this);
    const QList<QRadioButton*> items = {ui_->rgAlam0, ui_->rgAlam1, ui_->rgAlam2, ui_->rgAlam3,
                                        ui_->rgAlam4, ui_->rgAlam5, ui_->rgAlam6};
    for (int i = 0; i < items.size(); ++i)
        rgAlam_->addButton(items.at(i), i);
    ui_->rgAlam0->setChecked(true);
    for (int column = 0; column < 8; ++column) // one row of eight equal slots
        ui_->layRgAlam->setColumnStretch(column, 1);
    connect(rgAlam_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            rgAlamClick();
    });
}

void TFormMain::ShowReminders() {
    AlamData->LoadList(ui_->lv1, 0);
}

int TFormMain::FilterIndex() const {
    const int index = rgAlam_ ? rgAlam_->checkedId() : 0;
    return index < 0 ? 0 : index;
}

void TFormMain::lv1CustomDrawItem(const QModelIndex& index, QStyleOptionViewItem* option) const {
    const QString kind = index.siblingAtColumn(1).data().toString();
    if (kind == AlamOnceText)
        option->palette.setColor(QPalette::Text, QColor(255, 0, 0));
    else if (kind == AlamWeeklyText)
        option->palette.setColor(QPalette::Text, QColor(0, 128, 0));
    else if (kind == AlamMonthlyText)
        option->palette.setColor(QPalette::Text, QColor(0, 0, 255));
}

void TFormMain::rgAlamClick() {
    AlamData->LoadList(ui_->lv1, FilterIndex());
}

void TFormMain::NAddAlamClick() {
    const int filter = FilterIndex();
    if (ShowAddAlam() == mrOk)
        AlamData->LoadList(ui_->lv1, filter);
}

void TFormMain::NModAlamClick() {
    const QList<QTreeWidgetItem*> selected = ui_->lv1->selectedItems();
    if (selected.isEmpty())
        return;
    const int filter = FilterIndex();
    const QString id = selected.first()->text(0);
    if (ShowModAlam(id) != mrOk)
        return;
    dueMinutes_->Forget(id); // its new time may be one the clock shows again
    AlamData->LoadList(ui_->lv1, filter);
}

void TFormMain::NDelAlamClick() {
    const QList<QTreeWidgetItem*> selected = ui_->lv1->selectedItems();
    if (selected.isEmpty())
        return;
    // Alerts go on answering inside the question and may delete the row or reload the list:
    // only the key outlives it.
    const QString id = selected.first()->text(0);
    if (!AskYesNo(QStringLiteral("确实要删除 ") + selected.first()->text(2) +
                  QStringLiteral(" 的提醒吗？")))
        Abort();
    QTreeWidgetItem* item = RowOfKey(ui_->lv1, id);
    if (!item)
        return;
    AlamData->Delete(id);
    delete item;
}
