#include "UntExchangeCommands.h"

#include "common/UntBackground.h"
#include "common/UntClock.h"
#include "common/UntMenu.h"
#include "common/UntPublic.h"
#include "notepad/NotepadPage.h"
#include "notepad/UntNoteFolder.h"
#include "notepad/UntTree.h"
#include "reminders/RemindersPage.h"
#include "reminders/UntAlamIcs.h"
#include "storage/UntHolidayStore.h"

#include <QMenu>
#include <QTreeWidget>

namespace {
const QString IcsFilter = QStringLiteral("日历文件 (*.ics)");
} // namespace

void AddExchangeItems(QMenu* menu, QWidget* owner, TRemindersPage* reminders,
                      TNotepadPage* notepad) {
    AddMenuItems(menu, owner,
                 {{"NExchange", QString(), {}},
                  {"NExportIcs", QStringLiteral("导出提醒到日历文件…"),
                   [owner, reminders] { ExportIcsCommand(owner, reminders); }},
                  {"NImportIcs", QStringLiteral("从日历文件导入提醒…"),
                   [owner, reminders] { ImportIcsCommand(owner, reminders); }},
                  {"NExportNotes", QStringLiteral("导出笔记到文件夹…"),
                   [owner] { ExportNotesCommand(owner); }},
                  {"NImportNotes", QStringLiteral("从文件夹导入笔记…"),
                   [owner, notepad] { ImportNotesCommand(owner, notepad); }},
                  {"NImportHolidays", QStringLiteral("导入节假日安排…"),
                   [owner, reminders] { ImportHolidaysCommand(owner, reminders); }}});
}

void ExportIcsCommand(QWidget* owner, const TRemindersPage* reminders) {
    // The filter as it was when the user asked: the box lets the list change meanwhile.
    const int filter = reminders->FilterIndex();
    const bool filtered = filter != 0 && AskYesNo(QStringLiteral("只导出当前筛选的提醒吗？"));
    const QString path =
        AskSaveFileName(owner, IcsFilter, QStringLiteral("导出提醒到日历文件"),
                        QStringLiteral("Quillet提醒 %1.ics")
                            .arg(Clock::Today().toString(QStringLiteral("yyyy-MM-dd"))));
    if (path.isEmpty())
        return;
    TExchangeResult result;
    RunWithProgress(owner, QStringLiteral("正在导出提醒…"), [&](TProgress& progress) {
        result = ExportIcs(path, filtered ? filter : 0, &progress);
    });
    ShowInfo(result.Text);
}

void ImportHolidaysCommand(QWidget* owner, TRemindersPage* reminders) {
    const QString path =
        AskOpenFileName(owner, IcsFilter, QStringLiteral("导入节假日安排（放假安排日历文件）"));
    if (path.isEmpty())
        return;
    const QString said = ImportHolidays(path);
    reminders->rgAlamClick(); // what rings, and the list's notes, may change with it
    Q_EMIT reminders->HolidaysChanged();
    ShowInfo(said);
}

void ImportIcsCommand(QWidget* owner, TRemindersPage* reminders) {
    const QString path = AskOpenFileName(owner, IcsFilter, QStringLiteral("从日历文件导入提醒"));
    if (path.isEmpty())
        return;
    TImportSummary summary;
    RunWithProgress(owner, QStringLiteral("正在导入提醒…"),
                    [&](TProgress& progress) { summary = ImportIcs(path, &progress); });
    reminders->rgAlamClick();
    ShowInfo(summary.Text());
}

void ExportNotesCommand(QWidget* owner) {
    const QString dir = AskFolderName(owner, true, QStringLiteral("导出笔记到文件夹"));
    if (dir.isEmpty())
        return;
    TNoteFolderResult result;
    RunWithProgress(owner, QStringLiteral("正在导出笔记…"), [&](TProgress& progress) {
        result = ExportNotes(dir, NativeLineBreak(), &progress);
    });
    ShowInfo(result.Text);
}

void ImportNotesCommand(QWidget* owner, TNotepadPage* notepad) {
    if (!notepad->NoteTree() || !notepad->NoteTree()->Selected())
        return;
    const int group = notepad->NoteTree()->SelectedIndex();
    const QString dir = AskFolderName(owner, false, QStringLiteral("从文件夹导入笔记"));
    // The dialog's loop may have rebuilt the tree or deleted the group.
    if (dir.isEmpty() || !notepad->NoteTree() || !notepad->NoteTree()->NodeOfIndex(group))
        return;
    TNoteFolderResult result;
    RunWithProgress(owner, QStringLiteral("正在导入笔记…"),
                    [&](TProgress& progress) { result = ImportNotes(dir, group, &progress); });
    // The progress window's loop may have rebuilt the tree meanwhile too.
    notepad->ReloadNotepad();
    // What came in is shown, opened out, and the box says under which group.
    TCardTree* tree = notepad->NoteTree();
    QTreeWidgetItem* shown =
        tree ? tree->NodeOfIndex(result.FirstGroup ? result.FirstGroup : group) : nullptr;
    if (shown) {
        for (QTreeWidgetItem* up = shown->parent(); up; up = up->parent())
            up->setExpanded(true);
        shown->treeWidget()->setCurrentItem(shown);
        shown->treeWidget()->scrollToItem(shown);
    }
    QTreeWidgetItem* under = tree ? tree->NodeOfIndex(group) : nullptr;
    ShowInfo(under && (result.Groups > 0 || result.Notes > 0)
                 ? QStringLiteral("已导入到“%1”下：").arg(under->text(0)) + result.Text
                 : result.Text);
}
