#include "RemindersPage.h"

#include "AddAlam.h"
#include "ModAlam.h"
#include "UntAlam.h"
#include "UntReportView.h"
#include "common/UntHandler.h"
#include "common/UntMenu.h"
#include "common/UntPublic.h"
#include "ui_RemindersPage.h"

#include <QButtonGroup>
#include <QMenu>
#include <QTimer>

TRemindersPage::TRemindersPage(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::TRemindersPage>()) {
    ui_->setupUi(this);
    QTreeWidget* lv1 = ui_->lv1;
    SetupReportView(lv1,
                    {{1, Qt::AlignLeft},
                     {80, Qt::AlignLeft},
                     // wide enough for a yearly reminder's date, time and days ahead
                     {300, Qt::AlignHCenter},
                     {280, Qt::AlignHCenter},
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
    connect(lv1, &QTreeWidget::itemDoubleClicked, this, Handler(this, [this] { NModAlamClick(); }));

    rgAlam_ = new QButtonGroup(this);
    const QList<QRadioButton*> items = {ui_->rgAlam0, ui_->rgAlam1, ui_->rgAlam2, ui_->rgAlam3,
                                        ui_->rgAlam4, ui_->rgAlam5, ui_->rgAlam6, ui_->rgAlam7};
    for (int i = 0; i < items.size(); ++i)
        rgAlam_->addButton(items.at(i), i);
    ui_->rgAlam0->setChecked(true);
    for (int column = 0; column < 8; ++column) // one row of eight equal slots
        ui_->layRgAlam->setColumnStretch(column, 1);
    connect(rgAlam_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            RunHandler(this, [this] { rgAlamClick(); });
    });
}

TRemindersPage::~TRemindersPage() = default;

void TRemindersPage::ShowReminders() {
    AlamData->LoadList(ui_->lv1, 0);
}

int TRemindersPage::FilterIndex() const {
    const int index = rgAlam_ ? rgAlam_->checkedId() : 0;
    return index < 0 ? 0 : index;
}

void TRemindersPage::lv1CustomDrawItem(const QModelIndex& index,
                                       QStyleOptionViewItem* option) const {
    const QString kind = index.siblingAtColumn(1).data().toString();
    if (kind == AlamOnceText)
        option->palette.setColor(QPalette::Text, QColor(255, 0, 0));
    else if (kind == AlamWeeklyText)
        option->palette.setColor(QPalette::Text, QColor(0, 128, 0));
    else if (kind == AlamMonthlyText)
        option->palette.setColor(QPalette::Text, QColor(0, 0, 255));
    else if (kind == AlamYearlyText)
        option->palette.setColor(QPalette::Text, AlamYearlyColor);
    else if (kind == AlamLunarYearlyText)
        option->palette.setColor(QPalette::Text, AlamLunarYearlyColor);
    else if (kind == AlamWorkdaysText)
        option->palette.setColor(QPalette::Text, AlamWorkdaysColor);
}

void TRemindersPage::rgAlamClick() {
    AlamData->LoadList(ui_->lv1, FilterIndex());
}

void TRemindersPage::ReloadSoon() {
    AlamData->PrefetchList(FilterIndex());
    if (!reload_) {
        reload_ = new QTimer(this);
        reload_->setInterval(4);
        connect(reload_, &QTimer::timeout, this, Handler(this, [this] {
                    // Filled as soon as the rows are in; not at all when another reload of
                    // the list took them meanwhile.
                    if (AlamData->Prefetching() && !AlamData->Prefetched())
                        return;
                    reload_->stop();
                    if (AlamData->Prefetching())
                        AlamData->RefreshList(ui_->lv1, FilterIndex());
                }));
    }
    reload_->start();
}

void TRemindersPage::NAddAlamClick() {
    const int filter = FilterIndex();
    if (ShowAddAlam() == mrOk)
        AlamData->LoadList(ui_->lv1, filter);
}

void TRemindersPage::NModAlamClick() {
    const QList<QTreeWidgetItem*> selected = ui_->lv1->selectedItems();
    if (selected.isEmpty())
        return;
    const int filter = FilterIndex();
    const QString id = selected.first()->text(0);
    if (ShowModAlam(id) != mrOk)
        return;
    Q_EMIT ReminderMoved(id); // its new time may be one the clock shows again
    AlamData->LoadList(ui_->lv1, filter);
}

void TRemindersPage::NDelAlamClick() {
    const QList<QTreeWidgetItem*> selected = ui_->lv1->selectedItems();
    if (selected.isEmpty())
        return;
    // The question runs a loop of its own, in which an alert may change the list.
    const QString key = selected.first()->text(0);
    if (!AskYesNo(QStringLiteral("确实要删除 ") + selected.first()->text(2) +
                  QStringLiteral(" 的提醒吗？\n（可从回收站恢复）")))
        Abort();
    QTreeWidgetItem* row = RowOfKey(ui_->lv1, key);
    if (!row)
        return;
    AlamData->Delete(key);
    delete row;
}

void TRemindersPage::WMAlamDelete(int id) {
    const QString key = QString::number(id);
    AlamData->Delete(key);
    while (QTreeWidgetItem* row = RowOfKey(ui_->lv1, key))
        delete row;
}

void TRemindersPage::WMAlamSeen(int id) {
    const QString key = QString::number(id);
    AlamData->MarkSeen(key);
    QTreeWidget* list = ui_->lv1;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        if (list->topLevelItem(row)->text(0) == key)
            list->topLevelItem(row)->setText(4, AlamSeenText);
}

void TRemindersPage::WMAlamSnooze(int id, int delay) {
    AlamData->Reschedule(QString::number(id), delay);
    Q_EMIT ReminderMoved(QString::number(id));
    AlamData->LoadList(ui_->lv1, FilterIndex());
}

void TRemindersPage::ShowReminderRow(int id) {
    if (ui_->rgAlam0->isChecked())
        rgAlamClick(); // the list may be older than the reminder
    else
        ui_->rgAlam0->setChecked(true);
    if (QTreeWidgetItem* row = RowOfKey(ui_->lv1, QString::number(id))) {
        ui_->lv1->setCurrentItem(row);
        ui_->lv1->scrollToItem(row);
    }
}
