#include "RecycleBin.h"

#include "ShowAlam.h"

#include "common/UntHandler.h"
#include "common/UntPublic.h"
#include "notepad/NotepadPage.h"
#include "notepad/UntNoteBin.h"
#include "reminders/RemindersPage.h"
#include "reminders/UntAlamBin.h"
#include "storage/UntDbAccess.h"
#include "storage/UntRecycleBin.h"
#include "storage/UntSqlText.h"
#include "ui_RecycleBin.h"

#include <QHeaderView>
#include <QPointer>

namespace {

constexpr int IdRole = Qt::UserRole;
constexpr int KindRole = Qt::UserRole + 1;

// A long note's first line is enough to know it by.
QString Shortened(const QString& text) {
    QString line = text.section(u'\n', 0, 0).trimmed();
    if (line.size() > 60 || line.size() < text.trimmed().size())
        line = line.left(60) + QStringLiteral("…");
    return line;
}

} // namespace

TFormRecycleBin::TFormRecycleBin(TRemindersPage* reminders, TNotepadPage* notepad, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TFormRecycleBin>()), reminders_(reminders),
      notepad_(notepad) {
    ui_->setupUi(this);
    ui_->lvBin->header()->setSectionResizeMode(QHeaderView::Interactive);
    connect(ui_->btnRestore, &QPushButton::clicked, this,
            Handler(this, [this] { btnRestoreClick(); }));
    connect(ui_->btnPurge, &QPushButton::clicked, this, Handler(this, [this] { btnPurgeClick(); }));
    connect(ui_->btnEmpty, &QPushButton::clicked, this, Handler(this, [this] { btnEmptyClick(); }));
    connect(ui_->btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->lvBin, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool any = !SelectedEntries().isEmpty();
        ui_->btnRestore->setEnabled(any);
        ui_->btnPurge->setEnabled(any);
    });
    LoadBin();
}

TFormRecycleBin::~TFormRecycleBin() = default;

void TFormRecycleBin::LoadBin() {
    QTreeWidget* list = ui_->lvBin;
    list->clear();
    QList<QTreeWidgetItem*> rows;
    for (const RecycleBin::TEntry& e : RecycleBin::List(DbAccess->Connection)) {
        auto* row = new QTreeWidgetItem(
            {e.Kind == RecycleBin::bkGroup ? QStringLiteral("笔记分组") : QStringLiteral("提醒"),
             Shortened(e.Caption), e.Place,
             e.Deleted.toString(QStringLiteral("yyyy-MM-dd hh:mm"))});
        row->setData(0, IdRole, e.ID);
        row->setData(0, KindRole, e.Kind);
        row->setToolTip(1, e.Caption);
        rows << row;
    }
    list->addTopLevelItems(rows);
    for (int c = 0; c < list->columnCount(); ++c)
        list->resizeColumnToContents(c);
    list->setColumnWidth(1, qMin(list->columnWidth(1), 320));
    if (!rows.isEmpty()) {
        list->setCurrentItem(rows.first());
        rows.first()->setSelected(true); // whatever keys are held as it opens
    }
    ui_->btnRestore->setEnabled(!rows.isEmpty());
    ui_->btnPurge->setEnabled(!rows.isEmpty());
    ui_->btnEmpty->setEnabled(!rows.isEmpty());
}

QList<qint64> TFormRecycleBin::SelectedEntries() const {
    QList<qint64> ids;
    for (const QTreeWidgetItem* row : ui_->lvBin->selectedItems())
        ids << row->data(0, IdRole).toLongLong();
    return ids;
}

void TFormRecycleBin::btnRestoreClick() {
    const QList<qint64> entries = SelectedEntries();
    if (entries.isEmpty())
        return;
    int group = -1;
    QList<qint64> reminders;
    DbAccess->Write([&](TConnection& connection) {
        for (qint64 entry : entries) {
            int kind = -1;
            RecycleBin::Data(connection, entry, &kind);
            if (kind == RecycleBin::bkGroup) {
                group = RestoreGroup(connection, entry);
            } else if (kind == RecycleBin::bkReminder) {
                reminders << RestoreReminder(connection, entry);
            }
        }
    });
    LoadBin();
    // Shown where they are back; the pages are looked up through the window that owns them.
    if (!reminders.isEmpty() && reminders_)
        reminders_->ShowReminderRow(int(reminders.last()));
    // A one-off reminder whose moment passed unseen (an alert deleted it) is due again at
    // once: its alert opens, to keep, delete or snooze it now.
    for (qint64 id : reminders)
        for (const QStringList& row :
             ReadRows(FormatSql(QStringLiteral("select ReMark from Alam where ID=%s and ReDay=0 "
                                               "and bLook=0 and (AlamDate<Date() or "
                                               "(AlamDate=Date() and iHour*60+iMinute<="
                                               "Hour(Time())*60+Minute(Time())))"),
                                {SqlNum(id)})))
            ShowAlert(QString::number(id), row.value(0), false);
    if (group >= 0 && notepad_) {
        notepad_->ReloadNotepad(true);
        notepad_->ShowGroupMatch(group, {});
    }
}

void TFormRecycleBin::btnPurgeClick() {
    const QList<qint64> entries = SelectedEntries();
    if (entries.isEmpty())
        return;
    if (!AskYesNo(
            QStringLiteral("确定要彻底删除选中的%1项吗？删除后不能恢复。").arg(entries.size())))
        return;
    DbAccess->Write([&](TConnection& connection) {
        for (qint64 entry : entries)
            RecycleBin::Remove(connection, entry);
    });
    LoadBin();
}

void TFormRecycleBin::btnEmptyClick() {
    if (ui_->lvBin->topLevelItemCount() == 0)
        return;
    if (!AskYesNo(QStringLiteral("确定要清空回收站吗？其中的提醒和分组都将不能恢复。")))
        return;
    DbAccess->Write([](TConnection& connection) { RecycleBin::Empty(connection); });
    LoadBin();
}

void ShowRecycleBin(QWidget* owner, TRemindersPage* reminders, TNotepadPage* notepad) {
    TFormRecycleBin form(reminders, notepad, owner);
    form.exec();
}
